#include "analytics/measurement/GWLScreenViewReporter.h"

#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/foundation/core/GWLNumericUtil.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLEventParameters.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLSessionReporting.h"
#include "platform/core/Log.h"
#include "platform/env/AppEnvironment.h"
#include "platform/text/Utf8.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PageViewController.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/ViewController.h"

namespace {

std::optional<std::string_view> view(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

void putString(GWLParameters& parameters, const char* name, const std::string& value) {
  if (auto string = GWLValue::initWithString(value)) parameters.insert_or_assign(name, *string);
}

bool sameText(const std::optional<std::string>& a, const std::optional<std::string>& b) { return a == b; }

GWLScreenViewReporter::EngineState sharedEngineState() {
  GWLScreenViewReporter::EngineState state;
  if (auto config = GWLMeasurementRegistry::remoteConfig()) state.limits = config->valueLimits();
  if (!GWLMeasurementRegistry::hasSharedInstance()) return state;
  auto engine = std::dynamic_pointer_cast<GWLMeasurement>(GWLMeasurementRegistry::sharedInstance());
  if (!engine) return state;
  state.exists = true;
  state.enabled = engine->isEnabled();
  state.didInitializeComponents = engine->didInitializeComponents();
  if (auto config = engine->remoteConfig()) {
    state.limits = config->valueLimits();
    state.efficientEngagementReportingEnabled = config->efficientEngagementReportingEnabled();
  }
  state.sessionReporter = engine->sessionReporter();
  return state;
}

// The root view controller's class of the first of the application's windows that is key.
std::optional<std::string> keyWindowRootClassName(const std::shared_ptr<platform::Application>& application) {
  if (!application) return std::nullopt;
  for (const auto& window : application->windows()) {
    if (!window->isKeyWindow()) continue;
    const auto& root = window->rootViewController();
    if (!root) return std::nullopt;
    return GWLStrippedClassName(root->className());
  }
  return std::nullopt;
}

bool startsWithUnderscore(const std::string& className) {
  std::string stripped = GWLStrippedClassName(className);
  return !stripped.empty() && stripped.front() == '_';
}

// Shown: the view is loaded and lies in a window.
bool isShown(const platform::ViewController& controller) {
  return controller.isViewLoaded() && controller.window() != nullptr;
}

bool isContainer(const platform::ViewController& controller) {
  return dynamic_cast<const platform::NavigationController*>(&controller) ||
         dynamic_cast<const platform::TabBarController*>(&controller) ||
         dynamic_cast<const platform::PageViewController*>(&controller);
}

// One step down from a controller to what it shows.
std::shared_ptr<platform::ViewController> descend(const std::shared_ptr<platform::ViewController>& controller) {
  if (auto navigation = std::dynamic_pointer_cast<platform::NavigationController>(controller)) {
    return navigation->visibleViewController();
  }
  if (auto tabs = std::dynamic_pointer_cast<platform::TabBarController>(controller)) {
    return tabs->selectedViewController();
  }
  if (auto pages = std::dynamic_pointer_cast<platform::PageViewController>(controller)) {
    return pages->viewControllers().empty() ? nullptr : pages->viewControllers().front();
  }
  if (controller->presentedViewController()) return controller->presentedViewController();
  return controller->isBeingPresented() ? controller : nullptr;
}

constexpr int64_t kHooksDisabledCode = 36001;
constexpr const char* kHooksDisabledMessage =
    "Analytics screen reporting is disabled. UIViewController transitions will not be logged.";
constexpr int64_t kOlderLibraryCode = 36005;
constexpr const char* kOlderLibraryMessage =
    "Detected an older version of Halcyra Analytics for Corvane framework. Please upgrade to the latest version of "
    "Halcyra Analytics for Corvane.";

}  // namespace

std::string GWLStrippedClassName(std::string_view className) {
  size_t dot = className.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == className.size()) return std::string(className);
  return std::string(className.substr(dot + 1));
}

