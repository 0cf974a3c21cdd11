// GWLScreenViewReporter — knows which screen the user is looking at.
//
// It keeps the current screen (the screen of the current view controller, of
// the app's last manual screen or of the app's last "screen_view" event) and
// the previous one (the screen of the last screen-view event logged), logs the
// screen-view event "_vs" whenever the screen changes, hands every other event
// the current screen's "_si", "_sc" and "_sn", tells the session reporter and
// the ad exposure reporter about activation, resign and screen changes, and
// answers whether the app is active.
//
// It follows the app's view controllers through their appearance: each one
// that appears in the key window joins the window's stack (kept in the
// window's slot, weakly), and the visible controller of that stack becomes
// current. The hooks are connected once per process by the library's load
// call (installViewControllerHooks).
//
// Threads: the current and previous screen, the current view controller and
// the screens the controllers keep live on the reporter's serial queue
// "GWLScreenViewReporter" and are touched only there; the view-controller
// calls, the window stacks, the visible-controller search and the manual
// calls run on the main thread and wait for the queue; the screen views of
// the app's own events are logged on the queue asynchronously. Blocks posted to the queue hold the reporter
// weakly. The instance-ID counter is atomic: it is advanced on the queue and
// on the callers' threads alike.
#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/foundation/values/GWLScreen.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/foundation/values/GWLValueLimits.h"
#include "analytics/measurement/GWLScreenViewReporting.h"
#include "platform/core/Object.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/ui/Application.h"
#include "platform/ui/Signal.h"
#include "platform/util/Mutex.h"
class GWLAdReportingHooks;
class GWLMonitor;
class GWLSessionReporting;

inline constexpr const char* kGWLScreenViewReporterQueueLabel = "GWLScreenViewReporter";
inline constexpr const char* kGWLScreenViewInternalEventName = "_vs";
inline constexpr const char* kGWLScreenNameEventParameter = "screen_name";
inline constexpr const char* kGWLScreenClassEventParameter = "screen_class";
inline constexpr const char* kGWLEngagementTimeParameter = "_et";
inline constexpr const char* kGWLManualScreenTrackingParameter = "_mst";
inline constexpr const char* kGWLPreviousScreenInstanceIDParameter = "_pi";
inline constexpr const char* kGWLPreviousScreenClassParameter = "_pc";
inline constexpr const char* kGWLPreviousScreenNameParameter = "_pn";

// A class name without everything up to its last "."; a name without a dot,
// or whose only dot is its last character, stays whole.
std::string GWLStrippedClassName(std::string_view className);

// "_pi", then "_pc" for a valid class and "_pn" for a valid name; reports nothing.
GWLParameters GWLPreviousScreenParameters(const GWLScreen& screen, const GWLValueLimits& limits);

// Whether screens are reported automatically: a number or boolean in the Info
// dictionary under "CorvaneScreenReportingEnabled", or when that key is absent
// under "CorvaneAutomaticScreenReportingEnabled"; anything else (also
// absence) means yes. `infoValue` answers one Info dictionary value.
using GWLInfoValueLookup = std::function<std::optional<platform::Object>(const std::string& key)>;
bool GWLIsScreenReportingEnabled(const GWLInfoValueLookup& infoValue);
// The same, read from the shared app environment at every call.
bool GWLIsScreenReportingEnabled();

// The key window's stack of view controllers, attached to the window when it
// has none; null without a key window. Main thread.
std::shared_ptr<platform::WeakViewControllerArray> GWLKeyWindowStack(const platform::Application& application);
// Drops the entries of view controllers that no longer exist.
void GWLCompactStack(platform::WeakViewControllerArray& stack);

// Whether a view controller's screens are tracked: not when its class is the
// platform's and its stripped name, or its superclass's, begins with "_";
// otherwise when its view is loaded and lies in the key window. Main thread.
bool GWLShouldTrackViewController(const platform::ViewController& viewController,
                                  const platform::Application& application);

// The screen a view controller keeps, or null.
using GWLScreenLookup = std::function<std::shared_ptr<const GWLScreen>(const platform::ViewController&)>;
// The view controller a stack shows (null `stack`: an empty one): from the top
// down, the first shown one with a manually set screen; else the first shown
// one with a screen or whose descent (navigation, tab bar, page and presented
// controllers) ends at a shown one; else the bottom entry (the stack is
// compacted). An empty stack answers null and reports 31011. Main thread.
std::shared_ptr<platform::ViewController> GWLVisibleViewController(platform::WeakViewControllerArray* stack,
                                                                   const GWLScreenLookup& screenOf,
                                                                   GWLMonitor& monitor);

// Learns about view controllers appearing and disappearing (a performance library).
class GWLScreenViewReporterDelegate {
 public:
  virtual ~GWLScreenViewReporterDelegate() = default;
  virtual void viewControllerDidAppear(const platform::ViewController& viewController, bool trackedByAnalytics) = 0;
  virtual void viewControllerDidDisappear(const platform::ViewController& viewController) = 0;
};

