#include "analytics/measurement/CVNAnalyticsConnector.h"

#include "analytics/audiences/GWLConditionalUserPropertyController.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/values/GWLConditionalUserProperty.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/CVNConnectorUtils.h"
#include "analytics/measurement/GWLMeasurementOperations.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace {

void debugLine(const std::string& message) {
  platform::log::write(platform::LogLevel::Debug, "com.halcyra.analytics", "[Corvane/Analytics]", "", message);
}

// The campaign-integration marker of the libraries that log "_cmp".
std::optional<std::string> campaignIntegration(const std::string& origin) {
  if (origin == "cvm" || origin == "cvl" || origin == "cvi" || origin == "cvr") return origin + "_integration";
  return std::nullopt;
}

// One field of a conditional user property, filled from a dictionary entry
// of the type it needs. Only the fields named here are read.
using FieldSetter = std::function<bool(GWLConditionalUserProperty&, const platform::Object&, const CVNAnalyticsConnector&)>;

const std::map<std::string, FieldSetter>& conditionalPropertyFields() {
  static const auto* fields = new std::map<std::string, FieldSetter>{
      {"name",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.stringValue()) return false;
         property.name = *value.stringValue();
         return true;
       }},
      {"origin",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.stringValue()) return false;
         property.origin = *value.stringValue();
         return true;
       }},
      {"value",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.stringValue()) return false;
         auto made = GWLValue::initWithString(*value.stringValue());
         if (!made) return false;
         property.value = std::move(*made);
         return true;
       }},
      {"triggerEventName",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.stringValue()) return false;
         property.triggerEventName = *value.stringValue();
         return true;
       }},
      {"triggerTimeout",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.isNumber()) return false;
         property.triggerTimeout = *value.numberValue();
         return true;
       }},
      {"timeToLive",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.isNumber()) return false;
         property.timeToLive = *value.numberValue();
         return true;
       }},
      {"creationTimestamp",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.isNumber()) return false;
         property.creationTimestamp = *value.numberValue();
         return true;
       }},
      {"triggeredTimestamp",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.isNumber()) return false;
         property.triggeredTimestamp = *value.numberValue();
         return true;
       }},
      {"active",
       [](auto& property, const platform::Object& value, const auto&) {
         if (!value.isNumberOrBool()) return false;
         property.active = value.boolValueOrFalse();
         return true;
       }},
      {"triggeredEvent",
       [](auto& property, const platform::Object& value, const CVNAnalyticsConnector& connector) {
         if (!value.dictionaryValue()) return false;
         property.triggeredEvent = connector.eventFromDictionary(*value.dictionaryValue());
         return true;
       }},
      {"timedOutEvent",
       [](auto& property, const platform::Object& value, const CVNAnalyticsConnector& connector) {
         if (!value.dictionaryValue()) return false;
         property.timedOutEvent = connector.eventFromDictionary(*value.dictionaryValue());
         return true;
       }},
      {"expiredEvent",
       [](auto& property, const platform::Object& value, const CVNAnalyticsConnector& connector) {
         if (!value.dictionaryValue()) return false;
         property.expiredEvent = connector.eventFromDictionary(*value.dictionaryValue());
         return true;
       }},
  };
  return *fields;
}

}  // namespace

std::shared_ptr<CVNAnalyticsConnector> CVNAnalyticsConnector::create(Dependencies dependencies) {
  return std::shared_ptr<CVNAnalyticsConnector>(new CVNAnalyticsConnector(std::move(dependencies)));
}

CVNAnalyticsConnector::CVNAnalyticsConnector(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
  if (!dependencies_.mainQueue) dependencies_.mainQueue = platform::MainQueue::shared();
  if (!dependencies_.connectorQueue) dependencies_.connectorQueue = connectorQueue();
  if (!dependencies_.clock) dependencies_.clock = platform::Clock::system();
  if (!dependencies_.engineExists) dependencies_.engineExists = [] { return GWLMeasurementRegistry::hasSharedInstance(); };
}

std::shared_ptr<platform::Queue> CVNAnalyticsConnector::connectorQueue() {
  static const auto* queue = new std::shared_ptr<platform::Queue>(platform::SerialQueue::create(kCVNConnectorQueueLabel));
  return *queue;
}

void CVNAnalyticsConnector::load() {
  platform::CVNApp::registerInternalLibrary(
      kCVNAnalyticsLibraryName, kCVNAnalyticsLibraryVersion, componentsToRegister(), [](const platform::CVNApp& app) {
        CVNAnalytics::startWithConfiguration(app.analyticsConfiguration(), app.options());
      });
}

