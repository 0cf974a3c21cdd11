// tabulo — the app's entry point.
//
// Opens the data directory (refusing one that another Tabulo process holds),
// loads the app's preferences, says where the data lives, builds and launches
// the app (TabuloApp), serves its screens to a browser on 127.0.0.1 (the
// address to open is printed) and runs the main loop until SIGINT or SIGTERM; the
// shutdown writes the preferences, the document store among them. A file
// named among the arguments is handed to the app as a "file:" URL, as another
// app would hand it over. `--once` shuts down right after start-up.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "analytics/measurement/GWLLibraryLoad.h"
#include "app/AppFileOpener.h"
#include "app/TabuloApp.h"

#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/env/Shutdown.h"
#include "platform/filesystem/FileSystem.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/ui/web/WebHost.h"
#include "platform/ui/web/WebPresenter.h"
#include "platform/ui/web/WebURLOpener.h"

using namespace platform;

int main(int argc, char** argv) {
  // The analytics library's load step runs before anything else, as class
  // loading would on the device: it notes the installation's load time and
  // installs the attribution and audience layers behind the engine.
  GWLLibraryLoad();
  auto arguments = AppEnvironment::processArguments(argc, argv);
  auto environment = AppEnvironment::processEnvironment();
  std::vector<std::string> options(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
  bool once = false;
  std::optional<std::string> fileArgument;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    if (option == "--once") {
      once = true;
    } else if (option == kDataDirectoryArgument) {
      ++i;  // its value
    } else if (!option.starts_with("-") && !fileArgument) {
      fileArgument = option;
    }
  }

  Error error;
  auto dataDirectory = Paths::dataDirectoryFrom(options, environment, &error);
  if (!dataDirectory) {
    std::fprintf(stderr, "tabulo: %s\n", error.description.c_str());
    return 2;
  }
  auto paths = Paths::open(*dataDirectory, &error);
  if (!paths) {
    std::fprintf(stderr, "tabulo: %s\n", error.description.c_str());
    return 1;
  }
  Paths::setCurrent(paths);

  AppEnvironment::Configuration config;
  config.infoDictionaryPath = TABULO_INFO_PLIST_PATH;
  config.arguments = arguments;
  config.environment = environment;
  auto app = AppEnvironment::create(config, &error);
  if (!app) {
    std::fprintf(stderr, "tabulo: cannot read the Info dictionary: %s\n", error.toString().c_str());
    return 1;
  }
  AppEnvironment::setShared(app);

  PreferencesStore::Configuration preferences;
  preferences.directory = paths->preferencesDirectory();
  preferences.applicationDomain = app->bundleIdentifier();
  PreferencesStore::configure(preferences);
  auto defaults = PreferencesStore::standard();

  auto mainQueue = MainQueue::shared();
  auto shutdown = Shutdown::install(mainQueue, NotificationCenter::defaultCenter(), &error);
  if (!shutdown) {
    std::fprintf(stderr, "tabulo: %s\n", error.toString().c_str());
    return 1;
  }

  std::printf("Tabulo %s (%s)\n", app->version().c_str(), app->bundleIdentifier().c_str());
  std::printf("Data directory: %s\n", paths->dataDirectory().c_str());
  std::printf("Preferences: %s\n", defaults->filePath().c_str());
  std::printf("Documents: %s\n", paths->documentsDirectory().c_str());
  if (defaults->loadFailed()) {
    std::printf("The preferences file could not be read (%s); it is kept as it is, and nothing is written to it "
                "until it is set aside from the document list (Start Over).\n",
                defaults->loadError() ? defaults->loadError()->description.c_str() : "unreadable");
  }
  std::fflush(stdout);

  // The app, drawn by the browser page: presentations go to the page.
  auto ui = UIEnvironment::makeHeadless();
  ui.environment->presenter = std::make_shared<WebPresenter>();
  auto urlOpener = std::make_shared<WebURLOpener>();
  ui.environment->urlOpener = urlOpener;
  tabulo::TabuloApp tabuloApp(tabulo::TabuloApp::Configuration::standard(ui.environment));
  auto window = tabuloApp.launch();
  if (fileArgument) {
    std::error_code failed;
    std::filesystem::path file = std::filesystem::absolute(*fileArgument, failed);
    if (failed) file = *fileArgument;
    tabuloApp.openURL(tabulo::AppFileOpener::fileURLFromPath(file));
  }
  const auto& model = tabuloApp.menuView()->viewModel();
  std::printf("Documents in the list: %zu\n", model->tabulo.size());
  if (model->alert) std::fprintf(stderr, "tabulo: %s: %s\n", model->alert->title.c_str(), model->alert->message.c_str());
  std::fflush(stdout);

  WebHost::Configuration web;
  web.mainQueue = mainQueue;
  web.notificationCenter = NotificationCenter::defaultCenter();
  web.urlOpener = urlOpener;
  web.rootController = [window] { return window ? window->rootViewController() : nullptr; };
  web.pageDirectory = TABULO_WEB_PAGE_DIRECTORY;
  web.photosDirectory = FileSystem::shared()->outputsURL();
  web.inboxDirectory = std::filesystem::path(paths->temporaryDirectory()) / "Inbox";
  WebHost host(web);
  if (!host.start(&error)) {
    std::fprintf(stderr, "tabulo: %s\n", error.description.c_str());
    return 1;
  }
  std::printf("Open Tabulo at %s\n", host.address().c_str());
  std::fflush(stdout);

  if (once) shutdown->terminate();
  mainQueue->run();
  host.stop();
  return shutdown->preferencesWritten() ? 0 : 1;
}