GWLParameters GWLPreviousScreenParameters(const GWLScreen& screen, const GWLValueLimits& limits) {
  GWLParameters parameters;
  parameters.insert_or_assign(kGWLPreviousScreenInstanceIDParameter, GWLValue::initWithInt64(screen.instanceID()));
  if (GWLDataTypeValidator::isValidScreenParameterValue(view(screen.className()), limits)) {
    putString(parameters, kGWLPreviousScreenClassParameter, *screen.className());
  }
  if (GWLDataTypeValidator::isValidScreenParameterValue(view(screen.name()), limits)) {
    putString(parameters, kGWLPreviousScreenNameParameter, *screen.name());
  }
  return parameters;
}

bool GWLIsScreenReportingEnabled(const GWLInfoValueLookup& infoValue) {
  auto value = infoValue(kGWLScreenReportingEnabledInfoKey);
  if (!value) value = infoValue(kGWLAutomaticScreenReportingEnabledInfoKey);
  if (!value) return true;
  if (auto flag = value->boolValue()) return *flag;
  if (auto number = value->numberValue()) return *number != 0;
  return true;
}

bool GWLIsScreenReportingEnabled() {
  auto environment = platform::AppEnvironment::shared();
  return GWLIsScreenReportingEnabled([&environment](const std::string& key) -> std::optional<platform::Object> {
    if (!environment) return std::nullopt;
    const platform::Object* value = environment->objectForInfoDictionaryKey(key);
    if (!value) return std::nullopt;
    return *value;
  });
}

std::shared_ptr<platform::WeakViewControllerArray> GWLKeyWindowStack(const platform::Application& application) {
  auto window = application.keyWindow();
  if (!window) return nullptr;
  if (!window->viewControllerStack()) {
    window->setViewControllerStack(std::make_shared<platform::WeakViewControllerArray>());
  }
  return window->viewControllerStack();
}

void GWLCompactStack(platform::WeakViewControllerArray& stack) {
  std::erase_if(stack, [](const std::weak_ptr<platform::ViewController>& entry) { return entry.expired(); });
}

bool GWLShouldTrackViewController(const platform::ViewController& viewController,
                                  const platform::Application& application) {
  if (viewController.isPlatformClass() &&
      (startsWithUnderscore(viewController.className()) || startsWithUnderscore(viewController.superclassName()))) {
    return false;
  }
  if (!viewController.isViewLoaded()) return false;
  auto window = viewController.window();
  return window && window == application.keyWindow();
}

std::shared_ptr<platform::ViewController> GWLVisibleViewController(platform::WeakViewControllerArray* stack,
                                                                   const GWLScreenLookup& screenOf,
                                                                   GWLMonitor& monitor) {
  if (!stack || stack->empty()) {
    monitor.logWithLevel(kGWLLevelWarningSilent, 31011, "Root view controller not found");
    return nullptr;
  }
  // Held while searching, top first.
  std::vector<std::shared_ptr<platform::ViewController>> entries;
  for (auto it = stack->rbegin(); it != stack->rend(); ++it) {
    if (auto entry = it->lock()) entries.push_back(std::move(entry));
  }
  for (const auto& entry : entries) {
    if (!isShown(*entry)) continue;
    auto screen = screenOf(*entry);
    if (screen && screen->isManuallySet()) return entry;
  }
  for (const auto& entry : entries) {
    if (!isShown(*entry)) continue;
    if (screenOf(*entry)) return entry;
    std::shared_ptr<platform::ViewController> start = entry;
    if (auto parent = entry->parent(); parent && parent->children().size() > 1) {
      bool otherHidden = std::any_of(parent->children().begin(), parent->children().end(), [&](const auto& child) {
        return child != entry && !isShown(*child);
      });
      if (otherHidden) {
        if (screenOf(*parent)) return parent;
        start = parent;
      }
    }
    auto result = descend(start);
    while (result && isContainer(*result)) result = descend(result);
    if (result && isShown(*result)) return result;
  }
  auto bottom = stack->front().lock();
  GWLCompactStack(*stack);
  return bottom;
}

