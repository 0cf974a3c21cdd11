// TabuloHost — the app's host process: the composition root that main()
// runs and that the end-to-end tests run in a process of their own.
//
// `open` reads the command line (TabuloHostOptions.h), opens the data
// directory (refusing one that another Tabulo process holds), makes the app
// environment from the Info dictionary (the library's service file,
// "HalcyraService-Info.plist", lies beside it), loads the preferences and
// installs the orderly shutdown on SIGINT and SIGTERM. `run` then launches the
// app on the main queue and runs the main loop until shutdown.
//
// The launch, in the platform's order, all on the main queue:
//   1. the analytics library is told where its services are (the
//      --collection-service address, else its built-in hosts) and the app's
//      AppAnalytics becomes the implementation over the library's public
//      interface;
//   2. the app launches (TabuloApp): its delegate configures the core
//      framework, which starts the library; its window becomes the key window;
//   3. did-finish-launching is posted, its launch options holding the URL of
//      the file named on the command line;
//   4. the browser page is served (unless no page directory is configured);
//   5. once the library has started (without waiting for it on the main
//      queue), did-become-active is posted and the file is opened through
//      the app-delegate proxy (the utilities framework's swizzler), so the
//      library's interceptor sees it as the app does.
// The page's visibility is the app's foreground: hidden, the host posts
// will-resign-active then did-enter-background; shown again,
// will-enter-foreground then did-become-active.
//
// At shutdown (the will-terminate notification, before the preferences are
// written) the library's queues finish the calls made before it, requests
// still in flight are cancelled (an upload that was cut off leaves its
// bundles queued for the next run) and the measurement database is closed.
// Each wait is bounded, so a library that hangs cannot hold the exit.
//
// One host per process (the library and the core framework are per process).
// Main thread: `open` and `run` on the thread that runs main(); the other
// methods on the main queue.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/NotificationCenter.h"
#include "tools/tabulo/TabuloHostOptions.h"

namespace platform {
class MainQueue;
class Shutdown;
class WebHost;
class WebURLOpener;
class Window;
struct UIEnvironment;
}  // namespace platform

namespace tabulo {
class TabuloApp;
}

namespace tabulo_host {

// How long the shutdown waits for each step of the library's.
inline constexpr double kAnalyticsShutdownWaitSeconds = 5;

// Lets the analytics library's queues finish what was asked of them before,
// cancels its requests in flight and closes its measurement database (see
// the header comment). Answers false when a step did not finish within
// `waitSeconds`. Does nothing when the library has no engine.
bool shutDownAnalytics(double waitSeconds = kAnalyticsShutdownWaitSeconds);

class HostAppDelegate;

class TabuloHost {
 public:
  struct Configuration {
    std::vector<std::string> arguments;  // the process arguments, program name first
    std::map<std::string, std::string> environment;
    std::string infoDictionaryPath;
    // Where index.html lies; empty: no page is served (the tests drive the
    // screens themselves).
    std::string webPageDirectory;
  };

  explicit TabuloHost(Configuration configuration);
  ~TabuloHost();
  TabuloHost(const TabuloHost&) = delete;
  TabuloHost& operator=(const TabuloHost&) = delete;

  // Everything before the launch. None when the host may launch; otherwise
  // the exit status (2 for an unusable command line or data directory, 1
  // for any other failure), after a message on standard error.
  [[nodiscard]] std::optional<int> open();

  // Launches the app on the main queue, runs `afterLaunch` there once the
  // app is active (tests), and runs the main loop until shutdown. Answers the
  // exit status: 0 when the preferences were written at shutdown.
  int run(std::function<void(TabuloHost&)> afterLaunch = nullptr);

  // The page was shown or hidden (see the header comment). Main queue.
  void setPageVisible(bool visible);
  // Starts the orderly shutdown, as SIGTERM would.
  void terminate();

  const HostOptions& options() const { return options_; }
  // After launch (main queue).
  tabulo::TabuloApp* app() const { return app_.get(); }

 private:
  bool launch();  // on the main queue; false when the host cannot go on
  void afterLibraryStart(std::function<void()> block);
  std::optional<std::string> fileArgumentURL() const;
  void postDidFinishLaunching();
  void becomeActive();

  Configuration configuration_;
  HostOptions options_;
  std::shared_ptr<platform::MainQueue> mainQueue_;
  std::shared_ptr<platform::NotificationCenter> center_;
  std::shared_ptr<platform::Shutdown> shutdown_;
  platform::ObserverToken terminateObserver_;
  // The page's visibility as the browser host reports it, on a center of
  // its own, turned into the platform's life cycle on the default center.
  std::shared_ptr<platform::NotificationCenter> pageCenter_;
  platform::ObserverToken pageShownObserver_;
  platform::ObserverToken pageHiddenObserver_;
  bool inForeground_ = false;

  std::shared_ptr<platform::UIEnvironment> ui_;
  std::shared_ptr<platform::WebURLOpener> urlOpener_;
  std::unique_ptr<tabulo::TabuloApp> app_;
  std::shared_ptr<platform::Window> window_;
  std::shared_ptr<HostAppDelegate> appDelegate_;
  std::unique_ptr<platform::WebHost> web_;
  int exitStatus_ = 0;
};

}  // namespace tabulo_host
