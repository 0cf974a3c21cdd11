// The engine's event write pipeline: the handling steps of every event, the
// conditional user properties, the blocklist, and the one exclusive
// transaction that stores an event with its daily counters, its aggregates
// row and its metadata bundle.
#include <charconv>
#include <limits>

#include "analytics/audiences/GWLConditionalUserPropertyController.h"
#include "analytics/foundation/config/GWLConditionalUserPropertyControlling.h"
#include "analytics/foundation/config/GWLEventEditingRuntime.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLPurchaseHooks.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLEnvironmentInfo.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDailyCounts.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/measurement/GWLBundleConsent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLSessionReporter.h"
#include "analytics/measurement/GWLRealtimeEventLimits.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementInfo.h"
#include "analytics/wire/GWLPBUserAttribute.h"

namespace {

using Report = GWLAnalyticsReport;

// ---- handling ----
constexpr Report kDisabledReport{kGWLLevelDebug, 23049, "Analytics is disabled. Event not logged"};
constexpr Report kNotSafelistedReport{kGWLLevelWarning, 23174,
                                      "Event dropped. Reason: not in allowlist. Event name, origin"};
constexpr Report kExtendSessionReservedReport{
    kGWLLevelWarning, 23179,
    "extend_session is a reserved parameter. To extend or start a session in the background, set an event "
    "parameter {@'extend_session': @1}"};
constexpr Report kSubscriptionIDNotSavedReport{kGWLLevelErrorSilent, 23181,
                                               "Failed to save subscription ID. Product ID, error"};
constexpr Report kDuplicateSubscriptionReport{
    kGWLLevelWarningSampled, 23182, "Event dropped. Reason: Subscription purchase is a duplicate. Product ID"};
constexpr Report kSubscriptionCleanUpFailedReport{kGWLLevelWarningSilent, 23183,
                                                  "Failed to delete older subscription records. Error"};
constexpr Report kSubscriptionsDeletedReport{kGWLLevelWarningSilent, 23184,
                                             "Deleted older subscription records beyond limit"};
constexpr Report kRolloutsNotStringReport{kGWLLevelErrorSilent, 23190,
                                          "Unable to process corvane feature rollouts, value is not a string."};
constexpr Report kDuplicateRolloutsReport{kGWLLevelVerbose, 23191,
                                          "Feature rollouts value is a duplicate, dropping event"};
constexpr Report kEditingFailedReport{kGWLLevelErrorSampled, 23223, "Event editing failed. Event name"};
// ---- writing ----
constexpr Report kConditionalPropertiesFailedReport{
    kGWLLevelWarningSampled, 23050, "Unable to process conditional user property. Event name, origin"};
constexpr Report kLoggingEventReport{kGWLLevelDebug, 23051, "Logging event: origin, name, params"};
constexpr Report kBlocklistedReport{kGWLLevelWarningSilent, 23052, "Rejected event. Event name"};
constexpr Report kLifetimeValueFailedReport{
    kGWLLevelErrorSampled, 23053, "Cannot record lifetime value of event. Name, currency code, transaction value"};
constexpr Report kDailyCountsReadFailedReport{kGWLLevelErrorSampled, 23054,
                                              "Data loss. Unable to query daily event counts. Error"};
constexpr Report kTooManyEventsReport{kGWLLevelErrorSampled, 23055, "Data loss. Too many events logged. Name, limit"};
constexpr Report kTooManyErrorEventsReport{kGWLLevelErrorSampled, 23056,
                                           "Too many error events logged. Error code, limit"};
constexpr Report kTooManyPublicEventsReport{kGWLLevelErrorSampled, 23057,
                                            "Data loss. Too many public events logged. Name, limit"};
constexpr Report kNoLongerRealtimeReport{
    kGWLLevelWarningSampled, 23060,
    "Too many real-time events. Event is no longer real-time. Event name, parameters"};
constexpr Report kDailyCountsWriteFailedReport{kGWLLevelErrorSampled, 23061,
                                               "Data loss. Unable to update daily event counts. Name, error"};
constexpr Report kAggregatesReadFailedReport{kGWLLevelErrorSampled, 23063, "Cannot query event aggregates. Name, error"};
constexpr Report kEventCountFailedReport{kGWLLevelErrorSampled, 23064, "Cannot query event count. Error"};
constexpr Report kEventNameLimitReport{kGWLLevelErrorSampled, 23065,
                                       "Cannot set event. Reached limit on set events. Name"};
constexpr Report kAggregatesWriteFailedReport{kGWLLevelErrorSampled, 23066,
                                              "Data loss. Cannot record event aggregates. Error"};
constexpr Report kUserPropertiesFailedReport{kGWLLevelErrorSampled, 23067,
                                             "Data loss. Cannot query user properties. Error"};
constexpr Report kMetadataFailedReport{kGWLLevelErrorSampled, 23068, "Data loss. Cannot record event metadata. Error"};
constexpr Report kStorageLimitFailedReport{kGWLLevelErrorSampled, 23069,
                                           "Data loss. Unable to check raw event storage limit. Error"};
constexpr Report kTooManyStoredReport{kGWLLevelWarningSampled, 23070,
                                      "Data loss. Too many events stored on disk. Deleted count"};
constexpr Report kRawEventFailedReport{kGWLLevelErrorSampled, 23071, "Data loss. Cannot record raw event. Error"};
constexpr Report kEventLoggedReport{kGWLLevelDebug, 23072, "Event logged. Event name, event params"};
constexpr Report kDebugRealtimeReport{
    kGWLLevelDebug, 23073, "Debug mode is enabled. Marking event as debug and real-time. Event name, parameters"};
// ---- on-device values ----
constexpr Report kODMValueFailedReport{kGWLLevelWarningSampled, 23287, "Failed to query ODM value. Error"};
constexpr Report kODMSessionValueFailedReport{kGWLLevelWarningSampled, 23288,
                                              "Failed to query ODM session value. Error"};
constexpr Report kODM2ValueFailedReport{kGWLLevelWarningSampled, 23291, "Failed to query ODM value. Error"};
constexpr Report kODMGroupIDFailedReport{kGWLLevelWarningSampled, 23302, "Failed to query ODM group ID. Error"};

// Drops of the daily limits repeat their message once per this many events.
constexpr int64_t kLimitMessageInterval = 1000;

// Names with a meaning here.
constexpr const char* kSafelistedParameter = "ha_safelisted";
constexpr const char* kExtendSessionParameter = "extend_session";
constexpr const char* kSubscriptionIDParameter = "_did";
constexpr const char* kProductIDParameter = "product_id";
constexpr const char* kFeatureRolloutsParameter = "_ffr";
constexpr const char* kSessionIDParameter = kGWLSessionIDProperty;
constexpr const char* kSessionNumberParameter = kGWLSessionNumberProperty;
constexpr const char* kCurrencyParameter = "currency";
constexpr const char* kValueParameter = "value";
constexpr const char* kRolloutSessionStartEventName = "_ssr";
constexpr const char* kAppExceptionEventName = "_ae";
constexpr const char* kSessionStartEventName = kGWLSessionStartEventName;
constexpr const char* kFirstOpenEventName = "_f";
constexpr const char* kConsentedFirstOpenEventName = "_fx";
constexpr const char* kCampaignEventName = "_cmp";
constexpr const char* kCampaignDefaultsExcludedPrefix = "vrt_";
constexpr const char* kUserIDProperty = "_id";
constexpr const char* kNPAProperty = "_npa";
constexpr const char* kPlatformName = "ios";
constexpr const char* kManualInstallSource = "manual_install";

// The stored on-device values and where each goes in the info message.
constexpr const char* kODM1Value = "odm1_value";
constexpr const char* kODM1SessionValue = "odm1_session_value";
constexpr const char* kODM2Value = "odm2_value";
constexpr const char* kODM1GroupID = "odm1_group_id";

// Worker methods' names for the background-thread check.
constexpr const char* kHandleEventMethod = "handleEventOnWorkerQueue:";
constexpr const char* kWriteEventMethod = "writeEventOnWorkerQueue:";
constexpr const char* kWriteSessionStartMethod = "writeSessionStartEventOnWorkerQueue:";

bool failed(const platform::Error& error) { return !error.domain.empty() || error.code != 0; }

// A parameter's value, or null.
const GWLValue* parameter(const GWLEvent& event, const char* name) {
  auto found = event.parameters().find(name);
  return found == event.parameters().end() ? nullptr : &found->second;
}

// A parameter for a log line: its text, or nothing.
GWLLogContext parameterContext(const GWLEvent& event, const char* name) {
  const GWLValue* value = parameter(event, name);
  return value ? GWLLogContext(value->description()) : GWLLogContext();
}

// An int64 from decimal text: an optional sign and digits, nothing else.
// Text beyond the int64 range answers the nearest bound; anything else none.
std::optional<int64_t> decimalValue(const std::string& text) {
  int64_t value = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (begin != end && *begin == '+') ++begin;
  const auto [stop, problem] = std::from_chars(begin, end, value);
  if (stop != end || begin == end) return std::nullopt;
  if (problem == std::errc::result_out_of_range) {
    return *begin == '-' ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  }
  if (problem != std::errc()) return std::nullopt;
  return value;
}

// The effective count of an event: 1 plus its array elements, within int32.
int32_t effectiveEventCount(const GWLEvent& event) {
  const size_t elements = GWLArrayParameterElementCount(&event);
  constexpr auto kMax = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  return elements >= kMax ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(elements + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Entries

void GWLMeasurement::handleInternalEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) {
  if (!event) return;
  if (!GWLIsErrorEvent(*event)) {
    std::optional<GWLRawParameters> defaults = parametersWithAddedDefaultEventParameters(GWLRawParameters{});
    if (defaults && !defaults->empty()) {
      if (event->name() == kCampaignEventName) {
        std::erase_if(*defaults, [](const auto& entry) { return entry.first.starts_with(kCampaignDefaultsExcludedPrefix); });
      }
      event->applyParameters(*defaults, true);
    }
  }
  handleEventOnWorkerQueue(event);
  notifyEventListeners(event);
}

void GWLMeasurement::handleEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& given) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kHandleEventMethod);
  if (!given) return;
  // 1. The collection switch.
  if (!isEnabled()) {
    report(kDisabledReport);
    return;
  }
  // 2. The safelist.
  std::shared_ptr<GWLEvent> event = eventAfterSafelistingEvent(given);
  if (!event) return;
  // 3. Background sessions.
  processSessionFromEvent(*event);
  // 4. Subscription purchases reported twice.
  if (GWLIsSubscriptionEvent(*event) && !dedupeSubscriptionEvent(*event)) return;
  // 5. Rollout session starts reported twice.
  if (shouldDropDuplicatedSessionStartWithRolloutEvent(*event)) return;
  // 6. App exceptions carry the rollouts.
  event = appExceptionEventWithCorvaneFeatureRollouts(event);
  // 7. Session starts.
  if (event->name() == kSessionStartEventName) writeSessionStartEventOnWorkerQueue(event);
  // 8. Event editing.
  auto editing = eventEditingRuntime();
  if (!editing) {
    writeEventOnWorkerQueue(event);
    updateSchedule();
    return;
  }
  GWLEventEditingOutcome outcome = GWLEditEvent(*editing, event, remoteConfig()->valueLimits());
  if (!outcome.succeeded) {
    // The event is kept as it came; nothing it would have created is.
    writeEventOnWorkerQueue(event);
    report(kEditingFailedReport, GWLEventNameForLog(event->name()));
    return;
  }
  writeEventOnWorkerQueue(outcome.event);
  for (const auto& created : outcome.createdEvents) writeEventOnWorkerQueue(created);
  updateSchedule();
}