// ---- creation ----

GWLScreenViewReporter::GWLScreenViewReporter(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
  if (!dependencies_.monitor) dependencies_.monitor = GWLLibraryMonitor::monitor();
  if (!dependencies_.notifications) dependencies_.notifications = platform::NotificationCenter::defaultCenter();
  if (!dependencies_.isScreenReportingEnabled) dependencies_.isScreenReportingEnabled = [] { return GWLIsScreenReportingEnabled(); };
  if (!dependencies_.isMainThread) dependencies_.isMainThread = [] { return platform::MainQueue::isMainThread(); };
  if (!dependencies_.engine) dependencies_.engine = sharedEngineState;
  if (!dependencies_.logInternalEvent) {
    dependencies_.logInternalEvent = [](const std::string& origin, const std::string& name,
                                        std::optional<double> timestamp, const GWLRawParameters& parameters) {
      auto analytics = GWLAnalytics::sharedInstance();
      if (!analytics) return;
      if (timestamp) {
        analytics->logInternalEventWithOrigin(origin, name, *timestamp, parameters);
      } else {
        analytics->logInternalEventWithOrigin(origin, name, parameters);
      }
    };
  }
  if (!dependencies_.adHooks) dependencies_.adHooks = [] { return GWLInstalledHook<GWLAdReportingHooks>::get(); };
  if (!dependencies_.application) dependencies_.application = [] { return platform::Application::shared(); };
  if (!dependencies_.keyWindowRootClassName) {
    dependencies_.keyWindowRootClassName = [application = dependencies_.application] {
      return keyWindowRootClassName(application());
    };
  }
  if (!dependencies_.randomInt64) dependencies_.randomInt64 = [] { return GWLNumericUtil::randomInt64(); };
  queue_ = platform::SerialQueue::create(kGWLScreenViewReporterQueueLabel);
  currentScreenInstanceID_.store(dependencies_.randomInt64());
}

std::shared_ptr<GWLScreenViewReporter> GWLScreenViewReporter::create(Dependencies dependencies) {
  std::shared_ptr<GWLScreenViewReporter> reporter(new GWLScreenViewReporter(std::move(dependencies)));
  reporter->observeNotifications();
  return reporter;
}

GWLScreenViewReporter::~GWLScreenViewReporter() { observers_.clear(); }

void GWLScreenViewReporter::observeNotifications() {
  std::weak_ptr<GWLScreenViewReporter> weak = weak_from_this();
  auto observe = [this, weak](const char* name, void (GWLScreenViewReporter::*handler)()) {
    observers_.push_back(dependencies_.notifications->addObserver(
        name, nullptr, [weak, handler](const platform::Notification&) {
          if (auto self = weak.lock()) ((*self).*handler)();
        }));
  };
  observe(platform::kWindowDidResignKeyNotification, &GWLScreenViewReporter::handleWindowDidResign);
  observe(platform::kApplicationDidBecomeActiveNotification, &GWLScreenViewReporter::handleApplicationDidBecomeActive);
  observe(platform::kApplicationWillResignActiveNotification, &GWLScreenViewReporter::handleApplicationWillResignActive);
  observe(platform::kApplicationDidEnterBackgroundNotification,
          &GWLScreenViewReporter::handleApplicationDidEnterBackground);
}

std::shared_ptr<GWLScreenViewReporter> GWLScreenViewReporter::sharedInstance() {
  // Never destroyed: events may still be logged while the process exits.
  static const auto* reporter = new std::shared_ptr<GWLScreenViewReporter>(create());
  return *reporter;
}

void GWLScreenViewReporter::installAppActiveProvider() {
  GWLSetAppActiveProvider([] { return sharedInstance()->isAppActive(); });
}

