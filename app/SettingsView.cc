#include "app/SettingsView.h"

namespace tabulo {

namespace {
// The app name the usage-data row speaks of.
constexpr const char* kPrivacyCellAppName = "Tabulo";

// The cells reach the model weakly: they never keep it alive on their own.
PrivacyCell makePrivacyCell(const std::shared_ptr<SettingsViewModel>& viewModel) {
  std::weak_ptr<SettingsViewModel> weak = viewModel;
  PrivacyCell::Binding binding{
      [weak] {
        auto model = weak.lock();
        return model && model->isUsageDataEnabled();
      },
      [weak](bool enabled) {
        if (auto model = weak.lock()) model->setUsageDataEnabled(enabled);
      }};
  return PrivacyCell(
      std::move(binding),
      [weak](bool isOn) {
        if (auto model = weak.lock()) model->usageDataToggled(isOn);
      },
      [weak] {
        if (auto model = weak.lock()) model->openPrivacyPolicy();
      },
      kPrivacyCellAppName);
}

SettingsLinkCell makeMoreAppsCell(const std::shared_ptr<SettingsViewModel>& viewModel) {
  std::weak_ptr<SettingsViewModel> weak = viewModel;
  return SettingsLinkCell(kMoreAppsTitle, [weak] {
    if (auto model = weak.lock()) model->openMoreApps();
  });
}
}  // namespace

SettingsView::SettingsView(std::shared_ptr<platform::UIEnvironment> environment,
                           std::shared_ptr<SettingsViewModel> viewModel)
    : ViewController(std::move(environment)),
      viewModel_(std::move(viewModel)),
      privacyCell_(makePrivacyCell(viewModel_)),
      moreAppsCell_(makeMoreAppsCell(viewModel_)) {
  navigationItem().title = kSettingsTitle;
  registerAction(usageDataAction, [this](const platform::Object& value) {
    // Anything but a boolean (or a number) from the renderer is no switch position.
    if (auto on = value.boolValue()) {
      privacyCell_.switchChanged(*on);
    } else if (auto number = value.numberValue()) {
      privacyCell_.switchChanged(*number != 0);
    }
  });
  registerAction(seeMoreAction, [this](const platform::Object&) { privacyCell_.seeMoreTapped(); });
  registerAction(moreAppsAction, [this](const platform::Object&) { moreAppsCell_.tapped(); });
  if (viewModel_) modelChanged_ = viewModel_->changed().connect([this] { setNeedsSnapshot(); });
}

void SettingsView::viewWillAppear(bool /*animated*/) {
  if (viewModel_) viewModel_->refresh();
}

platform::ViewNode SettingsView::snapshot() const {
  platform::ViewNode screen = screenNode("settings");
  platform::ViewNode& list = screen.add(platform::ViewNode("list", "list"));
  list.text = kSettingsTitle;
  list.properties = {{"listStyle", "grouped"}, {"titleDisplayMode", "inline"}};
  platform::ViewNode& privacy = list.add(platform::ViewNode("section", "privacySection"));
  privacy.add(privacyCell_.node());
  platform::ViewNode& links = list.add(platform::ViewNode("section", "linksSection"));
  links.add(moreAppsCell_.node("moreApps", moreAppsAction));
  return screen;
}

}  // namespace tabulo