// ---------------------------------------------------------------------------
// The handling steps

std::shared_ptr<GWLEvent> GWLMeasurement::eventAfterSafelistingEvent(const std::shared_ptr<GWLEvent>& event) {
  if (safelist_.empty()) return event;
  if (!safelist_.contains(event->name())) {
    report(kNotSafelistedReport, GWLEventNameForLog(event->name()), event->origin());
    return nullptr;
  }
  GWLRawParameters parameters = GWLRawParametersFromParameters(event->parameters());
  parameters.insert_or_assign(kSafelistedParameter, GWLValue::initWithInt64(1));
  return event->copyWithParameters(parameters);
}

void GWLMeasurement::processSessionFromEvent(const GWLEvent& event) {
  if (GWLIsAppActive()) return;
  if (const GWLValue* extend = parameter(event, kExtendSessionParameter)) {
    if (extend->isInt64() && extend->int64Value() == 1) {
      if (isSessionExpired()) {
        reportSessionStartOnWorkerQueueWithTimestamp(event.timestamp(), true);
      } else if (auto reporter = sessionReporter()) {
        (void)reporter->extendSession();
      }
    } else {
      report(kExtendSessionReservedReport);
    }
  }
  if (isSessionExpired()) removeSessionUserPropertiesOnWorkerQueue();
}

