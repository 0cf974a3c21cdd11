// CVNAnalyticsConnector — how the maker's sibling libraries use the analytics
// library without linking against it. The core framework makes connectors
// through the component the library registers at process load; a connector
// lets a sibling library log events, set and read user properties and the
// per-origin user-property limit, set, clear and query conditional user
// properties, and register one listener per origin that is told of logged
// events on the main queue. CVNConnectorUtils's tables bound all of it; what
// they refuse is dropped without a message.
//
// Threads: every operation runs on its caller's thread and never waits on a
// queue. Logged events reach the dispatch block on GWLAnalyticsQueue, their
// parameters are simplified on the connector queue, and listeners hear of
// them on the main queue. The listener map has a lock of its own.
#pragma once

#include <absl/base/thread_annotations.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLConditionalUserPropertyControlling.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "platform/core/Object.h"
#include "platform/corvane/CVNApp.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class Queue;
}  // namespace platform

inline constexpr const char* kCVNAnalyticsLibraryName = "corvane-analytics";
inline constexpr const char* kCVNAnalyticsLibraryVersion = "12.5.0";
inline constexpr const char* kCVNAnalyticsInteropProtocol = "CVNAnalyticsInterop";
inline constexpr const char* kCVNConnectorQueueLabel = "com.halcyra.analytics_connector.queue";

// What a sibling library registers to hear of logged events.
class CVNAnalyticsInteropListener {
 public:
  virtual ~CVNAnalyticsInteropListener() = default;
  virtual void messageTriggered(const std::string& name, const platform::Dictionary& parameters) = 0;
};

class CVNAnalyticsConnector : public std::enable_shared_from_this<CVNAnalyticsConnector> {
 public:
  using Listener = std::shared_ptr<CVNAnalyticsInteropListener>;

  // Collaborators; each null or empty one is the process's own.
  struct Dependencies {
    std::shared_ptr<GWLConditionalUserPropertyControlling> controller;  // the controller's shared instance
    std::shared_ptr<platform::Queue> mainQueue;
    std::shared_ptr<platform::Queue> connectorQueue;  // the process's connector queue
    std::shared_ptr<platform::Clock> clock;
    std::function<bool()> engineExists;  // whether the measurement engine has been made
  };

  static std::shared_ptr<CVNAnalyticsConnector> create(Dependencies dependencies = {});
  // The process's connector queue, made on first use.
  static std::shared_ptr<platform::Queue> connectorQueue();
  // Registers the library with the core framework (the process-load call does).
  static void load();
  // One component for the interop protocol, making a new connector.
  static std::vector<platform::CVNComponent> componentsToRegister();

  // ---- the interop operations ----
  void setConditionalUserProperty(const std::optional<platform::Dictionary>& property);
  void clearConditionalUserProperty(const std::string& name, const std::string& origin,
                                    const std::string& clearEventName,
                                    const std::optional<platform::Dictionary>& clearEventParameters);
  platform::Array conditionalUserProperties(const std::string& origin, const std::string& propertyNamePrefix);
  int64_t maxUserProperties(const std::string& origin);
  void getUserPropertiesWithCallback(std::function<void(const platform::Dictionary&)> callback);
  void logEventWithOrigin(const std::string& origin, const std::string& name,
                          const std::optional<platform::Dictionary>& parameters);
  void setUserPropertyWithOrigin(const std::string& origin, const std::string& name, const platform::Object& value);
  void registerAnalyticsListener(Listener listener, const std::string& origin);
  void unregisterAnalyticsListenerWithOrigin(const std::string& origin);

  // ---- helpers ----
  // Numbers and strings, as they are; arrays are left out.
  static platform::Dictionary simplifiedParametersFromEventParameters(const GWLParameters& parameters);
  // An event from "origin", "name", "timestamp" (seconds since 1970; now when
  // missing) and "parameters"; null when it cannot be built.
  std::shared_ptr<GWLEvent> eventFromDictionary(const platform::Dictionary& dictionary) const;
  std::shared_ptr<GWLEvent> eventWithOrigin(const std::string& origin, const std::string& eventName,
                                            const platform::Dictionary& params) const;

  std::shared_ptr<void> analytics() const { return analytics_.lock(); }
  void setAnalytics(const std::shared_ptr<void>& analytics) { analytics_ = analytics; }
  std::optional<GWLLogEventListenerToken> logEventListener() const;
  // A copy of the listener map; none while no listener is registered.
  std::optional<std::map<std::string, Listener>> listeners() const;

 private:
  explicit CVNAnalyticsConnector(Dependencies dependencies);
  void dispatch(const std::shared_ptr<const GWLEvent>& event);
  double now() const;

  Dependencies dependencies_;
  std::weak_ptr<void> analytics_;  // kept for callers; the connector does not use it
  mutable platform::Mutex mutex_;
  std::optional<GWLLogEventListenerToken> logEventListener_ ABSL_GUARDED_BY(mutex_);
  std::optional<std::map<std::string, Listener>> listeners_ ABSL_GUARDED_BY(mutex_);
};