// ---- the view controllers' hooks ----

platform::Connection GWLScreenViewReporter::hookViewControllers(
    std::function<std::shared_ptr<GWLScreenViewReporter>()> target, bool screenReportingEnabled,
    bool olderLibraryPresent) {
  if (!screenReportingEnabled) {
    platform::HVUOSLogInfo(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kHooksDisabledCode), "%s",
                           kHooksDisabledMessage);
    return {};
  }
  if (olderLibraryPresent) {
    platform::HVUOSLogWarning(kGWLLogSubsystem, kGWLDefaultLogTag, false, GWLMessageCodeString(kOlderLibraryCode),
                              "%s", kOlderLibraryMessage);
    return {};
  }
  // The signal fires after the controller's own handling of the transition.
  return platform::ViewController::appearanceEvents().connect(
      [target = std::move(target)](const platform::ViewController& controller, platform::AppearanceEvent event) {
        if (event != platform::AppearanceEvent::didAppear && event != platform::AppearanceEvent::didDisappear) return;
        // Controllers not owned by a shared_ptr cannot be followed.
        auto owned = std::const_pointer_cast<platform::ViewController>(controller.weak_from_this().lock());
        if (!owned) return;
        auto reporter = target();
        if (!reporter) return;
        if (event == platform::AppearanceEvent::didAppear) {
          reporter->viewControllerDidAppear(owned);
        } else {
          reporter->viewControllerDidDisappear(owned);
        }
      });
}

void GWLScreenViewReporter::installViewControllerHooks() {
  static std::once_flag once;
  std::call_once(once, [] {
    auto environment = platform::AppEnvironment::shared();
    bool older = environment && environment->hasComponent(kGWLOlderLibraryClassName);
    // Kept for the life of the process.
    static auto* connection = new platform::Connection(
        hookViewControllers([] { return sharedInstance(); }, GWLIsScreenReportingEnabled(), older));
    (void)connection;
  });
}

GWLScreenLookup GWLScreenViewReporter::controllerScreensSnapshot() {
  std::vector<std::pair<std::shared_ptr<platform::ViewController>, std::shared_ptr<const GWLScreen>>> entries;
  queue_->sync([&] {
    for (const auto& [weak, screen] : controllerScreens_) {
      if (auto controller = weak.lock()) entries.emplace_back(std::move(controller), screen);
    }
  });
  return [entries = std::move(entries)](const platform::ViewController& controller) -> std::shared_ptr<const GWLScreen> {
    for (const auto& [owner, screen] : entries) {
      if (owner.get() == &controller) return screen;
    }
    return nullptr;
  };
}

void GWLScreenViewReporter::makeVisibleViewControllerCurrent(platform::WeakViewControllerArray* stack) {
  auto visible = GWLVisibleViewController(stack, controllerScreensSnapshot(), *dependencies_.monitor);
  auto application = dependencies_.application();
  if (visible && application && GWLShouldTrackViewController(*visible, *application)) {
    setCurrentViewController(visible);
  }
}

void GWLScreenViewReporter::viewControllerDidAppear(const std::shared_ptr<platform::ViewController>& viewController) {
  if (!viewController) return;
  auto application = dependencies_.application();
  bool tracked = application && GWLShouldTrackViewController(*viewController, *application);
  std::shared_ptr<platform::WeakViewControllerArray> stack;
  if (application) stack = GWLKeyWindowStack(*application);
  if (stack) {
    // The key window's root appearing again over another stack starts a new one.
    auto window = application->keyWindow();
    if (window && window->rootViewController() == viewController && !stack->empty() &&
        stack->front().lock() != viewController) {
      stack = std::make_shared<platform::WeakViewControllerArray>();
      window->setViewControllerStack(stack);
    }
    std::erase_if(*stack, [&](const auto& entry) { return entry.lock() == viewController; });
    if (tracked) stack->push_back(viewController);
    GWLCompactStack(*stack);
  }
  makeVisibleViewControllerCurrent(stack.get());
  if (auto delegate = corvanePerfDelegate()) delegate->viewControllerDidAppear(*viewController, tracked);
}