bool GWLMeasurement::dedupeSubscriptionEvent(const GWLEvent& event) {
  const GWLValue* subscriptionID = parameter(event, kSubscriptionIDParameter);
  if (!subscriptionID || !subscriptionID->isInt64()) return true;
  auto db = database();
  if (!db) return true;
  platform::Error error;
  std::optional<bool> inserted = db->insertIfNotDuplicateSubscriptionID(std::to_string(subscriptionID->int64Value()),
                                                                         &error);
  if (!inserted) {
    report(kSubscriptionIDNotSavedReport, parameterContext(event, kProductIDParameter), error);
  } else if (!*inserted) {
    report(kDuplicateSubscriptionReport, parameterContext(event, kProductIDParameter));
    return false;
  }
  // Keeping the table small is housekeeping: when it fails the purchase is
  // still reported.
  platform::Error cleanUpError;
  std::optional<int64_t> deleted = db->deleteSubscriptionsOverLimit(&cleanUpError);
  if (!deleted) {
    report(kSubscriptionCleanUpFailedReport, cleanUpError);
  } else if (*deleted > 0) {
    report(kSubscriptionsDeletedReport, *deleted);
  }
  return true;
}

bool GWLMeasurement::shouldDropDuplicatedSessionStartWithRolloutEvent(const GWLEvent& event) {
  if (event.name() != kRolloutSessionStartEventName || !persistedConfig_) return false;
  const std::optional<std::string> stored = persistedConfig_->corvaneFeatureRollouts();
  const GWLValue* rollouts = parameter(event, kFeatureRolloutsParameter);
  const std::string* text = rollouts ? rollouts->stringValue() : nullptr;
  const bool drop = stored && !stored->empty() ? text && *text == *stored : !rollouts || (text && text->empty());
  if (drop) {
    report(kDuplicateRolloutsReport);
    return true;
  }
  if (text && !text->empty()) {
    persistedConfig_->setCorvaneFeatureRollouts(*text);
  } else {
    if (rollouts && !text) report(kRolloutsNotStringReport);
    persistedConfig_->setCorvaneFeatureRollouts(std::nullopt);
  }
  return false;
}

