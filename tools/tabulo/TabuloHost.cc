#include "tools/tabulo/TabuloHost.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLSqliteStore.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "app/AppAnalytics.h"
#include "app/AppFileOpener.h"
#include "app/TabuloApp.h"
#include "app/analytics/CVNAppAnalytics.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/appdelegate/LaunchOptions.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/env/Shutdown.h"
#include "platform/filesystem/FileSystem.h"
#include "platform/net/HVUNetwork.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/ui/web/WebHost.h"
#include "platform/ui/web/WebPresenter.h"
#include "platform/ui/web/WebURLOpener.h"

using namespace platform;

namespace tabulo_host {

// The app's side of the app-delegate proxy: an opened URL goes to the app's
// open-URL action.
class HostAppDelegate : public ApplicationDelegate {
 public:
  explicit HostAppDelegate(tabulo::TabuloApp& app) : app_(app) {}
  bool openURL(const std::string& url, const Dictionary&) override {
    app_.openURL(url);
    return true;
  }

 private:
  tabulo::TabuloApp& app_;
};

namespace {

// A flag one thread raises and another waits for, within a bound.
class Signal {
 public:
  void raise() {
    std::lock_guard<std::mutex> lock(mutex_);
    raised_ = true;
    condition_.notify_all();
  }
  bool waitFor(double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return condition_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool raised_ = false;
};

void complain(const std::string& message) {
  std::fprintf(stderr, "tabulo: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace

bool shutDownAnalytics(double waitSeconds) {
  if (!GWLMeasurement::hasSharedInstance()) return true;
  auto engine = std::dynamic_pointer_cast<GWLMeasurement>(GWLMeasurement::sharedInstance());
  if (!engine) return true;
  auto worker = engine->scheduler()->workerQueue();

  // 1. The calls made before: through the hold queue and GWLAnalyticsQueue
  //    (each in order) to the worker queue, where the engine does their work.
  auto drained = std::make_shared<Signal>();
  CVNAnalytics::queueOperationWithBlock([worker, drained] { worker->async([drained] { drained->raise(); }); });
  bool finished = drained->waitFor(waitSeconds);

  // 2. On the worker queue: no further upload is started, the requests in
  //    flight are cancelled (their completions, which keep the bundles of a
  //    cut-off upload queued, are posted behind this block), and then the
  //    database is closed, once those completions have run.
  auto closed = std::make_shared<Signal>();
  std::weak_ptr<GWLMeasurement> weak = engine;
  worker->async([weak, worker, closed] {
    auto engine = weak.lock();
    if (!engine) return closed->raise();
    engine->alarm()->cancel();
    if (auto network = engine->network()) network->cancelAllRequests();
    worker->async([weak, closed] {
      if (auto engine = weak.lock()) {
        if (auto database = engine->database()) database->sqliteStore()->closeDatabase();
      }
      closed->raise();
    });
  });
  finished = closed->waitFor(waitSeconds) && finished;
  if (!finished) complain("the analytics library did not finish its work in time; it is left as it is");
  return finished;
}

TabuloHost::TabuloHost(Configuration configuration) : configuration_(std::move(configuration)) {}

TabuloHost::~TabuloHost() {
  if (web_) web_->stop();
}

std::optional<int> TabuloHost::open() {
  const auto& arguments = configuration_.arguments;
  std::vector<std::string> options(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
  std::string message;
  auto parsed = parseHostOptions(options, &message);
  if (!parsed) {
    complain(message);
    return 2;
  }
  options_ = *parsed;

  Error error;
  auto dataDirectory = Paths::dataDirectoryFrom(options, configuration_.environment, &error);
  if (!dataDirectory) {
    complain(error.description);
    return 2;
  }
  auto paths = Paths::open(*dataDirectory, &error);
  if (!paths) {
    complain(error.description);
    return 1;
  }
  Paths::setCurrent(paths);

  AppEnvironment::Configuration environment;
  environment.infoDictionaryPath = configuration_.infoDictionaryPath;
  environment.arguments = arguments;
  environment.environment = configuration_.environment;
  auto app = AppEnvironment::create(environment, &error);
  if (!app) {
    complain("cannot read the Info dictionary: " + error.toString());
    return 1;
  }
  // The library's public class is linked into this process; the library
  // looks for it by name (the entry class starts only for it).
  app->registerComponent(kGWLPublicClassName);
  AppEnvironment::setShared(app);

  PreferencesStore::Configuration preferences;
  preferences.directory = paths->preferencesDirectory();
  preferences.applicationDomain = app->bundleIdentifier();
  PreferencesStore::configure(preferences);
  auto defaults = PreferencesStore::standard();

  mainQueue_ = MainQueue::shared();
  center_ = NotificationCenter::defaultCenter();
  shutdown_ = Shutdown::install(mainQueue_, center_, &error);
  if (!shutdown_) {
    complain(error.toString());
    return 1;
  }
  // Runs during the will-terminate post, before the preferences are written.
  terminateObserver_ = center_->addObserver(kApplicationWillTerminateNotification, nullptr,
                                            [](const Notification&) { (void)shutDownAnalytics(); });

  std::printf("Tabulo %s (%s)\n", app->version().c_str(), app->bundleIdentifier().c_str());
  std::printf("Data directory: %s\n", paths->dataDirectory().c_str());
  std::printf("Preferences: %s\n", defaults->filePath().c_str());
  std::printf("Documents: %s\n", paths->documentsDirectory().c_str());
  std::printf("Analytics services: %s\n",
              options_.collectionService ? options_.collectionService->url().c_str() : "built-in");
  if (defaults->loadFailed()) {
    std::printf("The preferences file could not be read (%s); it is kept as it is, and nothing is written to it "
                "until it is set aside from the document list (Start Over).\n",
                defaults->loadError() ? defaults->loadError()->description.c_str() : "unreadable");
  }
  std::fflush(stdout);
  return std::nullopt;
}

// Runs `block` on the main queue once the analytics library has done the
// start-up work asked of it so far, without waiting for it: the block takes
// the library's own way, GWLAnalyticsQueue (where the start creates the
// engine and from where the app-delegate proxy is put in place, on the main
// queue), then the engine's worker queue (where the engine starts its
// components), and comes back to the main queue behind what those posted.
void TabuloHost::afterLibraryStart(std::function<void()> block) {
  auto mainQueue = mainQueue_;
  CVNAnalytics::dispatchAsyncOnSerialQueue([mainQueue, block = std::move(block)]() mutable {
    auto engine = GWLMeasurement::hasSharedInstance()
                      ? std::dynamic_pointer_cast<GWLMeasurement>(GWLMeasurement::sharedInstance())
                      : nullptr;
    if (!engine) return mainQueue->async(std::move(block));
    engine->scheduler()->workerQueue()->async(
        [mainQueue, block = std::move(block)]() mutable { mainQueue->async(std::move(block)); });
  });
}

int TabuloHost::run(std::function<void(TabuloHost&)> afterLaunch) {
  mainQueue_->async([this, afterLaunch = std::move(afterLaunch)]() mutable {
    if (!launch()) {
      exitStatus_ = 1;
      shutdown_->terminate();
      return;
    }
    afterLibraryStart([this, afterLaunch = std::move(afterLaunch)] {
      becomeActive();
      if (afterLaunch) afterLaunch(*this);
      if (options_.once) shutdown_->terminate();
    });
  });
  mainQueue_->run();
  if (web_) web_->stop();
  if (exitStatus_ != 0) return exitStatus_;
  return shutdown_->preferencesWritten() ? 0 : 1;
}

bool TabuloHost::launch() {
  // 1. Where the library's services are, before the core framework starts it.
  if (options_.collectionService) {
    const auto& service = *options_.collectionService;
    GWLServiceHosts hosts = GWLServiceHosts::local(service.scheme, service.host, 0);
    for (GWLServiceEndpoint* endpoint : {&hosts.upload, &hosts.authorizedUpload, &hosts.config, &hosts.adConversion,
                                         &hosts.groupIdentifier, &hosts.onDeviceMeasurement, &hosts.searchAds,
                                         &hosts.experiments}) {
      endpoint->port = service.port;
    }
    GWLMeasurement::setProcessServiceHosts(hosts);
  }
  tabulo::AppAnalytics::setShared(std::make_shared<tabulo::CVNAppAnalytics>());

  // 2. The app, drawn by the browser page: presentations go to the page.
  auto ui = UIEnvironment::makeHeadless();
  ui.environment->presenter = std::make_shared<WebPresenter>();
  urlOpener_ = std::make_shared<WebURLOpener>();
  ui.environment->urlOpener = urlOpener_;
  ui_ = ui.environment;
  app_ = std::make_unique<tabulo::TabuloApp>(tabulo::TabuloApp::Configuration::standard(ui_));
  window_ = app_->launch();
  appDelegate_ = std::make_shared<HostAppDelegate>(*app_);
  HVUAppDelegateSwizzler::sharedInstance()->setAppDelegate(appDelegate_);

  // 3 (the activation and 4 follow once the library has started).
  postDidFinishLaunching();

  const auto& model = app_->menuView()->viewModel();
  std::printf("Documents in the list: %zu\n", model->tabulo.size());
  if (model->alert) complain(model->alert->title + ": " + model->alert->message);
  std::fflush(stdout);

  // 5. The page, whose visibility is the app's foreground.
  pageCenter_ = NotificationCenter::create();
  pageShownObserver_ = pageCenter_->addObserver(kApplicationDidBecomeActiveNotification, nullptr,
                                                [this](const Notification&) { setPageVisible(true); });
  pageHiddenObserver_ = pageCenter_->addObserver(kApplicationWillResignActiveNotification, nullptr,
                                                 [this](const Notification&) { setPageVisible(false); });
  if (configuration_.webPageDirectory.empty()) return true;
  auto paths = Paths::current();
  WebHost::Configuration web;
  web.mainQueue = mainQueue_;
  web.notificationCenter = pageCenter_;
  web.urlOpener = urlOpener_;
  web.rootController = [window = window_] { return window ? window->rootViewController() : nullptr; };
  web.pageDirectory = configuration_.webPageDirectory;
  web.photosDirectory = FileSystem::shared()->outputsURL();
  web.inboxDirectory = std::filesystem::path(paths->temporaryDirectory()) / "Inbox";
  web_ = std::make_unique<WebHost>(web);
  Error error;
  if (!web_->start(&error)) {
    complain(error.description);
    return false;
  }
  std::printf("Open Tabulo at %s\n", web_->address().c_str());
  std::fflush(stdout);
  return true;
}

std::optional<std::string> TabuloHost::fileArgumentURL() const {
  if (!options_.fileArgument) return std::nullopt;
  std::error_code failed;
  std::filesystem::path file = std::filesystem::absolute(*options_.fileArgument, failed);
  if (failed) file = *options_.fileArgument;
  return tabulo::AppFileOpener::fileURLFromPath(file);
}

void TabuloHost::postDidFinishLaunching() {
  Dictionary launchOptions;
  if (auto url = fileArgumentURL()) launchOptions[kLaunchOptionsURLKey] = *url;
  center_->post(kApplicationDidFinishLaunchingNotification, launchOptions);
}

// The platform makes the app active once launching is over. Here the host
// does it once the library has started its components, so that the opened
// file below goes through the app-delegate proxy the start put in place.
void TabuloHost::becomeActive() {
  inForeground_ = true;
  center_->post(kApplicationDidBecomeActiveNotification);
  // The file named on the command line, opened through the proxy (in place
  // by now), so the library's interceptor sees it as the app does.
  if (auto url = fileArgumentURL()) (void)HVUAppDelegateSwizzler::sharedInstance()->openURL(*url);
}

void TabuloHost::setPageVisible(bool visible) {
  if (visible == inForeground_) return;
  inForeground_ = visible;
  if (visible) {
    center_->post(kApplicationWillEnterForegroundNotification);
    center_->post(kApplicationDidBecomeActiveNotification);
  } else {
    center_->post(kApplicationWillResignActiveNotification);
    center_->post(kApplicationDidEnterBackgroundNotification);
  }
}

void TabuloHost::terminate() {
  if (shutdown_) shutdown_->terminate();
}

}  // namespace tabulo_host