void GWLScreenViewReporter::viewControllerDidDisappear(
    const std::shared_ptr<platform::ViewController>& viewController) {
  if (!viewController) return;
  auto application = dependencies_.application();
  std::shared_ptr<platform::WeakViewControllerArray> stack;
  if (application) stack = GWLKeyWindowStack(*application);
  if (stack) {
    // The bottom entry stays.
    for (size_t i = stack->size(); i-- > 1;) {
      if ((*stack)[i].lock() == viewController) stack->erase(stack->begin() + static_cast<std::ptrdiff_t>(i));
    }
    GWLCompactStack(*stack);
  }
  makeVisibleViewControllerCurrent(stack.get());
  if (auto delegate = corvanePerfDelegate()) delegate->viewControllerDidDisappear(*viewController);
}

void GWLScreenViewReporter::handleWindowDidResign() {
  auto application = dependencies_.application();
  if (!application) return;
  auto stack = GWLKeyWindowStack(*application);
  if (stack && !stack->empty()) makeVisibleViewControllerCurrent(stack.get());
}

// ---- the current screen ----

std::shared_ptr<const GWLScreen> GWLScreenViewReporter::currentScreen() {
  std::shared_ptr<const GWLScreen> screen;
  queue_->sync([&] { screen = currentScreen_; });
  return screen;
}

GWLParameters GWLScreenViewReporter::screenParameters() {
  GWLParameters parameters;
  if (cannotLog()) return parameters;
  bool reporting = screenReportingEnabled();
  queue_->sync([&] {
    if (!reporting && !currentScreen_) return;
    if (!currentScreen_) return;
    parameters.insert_or_assign(kGWLScreenIDParameter, GWLValue::initWithInt64(currentScreen_->instanceID()));
    if (currentScreen_->className() && !currentScreen_->className()->empty()) {
      putString(parameters, kGWLScreenClassParameter, *currentScreen_->className());
    }
    if (currentScreen_->name() && !currentScreen_->name()->empty()) {
      putString(parameters, kGWLScreenNameParameter, *currentScreen_->name());
    }
  });
  return parameters;
}

void GWLScreenViewReporter::getScreenName(std::optional<std::string>* screenName,
                                          std::optional<std::string>* screenClass) {
  if (!screenName && !screenClass) return;
  queue_->sync([&] {
    if (screenName) *screenName = currentScreen_ ? currentScreen_->name() : std::nullopt;
    if (screenClass) *screenClass = currentScreen_ ? currentScreen_->className() : std::nullopt;
  });
}