std::shared_ptr<GWLEvent> GWLMeasurement::appExceptionEventWithCorvaneFeatureRollouts(
    const std::shared_ptr<GWLEvent>& event) {
  if (event->name() != kAppExceptionEventName || !persistedConfig_) return event;
  const std::optional<std::string> stored = persistedConfig_->corvaneFeatureRollouts();
  if (!stored || stored->empty()) return event;
  if (auto value = GWLValue::initWithString(*stored)) event->parameters().insert_or_assign(kFeatureRolloutsParameter, *value);
  return event;
}

void GWLMeasurement::writeSessionStartEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kWriteSessionStartMethod);
  const GWLValue* sessionID = parameter(*event, kSessionIDParameter);
  const GWLValue* sessionNumber = parameter(*event, kSessionNumberParameter);
  if (sessionID && sessionNumber) backfillSessionID(*sessionID, *sessionNumber);
  const std::optional<std::string> rollouts =
      persistedConfig_ ? persistedConfig_->corvaneFeatureRollouts() : std::nullopt;
  auto config = remoteConfig();
  if (rollouts && !rollouts->empty()) {
    GWLRawParameters parameters;
    if (auto value = GWLValue::initWithString(*rollouts)) parameters.emplace(kFeatureRolloutsParameter, *value);
    auto rolloutStart = GWLEvent::initWithOrigin(kGWLOriginAuto, false, kRolloutSessionStartEventName, now(), 0,
                                                 parameters, config->valueLimits());
    if (rolloutStart) writeEventOnWorkerQueue(rolloutStart);
  }
  if (config->PSMSessionStartEnabled()) {
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get()->initiateODMSessionStartProtocolWithTimestamp(
        event->timestamp());
  }
}

void GWLMeasurement::initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) {
  GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get()->initiateODM1ProtocolWithUserData(userData);
}

// ---------------------------------------------------------------------------
// Writing