class GWLScreenViewReporter : public GWLScreenViewReporting,
                              public std::enable_shared_from_this<GWLScreenViewReporter> {
 public:
  // What the reporter reads of the engine at each use.
  struct EngineState {
    bool exists = false;
    bool enabled = false;
    bool didInitializeComponents = false;
    bool efficientEngagementReportingEnabled = false;
    std::shared_ptr<GWLSessionReporting> sessionReporter;
    GWLValueLimits limits;
  };
  // Logs an internal event through the entry class: with a time (seconds since
  // 1970) for origin "app", without one (the present time) otherwise.
  using InternalEventLogger = std::function<void(const std::string& origin, const std::string& name,
                                                 std::optional<double> timestamp, const GWLRawParameters& parameters)>;

  struct Dependencies {
    std::shared_ptr<GWLMonitor> monitor;                      // GWLLibraryMonitor::monitor()
    std::shared_ptr<platform::NotificationCenter> notifications;  // the default center
    std::function<bool()> isScreenReportingEnabled;           // GWLIsScreenReportingEnabled()
    std::function<bool()> isMainThread;                       // MainQueue::isMainThread
    std::function<EngineState()> engine;                      // the shared engine
    InternalEventLogger logInternalEvent;                     // GWLAnalytics::sharedInstance()
    std::function<std::shared_ptr<GWLAdReportingHooks>()> adHooks;  // the installed ad reporters
    std::function<std::shared_ptr<platform::Application>()> application;  // Application::shared()
    // The stripped class name of the key window's root view controller, read
    // on the main thread (default: read from `application`).
    std::function<std::optional<std::string>()> keyWindowRootClassName;
    std::function<int64_t()> randomInt64;                     // GWLNumericUtil::randomInt64
  };

  // Observes the application's notifications on the given center.
  static std::shared_ptr<GWLScreenViewReporter> create(Dependencies dependencies = {});
  // The process's reporter; made on first use.
  static std::shared_ptr<GWLScreenViewReporter> sharedInstance();
  // Makes GWLIsAppActive answer the shared reporter's flag (the library's load call).
  static void installAppActiveProvider();
  // The library's load call: hooks the view controllers' appearance for the
  // shared reporter (made on the first appearance), once per process, unless
  // automatic reporting is off (36001) or an older version of the library is
  // present (36005); both are told through the system log. Main thread.
  static void installViewControllerHooks();
  // The hooks themselves: after a controller's own didAppear/didDisappear
  // handling, the reporter that `target` answers hears of it. Answers the
  // connection; empty when the conditions above refused. Main thread.
  [[nodiscard]] static platform::Connection hookViewControllers(
      std::function<std::shared_ptr<GWLScreenViewReporter>()> target, bool screenReportingEnabled,
      bool olderLibraryPresent);
  ~GWLScreenViewReporter() override;

  bool isAppActive() const { return isAppActive_.load(); }

  // ---- GWLScreenViewReporting ----
  void trackScreenWithParameters(const GWLRawParameters& parameters, double timestamp) override;
  GWLParameters screenParameters() override;
  void setScreenName(const std::optional<std::string>& screenName,
                     const std::optional<std::string>& screenClass) override;

  // Copies of the current screen's name and class (either may be null).
  void getScreenName(std::optional<std::string>* screenName, std::optional<std::string>* screenClass);

  // Makes the controller's screen current (main thread).
  void setCurrentViewController(const std::shared_ptr<platform::ViewController>& viewController);

  // A view controller appeared or disappeared (the hooks; main thread).
  void viewControllerDidAppear(const std::shared_ptr<platform::ViewController>& viewController);
  void viewControllerDidDisappear(const std::shared_ptr<platform::ViewController>& viewController);

  // A non-null delegate while one is set is refused (31016).
  void setCorvanePerfDelegate(const std::shared_ptr<GWLScreenViewReporterDelegate>& delegate);
  std::shared_ptr<GWLScreenViewReporterDelegate> corvanePerfDelegate() const;

  // The application's and the windows' notifications.
  void handleWindowDidResign();
  void handleApplicationDidBecomeActive();
  void handleApplicationWillResignActive();
  void handleApplicationDidEnterBackground();

  // The next screen instance ID.
  int64_t incrementScreenInstanceID() { return currentScreenInstanceID_.fetch_add(1) + 1; }

  // The current screen, read on the queue (tests and the session reporter's resign call).
  std::shared_ptr<const GWLScreen> currentScreen();

 private:
  explicit GWLScreenViewReporter(Dependencies dependencies);
  void observeNotifications();

  bool screenReportingEnabled() const { return dependencies_.isScreenReportingEnabled(); }
  // Main thread: the screens the live controllers keep, read in one wait for the queue.
  GWLScreenLookup controllerScreensSnapshot();
  // Main thread: the visible controller of `stack` becomes current when it is tracked.
  void makeVisibleViewControllerCurrent(platform::WeakViewControllerArray* stack);
  bool cannotLog() const { return !isAppActive_.load() && appHasBeenInitialized_.load(); }
  // On the queue.
  void postScreenDidChange(const std::shared_ptr<const GWLScreen>& previous,
                           const std::shared_ptr<const GWLScreen>& next);
  void logViewScreenEvent(const std::shared_ptr<const GWLScreen>& previous, const std::shared_ptr<const GWLScreen>& next,
                          const GWLParameters& extra);

  Dependencies dependencies_;
  std::shared_ptr<platform::SerialQueue> queue_;
  std::vector<platform::ObserverToken> observers_;
  std::atomic<bool> isAppActive_{false};
  std::atomic<bool> appHasBeenInitialized_{false};
  std::atomic<int64_t> currentScreenInstanceID_;

  // Queue-only state.
  std::weak_ptr<platform::ViewController> currentViewController_;
  std::shared_ptr<const GWLScreen> currentScreen_;
  std::shared_ptr<const GWLScreen> previousScreen_;
  // The screen each view controller keeps while it exists.
  std::map<std::weak_ptr<platform::ViewController>, std::shared_ptr<const GWLScreen>,
           std::owner_less<std::weak_ptr<platform::ViewController>>>
      controllerScreens_;

  mutable platform::Mutex delegateMutex_;
  std::weak_ptr<GWLScreenViewReporterDelegate> delegate_ ABSL_GUARDED_BY(delegateMutex_);
};