void GWLScreenViewReporter::setCurrentViewController(const std::shared_ptr<platform::ViewController>& viewController) {
  auto& monitor = *dependencies_.monitor;
  if (!viewController) {
    monitor.logWithLevel(kGWLLevelWarning, 31005, "Received nil view controller");
    return;
  }
  EngineState engine = dependencies_.engine();
  bool reporting = screenReportingEnabled();
  std::string className = GWLStrippedClassName(viewController->className());
  queue_->sync([&] {
    if (engine.exists && engine.enabled && currentViewController_.lock() == viewController) {
      auto it = controllerScreens_.find(viewController);
      monitor.logWithLevel(kGWLLevelDebug, 31006, "View controller already tracked. Class, ID", className,
                           it != controllerScreens_.end() ? it->second->instanceID() : int64_t{0});
      return;
    }
    std::string screenClass = className;
    auto limit = static_cast<size_t>(std::max<int32_t>(engine.limits.maxPublicEventParameterValueLength, 0));
    if (platform::utf8::codePointCount(screenClass) > limit) {
      screenClass = std::string(platform::utf8::truncatedToCodePoints(screenClass, limit));
      monitor.logWithLevel(kGWLLevelDebug, 31007,
                           "Trimmed name of default screen class. Original screen class, trimmed screen class",
                           className, screenClass);
    }
    if (!GWLDataTypeValidator::isValidScreenParameterValue(screenClass, engine.limits)) {
      monitor.logWithLevel(kGWLLevelWarning, 31008, "Received invalid default screen class", screenClass);
      return;
    }
    // Screens of controllers that no longer exist go with them.
    std::erase_if(controllerScreens_, [](const auto& entry) { return entry.first.expired(); });
    auto& screen = controllerScreens_[viewController];
    if (!screen) screen = std::make_shared<GWLScreen>(std::nullopt, screenClass, incrementScreenInstanceID());
    currentViewController_ = viewController;
    if (screen == currentScreen_) return;
    if (engine.enabled) {
      monitor.logWithLevel(kGWLLevelDebug, 31010, "Tracking view controller. Class, ID", screenClass,
                           screen->instanceID());
    }
    std::shared_ptr<const GWLScreen> previous =
        currentScreen_ ? std::make_shared<const GWLScreen>(currentScreen_->copy()) : nullptr;
    currentScreen_ = screen;
    postScreenDidChange(previous, screen);
    if (reporting) logViewScreenEvent(previous, screen, {});
  });
}

void GWLScreenViewReporter::setScreenName(const std::optional<std::string>& screenName,
                                          const std::optional<std::string>& screenClass) {
  auto& monitor = *dependencies_.monitor;
  if (!screenReportingEnabled()) {
    monitor.logWithLevel(kGWLLevelWarning, 31000,
                         "Ignoring call to setScreenName:screenClass:. Screen reporting is disabled.");
    return;
  }
  EngineState engine = dependencies_.engine();
  if (screenName && !GWLDataTypeValidator::isValidScreenParameterValue(*screenName, engine.limits)) {
    monitor.logWithLevel(kGWLLevelWarning, 31001, "Received invalid screen name", *screenName);
    return;
  }
  if (screenClass && !GWLDataTypeValidator::isValidScreenParameterValue(*screenClass, engine.limits)) {
    monitor.logWithLevel(kGWLLevelWarning, 31002, "Received invalid screen class", *screenClass);
    return;
  }
  // The screen is attached to the top of the key window's stack.
  std::shared_ptr<platform::ViewController> top;
  if (auto application = dependencies_.application()) {
    if (auto stack = GWLKeyWindowStack(*application)) {
      GWLCompactStack(*stack);
      if (!stack->empty()) top = stack->back().lock();
    }
  }
  queue_->sync([&] {
    if (!top) {
      monitor.logWithLevel(kGWLLevelWarning, 31003,
                           "setScreenName:screenClass: must be called after a view controller has appeared");
      return;
    }
    std::optional<std::string> className = screenClass ? screenClass : GWLStrippedClassName(top->className());
    if (currentScreen_ && sameText(screenName, currentScreen_->name()) &&
        sameText(className, currentScreen_->className())) {
      monitor.logWithLevel(kGWLLevelDebug, 31004, "Ignoring duplicate screen name and screen class");
      return;
    }
    auto screen = std::make_shared<GWLScreen>(screenName, className, incrementScreenInstanceID());
    screen->setIsManuallySet(true);
    controllerScreens_[top] = screen;
    currentViewController_ = top;
    monitor.logWithLevel(kGWLLevelDebug, 31009, "Set screen name and screen class", screenName.value_or(""),
                         className.value_or(""));
    std::shared_ptr<const GWLScreen> previous = currentScreen_;
    currentScreen_ = screen;
    postScreenDidChange(previous, screen);
    logViewScreenEvent(previous, screen, {});
  });
}