void GWLMeasurement::writeEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kWriteEventMethod);
  if (!event) return;
  GWLLogReport(*monitor_, kLoggingEventReport, event->origin(), GWLEventNameForLog(event->name()),
               GWLDescriptionForLog(event->parameters()));
  auto controller = conditionalUserPropertyController();
  std::optional<GWLConditionalUserPropertyControlling::Events> triggered =
      controller ? controller->processEventOnWorkerQueue(event) : GWLConditionalUserPropertyControlling::Events{};
  if (!triggered) report(kConditionalPropertiesFailedReport, GWLEventNameForLog(event->name()), event->origin());
  writeFilteredEventOnWorkerQueue(event);
  if (!triggered) return;
  for (const auto& next : *triggered) {
    if (next) writeFilteredEventOnWorkerQueue(next);
  }
}

void GWLMeasurement::writeFilteredEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) {
  if (!event) return;
  auto config = remoteConfig();
  // 1. The blocklist.
  if (config->isEventBlocklisted(event->name())) {
    report(kBlocklistedReport, GWLEventNameForLog(event->name()));
    if (!config->blocklistInternal() && !config->blocklistPublic() && !GWLIsErrorEvent(*event)) {
      GWLLogErrorEventWithName(kGWLEventErrorEventIsBlocked, event->name(), kGWLEventNameErrorLimit, std::nullopt);
    }
    return;
  }
  // 2. Fresh identifiers for the metadata.
  if (auto found = identity()) found->updateIdentifiers();
  // 3. Conversions by name.
  if (GWLIsDefaultConversionEventName(event->name())) event->setConversion(true);
  // 4. Counters, aggregates, metadata and the raw event together.
  auto db = database();
  if (!db) {
    report(kRawEventFailedReport, std::string("No database"));
    return;
  }
  (void)db->performTransaction([&] {
    if (!updateLifetimeValueWithEvent(*event)) return false;
    const bool isPublicEvent = GWLIsPublicName(event->name());
    platform::Error error;
    std::optional<GWLDailyCounts> counts = db->dailyCounts(&error);
    if (!counts) {
      report(kDailyCountsReadFailedReport, error);
      return false;
    }
    const bool keep = shouldProcessEvent(*event, *counts, isPublicEvent);
    const bool realtime = isRealtimeEvent(*event, *counts);
    platform::Error writeError;
    if (!db->updateDailyCounts(*counts, &writeError)) {
      report(kDailyCountsWriteFailedReport, GWLEventNameForLog(event->name()), writeError);
      return false;
    }
    if (!keep) return true;
    return writeEvent(event, isPublicEvent, realtime);
  });
}

bool GWLMeasurement::updateLifetimeValueWithEvent(const GWLEvent& event) {
  auto purchases = GWLInstalledHook<GWLPurchaseHooks>::get();
  if (!purchases->isPurchaseEvent(event)) return true;
  auto db = database();
  if (db && purchases->recordLifetimeValueToDatabase(*db, event)) return true;
  GWLLogReport(*monitor_, kLifetimeValueFailedReport, GWLEventNameForLog(event.name()),
               parameterContext(event, kCurrencyParameter), parameterContext(event, kValueParameter));
  return false;
}

bool GWLMeasurement::shouldProcessEvent(const GWLEvent& event, GWLDailyCounts& dailyCounts, bool isPublicEvent) {
  auto db = database();
  const int32_t today = db ? db->currentDayIndex() : dailyCounts.day();
  if (dailyCounts.day() != today) dailyCounts.resetWithNewDay(today);
  auto config = remoteConfig();
  const bool isErrorEvent = GWLIsErrorEvent(event);
  auto count = [&] {
    if (isErrorEvent) {
      dailyCounts.incrementErrorEventsCountForCurrentDay(today);
    } else {
      dailyCounts.incrementCountsForCurrentDay(today, isPublicEvent, false, effectiveEventCount(event));
    }
  };

  const int64_t maxEvents = config->maxEventsPerDay();
  const int64_t over = int64_t{dailyCounts.allEventsCount()} - maxEvents;
  if (over >= 0) {
    // Counted all the same: the count keeps rising, which spaces the message.
    if (over % kLimitMessageInterval == 0) {
      report(kTooManyEventsReport, GWLEventNameForLog(event.name()), maxEvents);
    }
    count();
    return false;
  }
  if (isErrorEvent) {
    const int64_t maxErrors = config->maxErrorEventsPerDay();
    const int64_t errorsOver = int64_t{dailyCounts.errorEventsCount()} - maxErrors;
    if (errorsOver >= 0) {
      if (errorsOver % kLimitMessageInterval == 0) {
        report(kTooManyErrorEventsReport, parameterContext(event, kGWLEventErrorParameter), maxErrors);
      }
      dailyCounts.incrementErrorEventsCountForCurrentDay(today);
      dailyCounts.decrementAllEventsCount();
      return false;
    }
  } else if (isPublicEvent) {
    const int64_t maxPublic = config->maxPublicEventsPerDay();
    const int64_t publicOver = int64_t{dailyCounts.publicEventsCount()} - maxPublic;
    if (publicOver >= 0) {
      if (publicOver % kLimitMessageInterval == 0) {
        report(kTooManyPublicEventsReport, GWLEventNameForLog(event.name()), maxPublic);
      }
      GWLLogErrorEvent(kGWLEventErrorPublicEventLimitReached);
      count();
      dailyCounts.decrementAllEventsCount();
      return false;
    }
  }
  count();
  return true;
}

