// SettingsView — the settings screen: a grouped list titled "Settings" with
// the usage-data row (PrivacyCell) in its first section and the "More apps"
// link (SettingsLinkCell) in its second. Each time it appears it shows the
// stored usage-data flag again. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "app/PrivacyCell.h"
#include "app/SettingsLinkCell.h"
#include "app/SettingsViewModel.h"
#include "platform/ui/ViewController.h"

namespace tabulo {

inline constexpr const char* kSettingsTitle = "Settings";
inline constexpr const char* kMoreAppsTitle = "More apps";

class SettingsView : public platform::ViewController {
 public:
  // Action names a renderer sends: the switch (with its new boolean), "See
  // more", and the "More apps" row.
  static constexpr const char* usageDataAction = PrivacyCell::switchAction;
  static constexpr const char* seeMoreAction = PrivacyCell::seeMoreAction;
  static constexpr const char* moreAppsAction = "settings.moreApps";

  SettingsView(std::shared_ptr<platform::UIEnvironment> environment, std::shared_ptr<SettingsViewModel> viewModel);
  std::string className() const override { return "SettingsView"; }

  const std::shared_ptr<SettingsViewModel>& viewModel() const { return viewModel_; }
  const PrivacyCell& privacyCell() const { return privacyCell_; }
  const SettingsLinkCell& moreAppsCell() const { return moreAppsCell_; }

  platform::ViewNode snapshot() const override;

 protected:
  void viewWillAppear(bool animated) override;

 private:
  std::shared_ptr<SettingsViewModel> viewModel_;
  PrivacyCell privacyCell_;
  SettingsLinkCell moreAppsCell_;
  platform::Connection modelChanged_;
};

}  // namespace tabulo