std::vector<platform::CVNComponent> CVNAnalyticsConnector::componentsToRegister() {
  return {platform::CVNComponent::componentWithProtocol(
      kCVNAnalyticsInteropProtocol,
      [](const platform::CVNApp&) -> std::shared_ptr<void> { return CVNAnalyticsConnector::create(); })};
}

double CVNAnalyticsConnector::now() const { return dependencies_.clock->now(); }

namespace {
std::shared_ptr<GWLConditionalUserPropertyControlling> controllerOf(
    const std::shared_ptr<GWLConditionalUserPropertyControlling>& injected) {
  return injected ? injected : GWLConditionalUserPropertyController::sharedInstance();
}
}  // namespace

// ---- conditional user properties ----

void CVNAnalyticsConnector::setConditionalUserProperty(const std::optional<platform::Dictionary>& dictionary) {
  if (!dictionary || dictionary->empty()) return;
  auto property = std::make_shared<GWLConditionalUserProperty>();
  const auto& fields = conditionalPropertyFields();
  for (const auto& [key, value] : *dictionary) {
    auto field = fields.find(key);
    if (field == fields.end()) {
      debugLine("Conditional user property key ignored: " + key);
    } else if (!field->second(*property, value, *this)) {
      debugLine("Conditional user property value of the wrong type ignored: " + key);
    }
  }
  controllerOf(dependencies_.controller)->setConditionalUserProperty(property, property->name);
}

void CVNAnalyticsConnector::clearConditionalUserProperty(const std::string& name, const std::string& origin,
                                                         const std::string& clearEventName,
                                                         const std::optional<platform::Dictionary>& clearEventParameters) {
  if (!clearEventParameters || clearEventParameters->empty()) return;
  const auto& [key, value] = *clearEventParameters->begin();
  auto clearEvent = eventWithOrigin(origin, clearEventName, {{key, value}});
  // The property cleared is the one the caller names.
  controllerOf(dependencies_.controller)->clearConditionalUserPropertyWithClearEvent(clearEvent, name);
}

platform::Array CVNAnalyticsConnector::conditionalUserProperties(const std::string& origin,
                                                                 const std::string& propertyNamePrefix) {
  platform::Array result;
  auto properties = controllerOf(dependencies_.controller)
                        ->conditionalUserPropertiesWithNamePrefix(platform::Object(propertyNamePrefix),
                                                                  platform::Object(origin));
  if (!properties) return result;
  for (const auto& property : *properties) {
    if (!property || !property->value || !property->value->stringValue()) continue;
    result.emplace_back(platform::Dictionary{{"name", property->name}, {"value", *property->value->stringValue()}});
  }
  return result;
}

// ---- user properties ----

int64_t CVNAnalyticsConnector::maxUserProperties(const std::string& origin) {
  // The limit is the same for every origin: answered here rather than by
  // waiting on GWLAnalyticsQueue, which may be the caller's own queue.
  if (origin.empty() || !dependencies_.engineExists()) return 0;
  return kGWLMaxUserPropertiesPerOrigin;
}

void CVNAnalyticsConnector::getUserPropertiesWithCallback(std::function<void(const platform::Dictionary&)> callback) {
  CVNAnalytics::userPropertiesIncludingInternal(
      true, dependencies_.connectorQueue, [callback = std::move(callback)](const platform::Dictionary& properties) {
        platform::Dictionary allowed;
        for (const auto& [name, value] : properties) {
          if (CVNConnectorUtils::isUserPropertyAllowedForQuery(name)) allowed.emplace(name, value);
        }
        if (callback) callback(allowed);
      });
}

void CVNAnalyticsConnector::setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                                      const platform::Object& value) {
  if (!CVNConnectorUtils::isOriginAllowed(origin) || !CVNConnectorUtils::isUserPropertyAllowed(name, origin)) return;
  CVNAnalytics::sharedInstance()->setInternalUserProperty(value, name, origin);
}

// ---- events ----

void CVNAnalyticsConnector::logEventWithOrigin(const std::string& origin, const std::string& name,
                                               const std::optional<platform::Dictionary>& parameters) {
  if (!CVNConnectorUtils::isOriginAllowed(origin)) return;
  GWLRawParameters raw = parameters ? GWLRawParametersFromDictionary(*parameters) : GWLRawParameters();
  if (!CVNConnectorUtils::shouldLogEventWithName(name, raw)) return;
  if (name == "_cmp") {
    if (auto integration = campaignIntegration(origin)) raw["_cis"] = platform::Object(*integration);
  } else if (name == "_ae" && origin == "wfx") {
    raw["_r"] = platform::Object(int64_t{1});
  }
  CVNAnalytics::logInternalEventWithOrigin(origin, name, raw);
}