bool GWLMeasurement::isRealtimeEvent(GWLEvent& event, const GWLDailyCounts& dailyCounts) {
  auto config = remoteConfig();
  const bool debug = monitor_->isDebugModeEnabled();
  const bool limited = !debug && GWLIsRealtimeLimitedEvent(event);
  const bool underLimit = dailyCounts.realtimeCount() < config->maxRealtimeEventCountPerDay();
  const bool isConversion = event.isConversion() || config->isEventCustomConversion(event.name());
  const bool conversionIsRealtime = isConversion && (underLimit || !limited);

  if (event.isRealtime() && limited && !underLimit) {
    event.setRealtime(false);
    report(kNoLongerRealtimeReport, GWLEventNameForLog(event.name()), GWLDescriptionForLog(event.parameters()));
  }
  if (event.isRealtime() && !debug && GWLIsDCURealtimeLimitedEvent(event) &&
      dailyCounts.dcuRealtimeCount() >= config->maxRealtimeDCUEventCountPerDay()) {
    event.setRealtime(false);
  }
  maybeAddDebugAndRealtimeParameters(event);
  return conversionIsRealtime || event.isRealtime();
}

void GWLMeasurement::maybeAddDebugAndRealtimeParameters(GWLEvent& event) {
  if (!monitor_->isDebugModeEnabled()) return;
  event.setRealtime(true);
  event.setDebug(true);
  report(kDebugRealtimeReport, GWLEventNameForLog(event.name()), GWLDescriptionForLog(event.parameters()));
}