void GWLScreenViewReporter::trackScreenWithParameters(const GWLRawParameters& parameters, double timestamp) {
  auto& monitor = *dependencies_.monitor;
  if (cannotLog()) {
    monitor.logWithLevel(kGWLLevelWarning, 31026, "Cannot log screen view event when the app is not active");
    return;
  }
  EngineState engine = dependencies_.engine();
  auto text = [&](const char* key) -> std::optional<std::optional<std::string>> {
    auto it = parameters.find(key);
    if (it == parameters.end()) return std::optional<std::string>();
    if (const auto* object = std::get_if<platform::Object>(&it->second)) {
      if (object->isNull()) return std::optional<std::string>();
      if (auto string = object->stringValue()) return std::optional<std::string>(*string);
      return std::nullopt;  // present but not text
    }
    const auto& value = std::get<GWLValue>(it->second);
    if (value.stringValue()) return std::optional<std::string>(*value.stringValue());
    return std::nullopt;
  };
  auto name = text(kGWLScreenNameEventParameter);
  if (!name || (*name && !GWLDataTypeValidator::isValidScreenParameterValue(**name, engine.limits))) {
    monitor.logWithLevel(kGWLLevelWarning, 31027, "Received invalid name for screen",
                         name && *name ? GWLLogContext(**name) : GWLLogContext("(not text)"));
    return;
  }
  auto className = text(kGWLScreenClassEventParameter);
  if (!className || (*className && !GWLDataTypeValidator::isValidScreenParameterValue(**className, engine.limits))) {
    monitor.logWithLevel(kGWLLevelWarning, 31028, "Received invalid class for screen",
                         className && *className ? GWLLogContext(**className) : GWLLogContext("(not text)"));
    return;
  }
  std::optional<std::string> screenClass = *className;
  if (!screenClass) {
    if (dependencies_.isMainThread()) {
      screenClass = dependencies_.keyWindowRootClassName();
    } else if (screenReportingEnabled()) {
      getScreenName(nullptr, &screenClass);
    }
  }
  auto screen = std::make_shared<GWLScreen>(*name, screenClass, incrementScreenInstanceID());
  screen->setIsManuallyTracked(true);
  screen->setEventTimestamp(timestamp);
  monitor.logWithLevel(kGWLLevelDebug, 31029, "Logging screen view with screen name and screen class",
                       name->value_or(""), screenClass.value_or(""));
  std::shared_ptr<const GWLScreen> previous;
  queue_->sync([&] {
    previous = currentScreen_;
    currentScreen_ = screen;
  });
  queue_->async([weak = weak_from_this(), previous, screen, parameters, limits = engine.limits] {
    auto self = weak.lock();
    if (!self) return;
    self->postScreenDidChange(previous, screen);
    GWLParameters extra =
        GWLSanitizeEventParameters(parameters, kGWLScreenViewEventName, true, false, limits).value_or(GWLParameters());
    extra.erase(kGWLScreenNameEventParameter);
    extra.erase(kGWLScreenClassEventParameter);
    self->logViewScreenEvent(previous, screen, extra);
  });
}

// ---- posting and logging (on the queue) ----

void GWLScreenViewReporter::postScreenDidChange(const std::shared_ptr<const GWLScreen>& previous,
                                                const std::shared_ptr<const GWLScreen>& next) {
  if (!isAppActive_.load()) return;
  EngineState engine = dependencies_.engine();
  if (previous && engine.didInitializeComponents && engine.sessionReporter) {
    engine.sessionReporter->handleScreenDidChangeFromScreen(previous, next);
  }
  if (auto hooks = dependencies_.adHooks()) hooks->handleScreenDidChangeFromScreen(previous, next);
}

