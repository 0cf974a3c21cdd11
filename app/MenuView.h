// MenuView — the document list, the app's main screen and the root of its
// navigation.
//
// It draws its MenuViewModel (the stored documents as FileCell rows, or the
// empty state, and the "Import .CSV" button), turns taps into changes of the
// view model, and shows what the view model's flags ask for: the new-file
// alert, the document picker (as a sheet it presents), and the editor of the
// selected document and the settings screen (pushed, each built only when
// followed). Every time the screen has appeared it hands the view model the
// popup coordinator and runs its onAppear.
//
// Actions: "bar.left.0" (settings), "bar.right.0" ("plus"), "row.<i>" (a tap
// on row i), "delete" (value: an offset or an array of offsets),
// "import", "newFile.title" (value: the typed text), "newFile.ok",
// "errorAlert.ok".
#pragma once

#include <functional>
#include <memory>

#include "app/DocPicker.h"
#include "app/MenuViewModel.h"
#include "app/PopupCoordinator.h"
#include "platform/ui/ViewController.h"

namespace tabulo {

class MenuView : public platform::ViewController {
 public:
  // The screens the list leads to.
  struct Destinations {
    // The editor of a document.
    std::function<std::shared_ptr<platform::ViewController>(const SpreadsheetFile&,
                                                            std::shared_ptr<platform::UIEnvironment>)>
        editor;
    // The settings screen over the app's flags (it reads SEND_USAGE_DATA when made).
    std::function<std::shared_ptr<platform::ViewController>(std::shared_ptr<UserDefaults>,
                                                            std::shared_ptr<platform::UIEnvironment>)>
        settings;

    // SheetEditorView over the shared store and outputs, and SettingsView.
    static Destinations standard();
  };

  MenuView(std::shared_ptr<platform::UIEnvironment> environment, std::shared_ptr<PopupCoordinator> popupCoordinator,
           std::shared_ptr<MenuViewModel> viewModel, Destinations destinations = Destinations::standard());
  std::string className() const override { return "MenuView"; }

  const std::shared_ptr<MenuViewModel>& viewModel() const { return viewModel_; }
  bool isAlertButtonActive() const { return isAlertButtonActive_; }
  // The document picker while it is shown.
  std::shared_ptr<platform::DocumentPickerViewController> presentedDocPicker() const;

  platform::ViewNode snapshot() const override;
  bool performAction(const std::string& name, const platform::Object& value = {}) override;

 protected:
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

 private:
  void update();
  void pushDestination(std::shared_ptr<platform::ViewController> destination);

  std::shared_ptr<PopupCoordinator> popupCoordinator_;
  std::shared_ptr<MenuViewModel> viewModel_;
  Destinations destinations_;
  bool isAlertButtonActive_ = false;
  std::string lastNewFileName_;
  bool editorShown_ = false;
  std::shared_ptr<DocPicker::Coordinator> pickerCoordinator_;
  std::weak_ptr<platform::DocumentPickerViewController> picker_;
};

}  // namespace tabulo