bool GWLMeasurement::writeEvent(const std::shared_ptr<GWLEvent>& event, bool isPublicEvent, bool isRealtime) {
  auto db = database();
  if (!db) return false;
  auto config = remoteConfig();
  const std::string& name = event->name();

  // 1-2. The name's aggregates; a new name needs room.
  platform::Error error;
  std::shared_ptr<GWLEventAggregates> aggregates = db->eventAggregatesWithName(name, &error);
  if (!aggregates && failed(error)) {
    report(kAggregatesReadFailedReport, GWLEventNameForLog(name), error);
    return false;
  }
  if (!aggregates) {
    if (isPublicEvent) {
      platform::Error countError;
      std::optional<int64_t> names = db->publicEventCount(&countError);
      if (!names) {
        report(kEventCountFailedReport, countError);
        return false;
      }
      if (*names >= config->maxEventNameCardinality()) {
        report(kEventNameLimitReport, GWLEventNameForLog(name));
        GWLLogErrorEvent(kGWLEventErrorEventLimitReached);
        return false;
      }
    }
    aggregates = GWLEventAggregates::initWithName(name, 0, 0, 0, 0);
    platform::Error updateError;
    if (!db->updateEventAggregates(aggregates, &updateError)) {
      report(kAggregatesWriteFailedReport, updateError);
      return false;
    }
  }

  // 3. The advertising-ID reset property.
  if (auto found = identity(); found && found->shouldSetLastAdvertisingIDResetUserProperty()) {
    setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
  }

  // 4-6. The metadata bundle.
  platform::Error attributesError;
  auto attributes = db->userAttributesIncludingInternal(true, &attributesError);
  if (!attributes) {
    report(kUserPropertiesFailedReport, attributesError);
    return false;
  }
  std::shared_ptr<GWLPBMeasurementBundle> metadata = createRawEventMetadataWithUserAttributes(*attributes);
  if (!metadata) {
    report(kMetadataFailedReport, std::string("No metadata"));
    return false;
  }
  struct StoredValue {
    const char* name;
    const Report* failure;
    void (GWLPBOnDeviceMeasurementInfo::*set)(const GWLPBOnDeviceMeasurementValue&);
  };
  static constexpr StoredValue kStoredValues[] = {
      {kODM1Value, &kODMValueFailedReport, &GWLPBOnDeviceMeasurementInfo::setOdm1Value},
      {kODM1SessionValue, &kODMSessionValueFailedReport, &GWLPBOnDeviceMeasurementInfo::setOdm1SessionValue},
      {kODM2Value, &kODM2ValueFailedReport, &GWLPBOnDeviceMeasurementInfo::setOdm2Value},
      {kODM1GroupID, &kODMGroupIDFailedReport, &GWLPBOnDeviceMeasurementInfo::setOdm1GroupId},
  };
  auto onDevice = GWLInstalledHook<GWLOnDeviceMeasurementHooks>::get();
  auto info = GWLPBOnDeviceMeasurementInfo::initWithMessageInfo();
  bool hasValue = false;
  for (const StoredValue& stored : kStoredValues) {
    platform::Error valueError;
    std::optional<platform::Dictionary> row = db->ODMValueWithName(stored.name, &valueError);
    if (!row) {
      if (failed(valueError)) report(*stored.failure, valueError);
      continue;
    }
    if (auto value = onDevice->onDeviceMeasurementValueFromRow(*row)) {
      ((*info).*stored.set)(*value);
      hasValue = true;
    }
  }
  if (hasValue) metadata->setOnDeviceMeasurementInfo(*info);
  int32_t linkage = 0;
  if (hasTrackingAuthorizationClass()) linkage |= 1 << 0;
  if (onDevice->isGWLPrivateSetMembershipClientLinked()) linkage |= 1 << 1;
  if (onDevice->isAlphaAppAdsOnDeviceConversionLinked()) linkage |= 1 << 2;
  if (onDevice->isHalcyraAdsOnDeviceConversionLinked()) linkage |= 1 << 3;
  metadata->setOnDeviceConversionFlags(linkage);

  // 7. A first open written without advertising identifier waits for one.
  const std::optional<std::string> advertisingID = metadata->resettableDeviceId();
  if (persistedConfig_) {
    if (advertisingID && !advertisingID->empty()) {
      if (persistedConfig_->unmatchedFirstOpenWithoutIDFA()) logFirstOpenConsentedEvent(event->timestamp());
    } else if (name == kFirstOpenEventName) {
      persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(true);
    }
  }

  // 8-10. Metadata, room and the raw event.
  platform::Error metadataError;
  if (!db->insertIfNotExistsRawEventMetadata(*metadata, &metadataError)) {
    report(kMetadataFailedReport, metadataError);
    return false;
  }
  platform::Error limitError;
  std::optional<int64_t> deleted = db->deleteRawEventsOverAbsoluteLimit(&limitError);
  if (!deleted) {
    report(kStorageLimitFailedReport, limitError);
    return false;
  }
  if (*deleted > 0) report(kTooManyStoredReport, *deleted);
  const std::optional<std::vector<uint8_t>> bytes = metadata->protoBuffer();
  const auto fingerprint = static_cast<int64_t>(gwl_64LSBMD5(bytes ? std::span<const uint8_t>(*bytes)
                                                                   : std::span<const uint8_t>()));
  platform::Error rawError;
  if (!db->insertRawEvent(event, fingerprint, isRealtime, &rawError)) {
    report(kRawEventFailedReport, rawError);
    return false;
  }

  // 11. The first opens of the app's installations, kept across reinstalls.
  if (name == kFirstOpenEventName) {
    const std::optional<std::string> text = previousFirstOpenCount();
    const int64_t stored = text ? decimalValue(*text).value_or(0) : 0;
    if (stored != std::numeric_limits<int64_t>::max()) {
      setPreviousFirstOpenCount(std::to_string(stored < 1 ? 1 : stored + 1));
    }
  }

  // 12.
  report(kEventLoggedReport, GWLEventNameForLog(name), GWLDescriptionForLog(event->parameters()));
  return true;
}