void GWLScreenViewReporter::logViewScreenEvent(const std::shared_ptr<const GWLScreen>& previous,
                                               const std::shared_ptr<const GWLScreen>& next,
                                               const GWLParameters& extra) {
  if (!next) return;
  auto& monitor = *dependencies_.monitor;
  if (cannotLog()) {
    monitor.logWithLevel(kGWLLevelDebug, 31013, "Screen view event not logged. App is not active.");
    return;
  }
  EngineState engine = dependencies_.engine();
  GWLParameters parameters = extra;
  for (auto& [key, value] : GWLScreenParameters(*next, engine.limits, monitor)) parameters.insert_or_assign(key, value);
  if (previous) {
    for (auto& [key, value] : GWLPreviousScreenParameters(*previous, engine.limits)) {
      parameters.insert_or_assign(key, value);
    }
    if (engine.didInitializeComponents && engine.efficientEngagementReportingEnabled && engine.sessionReporter) {
      int64_t engagement = engine.sessionReporter->cutFreerideEngagementTimeMillis();
      if (engagement > 0) parameters.insert_or_assign(kGWLEngagementTimeParameter, GWLValue::initWithInt64(engagement));
    }
  }
  if (!screenReportingEnabled()) {
    parameters.insert_or_assign(kGWLManualScreenTrackingParameter, GWLValue::initWithInt64(1));
  }
  if (!parameters.count(kGWLScreenIDParameter) && !parameters.count(kGWLScreenClassParameter) &&
      !parameters.count(kGWLScreenNameParameter)) {
    monitor.logWithLevel(kGWLLevelErrorSampled, 31012, "Screen view event not logged. Screen parameters were empty");
    return;
  }
  previousScreen_ = next;
  auto raw = GWLRawParametersFromParameters(parameters);
  if (next->isManuallyTracked()) {
    dependencies_.logInternalEvent("app", kGWLScreenViewInternalEventName, next->eventTimestamp(), raw);
  } else {
    dependencies_.logInternalEvent("auto", kGWLScreenViewInternalEventName, std::nullopt, raw);
  }
}

// ---- the performance delegate ----

void GWLScreenViewReporter::setCorvanePerfDelegate(const std::shared_ptr<GWLScreenViewReporterDelegate>& delegate) {
  platform::MutexLock lock(delegateMutex_);
  if (delegate && !delegate_.expired()) {
    dependencies_.monitor->logWithLevel(kGWLLevelWarning, 31016, "Tried to override screen reporter delegate");
    return;
  }
  delegate_ = delegate;
}

std::shared_ptr<GWLScreenViewReporterDelegate> GWLScreenViewReporter::corvanePerfDelegate() const {
  platform::MutexLock lock(delegateMutex_);
  return delegate_.lock();
}

// ---- the application's life ----

void GWLScreenViewReporter::handleApplicationDidBecomeActive() {
  isAppActive_.store(true);
  appHasBeenInitialized_.store(true);
  EngineState engine = dependencies_.engine();
  if (engine.didInitializeComponents && engine.sessionReporter) engine.sessionReporter->handleAppDidBecomeActive();
  if (auto hooks = dependencies_.adHooks()) hooks->handleAppDidBecomeActive();
  queue_->async([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    // A screen that became current while no event could be logged.
    if (self->currentScreen_ != self->previousScreen_ && self->screenReportingEnabled()) {
      self->logViewScreenEvent(self->previousScreen_, self->currentScreen_, {});
    }
  });
}

void GWLScreenViewReporter::handleApplicationWillResignActive() {
  std::shared_ptr<const GWLScreen> screen;
  if (screenReportingEnabled() && isAppActive_.load()) screen = currentScreen();
  EngineState engine = dependencies_.engine();
  if (engine.didInitializeComponents && engine.sessionReporter) {
    engine.sessionReporter->handleAppWillResignActiveWithScreen(screen);
  }
  if (auto hooks = dependencies_.adHooks()) hooks->handleAppWillResignActiveWithScreen(screen);
}

void GWLScreenViewReporter::handleApplicationDidEnterBackground() { isAppActive_.store(false); }