platform::Dictionary CVNAnalyticsConnector::simplifiedParametersFromEventParameters(const GWLParameters& parameters) {
  platform::Dictionary simplified;
  for (const auto& [name, value] : parameters) {
    if (value.isDouble()) {
      simplified.emplace(name, value.doubleValue());
    } else if (value.isInt64()) {
      simplified.emplace(name, value.int64Value());
    } else if (const auto* text = value.stringValue()) {
      simplified.emplace(name, *text);
    }
  }
  return simplified;
}

std::shared_ptr<GWLEvent> CVNAnalyticsConnector::eventFromDictionary(const platform::Dictionary& dictionary) const {
  auto text = [&](const char* key) -> std::optional<std::string_view> {
    auto found = dictionary.find(key);
    if (found == dictionary.end() || !found->second.stringValue()) return std::nullopt;
    return std::string_view(*found->second.stringValue());
  };
  double timestamp = now();
  if (auto found = dictionary.find("timestamp"); found != dictionary.end() && found->second.isNumber()) {
    timestamp = *found->second.numberValue();
  }
  platform::Dictionary parameters;
  if (auto found = dictionary.find("parameters"); found != dictionary.end() && found->second.dictionaryValue()) {
    parameters = *found->second.dictionaryValue();
  }
  return GWLEvent::initWithOrigin(text("origin"), false, text("name"), timestamp, 0, parameters, GWLValueLimits());
}

std::shared_ptr<GWLEvent> CVNAnalyticsConnector::eventWithOrigin(const std::string& origin, const std::string& eventName,
                                                                 const platform::Dictionary& params) const {
  auto event = GWLEvent::initWithOrigin(origin, false, eventName, now(), 0, params, GWLValueLimits());
  return event ? event->copy() : nullptr;
}

// ---- listeners ----

void CVNAnalyticsConnector::registerAnalyticsListener(Listener listener, const std::string& origin) {
  if (!listener || !CVNConnectorUtils::isListenerOriginAllowed(origin)) return;
  platform::MutexLock lock(mutex_);
  if (logEventListener_) {
    (*listeners_)[origin] = std::move(listener);
    return;
  }
  listeners_ = std::map<std::string, Listener>{{origin, std::move(listener)}};
  // Adding the entry-class listener never waits, so it may happen under the lock.
  logEventListener_ = CVNAnalytics::addLogEventListener(
      [weak = weak_from_this()](const std::shared_ptr<const GWLEvent>& event) {
        if (auto self = weak.lock()) self->dispatch(event);
      });
}

void CVNAnalyticsConnector::unregisterAnalyticsListenerWithOrigin(const std::string& origin) {
  platform::MutexLock lock(mutex_);
  if (!listeners_) return;
  listeners_->erase(origin);
  if (!listeners_->empty()) return;
  CVNAnalytics::removeLogEventListener(logEventListener_);
  logEventListener_.reset();
  listeners_.reset();
}

std::optional<GWLLogEventListenerToken> CVNAnalyticsConnector::logEventListener() const {
  platform::MutexLock lock(mutex_);
  return logEventListener_;
}

std::optional<std::map<std::string, CVNAnalyticsConnector::Listener>> CVNAnalyticsConnector::listeners() const {
  platform::MutexLock lock(mutex_);
  return listeners_;
}

void CVNAnalyticsConnector::dispatch(const std::shared_ptr<const GWLEvent>& event) {
  if (!event || !CVNConnectorUtils::isEventNameAllowedForListeners(event->name())) return;
  const std::string origin = event->origin();
  Listener target;
  {
    platform::MutexLock lock(mutex_);
    if (listeners_) {
      if (auto found = listeners_->find(origin); found != listeners_->end()) target = found->second;
    }
    if (!target && !CVNConnectorUtils::isAppOrigin(origin)) {
      if (!CVNConnectorUtils::isEventNameAllowedForListenerOrigin(event->name(), "wfx") || !listeners_) return;
      auto found = listeners_->find("wfx");
      if (found == listeners_->end()) return;
      target = found->second;
    }
  }
  // The name and parameters travel on as copies: the event stays the entry class's.
  dependencies_.connectorQueue->async([weak = weak_from_this(), name = event->name(), parameters = event->parameters(),
                                       target, main = dependencies_.mainQueue] {
    auto simplified = simplifiedParametersFromEventParameters(parameters);
    main->async([weak, name, simplified = std::move(simplified), target] {
      if (target) {
        target->messageTriggered(name, simplified);
        return;
      }
      auto self = weak.lock();
      if (!self) return;  // a connector that is gone has no listeners
      for (const auto& [origin, listener] : self->listeners().value_or(std::map<std::string, Listener>())) {
        listener->messageTriggered(name, simplified);
      }
    });
  });
}