std::shared_ptr<GWLPBMeasurementBundle> GWLMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<std::shared_ptr<GWLUserAttribute>>& userAttributes) {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  if (!bundle) return nullptr;
  bundle->setProtocolVersion(1);

  std::vector<std::shared_ptr<GWLPBUserAttribute>> properties;
  bool hasNPA = false;
  bool hasUserID = false;
  for (const auto& attribute : userAttributes) {
    if (!attribute) continue;
    hasNPA = hasNPA || attribute->name() == kNPAProperty;
    hasUserID = hasUserID || attribute->name() == kUserIDProperty;
    if (auto proto = attribute->protoUserAttribute()) properties.push_back(std::move(proto));
  }
  auto db = database();
  if (!hasNPA && db) {
    if (auto npa = db->userAttributeWithName(kNPAProperty)) {
      if (auto proto = npa->protoUserAttribute()) properties.push_back(std::move(proto));
    }
  }
  if (!properties.empty()) bundle->setUserAttributes(properties);

  auto environment = GWLEnvironmentInfo::sharedInstance();
  bundle->setPlatform(kPlatformName);
  bundle->setOsVersion(environment->deviceOSVersion());
  bundle->setDeviceModel(environment->deviceModel());
  if (auto language = environment->userDefaultLanguage()) bundle->setUserDefaultLanguage(*language);
  bundle->setTimeZoneOffsetMinutes(GWLEnvironmentInfo::timeZoneOffsetMinutes(now()));
  bundle->setLibraryVersion(GWLIdentity::gaugewellLibraryVersion());

  auto found = identity();
  if (found) {
    if (!found->isFromAppStore()) bundle->setAppStore(kManualInstallSource);
    if (found->appID()) bundle->setAppId(*found->appID());
    if (found->appVersion()) bundle->setAppVersion(*found->appVersion());
    if (auto qrxAppID = found->appIDFromQRX(); qrxAppID && !qrxAppID->empty()) bundle->setQrxAppId(*qrxAppID);
    if (auto installationID = found->corvaneInstallationID()) bundle->setInstallationId(*installationID);
    if (auto major = found->appVersionMajor()) bundle->setAppVersionMajor(*major);
    if (auto minor = found->appVersionMinor()) bundle->setAppVersionMinor(*minor);
    if (auto release = found->appVersionRelease()) bundle->setAppVersionRelease(*release);
    const int64_t sessionNumber = persistedConfig_ ? persistedConfig_->sessionNumber() : 0;
    if (auto token = found->sessionStitchingToken(sessionNumber, isSessionExpired(), hasUserID);
        token && !token->empty()) {
      bundle->setSessionStitchingToken(*token);
    }
  }
  // The identifiers and consent state of the moment.
  auto config = remoteConfig();
  if (found) {
    GWLApplyAdIdentifierConsent(*bundle, GWLConsentSettingsUtil::consentSignals(), config->gateIDFAOnATTMASEnabled(),
                                *found, true);
  }
  GWLApplyConsentDiagnostics(*bundle, GWLConsentSettingsUtil::consentDiagnostics(),
                             GWLConsentSettingsUtil::isAdUserDataDenied(), nullptr, *config, true);
  return bundle;
}

void GWLMeasurement::logFirstOpenConsentedEvent(double timestamp) {
  if (persistedConfig_) persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(false);
  GWLRawParameters parameters = GWLRawParametersFromParameters(firstOpenConsentedEventParams());
  auto self = std::static_pointer_cast<GWLMeasurement>(shared_from_this());
  scheduler_->scheduleOnWorkerQueueBlockID("GWLMeasurement:1025", [self, timestamp, parameters] {
    auto consented = GWLEvent::initWithOrigin(kGWLOriginAuto, false, kConsentedFirstOpenEventName, timestamp, 0,
                                              parameters, self->remoteConfig()->valueLimits());
    if (!consented) return;
    consented->setRealtime(true);
    self->writeEventOnWorkerQueue(consented);
  });
}

// ---------------------------------------------------------------------------
// What the pipeline asks of the layers above

std::shared_ptr<GWLConditionalUserPropertyControlling> GWLMeasurement::conditionalUserPropertyController() const {
  return GWLConditionalUserPropertyController::sharedInstance();
}

std::shared_ptr<GWLEventEditingRuntime> GWLMeasurement::eventEditingRuntime() const {
  auto config = engineRemoteConfig();
  return config ? config->eventEditing() : nullptr;
}

bool GWLMeasurement::hasTrackingAuthorizationClass() const {
  auto support = GWLDefaultIdentitySupport::sharedInstance();
  return support && support->hasAppDataConsentStatus();
}
