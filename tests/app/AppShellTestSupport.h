// A small app for scenario tests: the store and flags in memory, a headless UI
// (recording presenter, haptics and URL opener), its own window list, the
// analytics double, captured console lines and recorded store-review requests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/AppConsole.h"
#include "app/AppFileOpener.h"
#include "app/CustomHost.h"
#include "app/SheetEditorView.h"
#include "app/TabuloApp.h"
#include "app/UserSettings.h"
#include "platform/ui/StoreReviewController.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingAppAnalytics.h"

namespace tabulo::testing {

class AppShellTest : public ::testing::Test {
 protected:
  AppShellTest() {
    AppFileOpener::reset();
    platform::StoreReviewController::setHandler([this](const platform::WindowScene&) { ++storeReviewRequests; });
    fileSystem->createDirectoriesIfNeeded();
  }
  ~AppShellTest() override {
    AppFileOpener::reset();
    platform::StoreReviewController::setHandler(nullptr);
  }

  // The flags of a launch after the first one.
  void setIntroShown() { defaults->setBool(true, UserSettings::didShowIntroKey); }

  AppServices services() {
    return AppServices::make(store, defaults, io, counter, ui.environment, application);
  }

  // Builds the app with a fresh process-wide counter (a new process) and launches it.
  TabuloApp& launch(platform::UserInterfaceIdiom idiom = platform::UserInterfaceIdiom::phone) {
    ui.environment->idiom = idiom;
    counter = std::make_shared<RelevantActionCounter>();
    application->removeAllWindows();
    TabuloApp::Configuration configuration;
    configuration.environment = ui.environment;
    configuration.application = application;
    configuration.services = services();
    configuration.delegateDependencies = {fileSystem, &keyboardManager, &keyboardToolbarManager};
    configuration.destinations.editor = [this](const SpreadsheetFile& file,
                                               std::shared_ptr<platform::UIEnvironment> environment) {
      openedInEditor.push_back(file);
      if (realEditor) {
        SheetEditorViewController::Collaborators collaborators{store, std::make_shared<TabuloIO>(fileSystem, clock),
                                                               fileSystem, std::make_shared<ImageFetcher>()};
        return std::static_pointer_cast<platform::ViewController>(
            SheetEditorView{file}.makeHost(environment, collaborators));
      }
      return std::make_shared<platform::ViewController>(std::move(environment));
    };
    configuration.destinations.settings = [this](std::shared_ptr<UserDefaults> flags,
                                                 std::shared_ptr<platform::UIEnvironment> environment) {
      settingsOpenedWith.push_back(flags->boolForKey(UserSettings::sendUsageDataKey));
      return std::make_shared<platform::ViewController>(std::move(environment));
    };
    app = std::make_unique<TabuloApp>(std::move(configuration));
    app->launch();
    return *app;
  }

  MenuViewModel& model() { return *app->menuView()->viewModel(); }
  MenuView& menu() { return *app->menuView(); }
  std::shared_ptr<platform::ViewController> root() { return app->navigation(); }
  // The popup host presented over the window, if any.
  std::shared_ptr<CustomHost> presentedPopup() {
    return std::dynamic_pointer_cast<CustomHost>(root()->presentedViewController());
  }

  // The back button of the navigation bar.
  void goBack() { app->navigation()->popViewController(true); }

  std::vector<std::string> titles() {
    std::vector<std::string> result;
    for (const auto& file : model().tabulo) result.push_back(file.title);
    return result;
  }
  std::vector<std::string> storedTitles() {
    std::vector<std::string> result;
    for (const auto& file : store->loadFiles()) result.push_back(file.title);
    return result;
  }

  std::filesystem::path writeCSV(const std::string& name, const std::string& text) {
    std::filesystem::path path = directory.path() / name;
    writeFile(path, text);
    return path;
  }

  TemporaryDirectory directory;
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<MemoryUserDefaults> defaults = [] {
    auto made = std::make_shared<MemoryUserDefaults>();
    UserSettings settings(made);  // registers SEND_USAGE_DATA = true
    return made;
  }();
  std::shared_ptr<SpreadsheetPersistance> store = std::make_shared<SpreadsheetPersistance>(defaults, clock);
  std::shared_ptr<platform::FileSystem> fileSystem =
      std::make_shared<platform::FileSystem>(directory.path() / "Documents" / "Outputs");
  std::shared_ptr<const TabuloIO> io = std::make_shared<TabuloIO>(fileSystem, clock);
  std::shared_ptr<RelevantActionCounter> counter = std::make_shared<RelevantActionCounter>();
  platform::UIEnvironment::Headless ui = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<platform::Application> application = std::make_shared<platform::Application>();
  platform::IQKeyboardManager keyboardManager;
  platform::IQKeyboardToolbarManager keyboardToolbarManager;
  ScopedRecordingAnalytics analytics;
  ScopedConsoleCapture console;
  int storeReviewRequests = 0;
  // Whether rows open the real sheet editor (else a bare screen).
  bool realEditor = false;
  std::vector<SpreadsheetFile> openedInEditor;
  std::vector<bool> settingsOpenedWith;
  std::unique_ptr<TabuloApp> app;
};

}  // namespace tabulo::testing
