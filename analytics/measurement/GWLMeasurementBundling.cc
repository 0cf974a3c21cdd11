// Bundling: the oldest run of raw events that share one metadata bundle
// becomes one upload bundle, inside one database transaction (see
// GWLMeasurementBundling.h for the order of the steps).
#include "analytics/measurement/GWLMeasurementBundling.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>

#include "analytics/foundation/config/GWLAudienceEvaluating.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLSessionReporter.h"
#include "analytics/measurement/GWLRealtimeEventLimits.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "platform/env/AppEnvironment.h"

namespace {

constexpr const char* kRawEventsMetadataTable = "raw_events_metadata";
constexpr const char* kSessionStartEvent = kGWLSessionStartEventName;
constexpr const char* kFirstOpenEvent = "_f";
constexpr const char* kInAppPurchaseEvent = "_iap";
constexpr const char* kEngagementEvent = kGWLUserEngagementEventName;
constexpr const char* kMeasurementInfoEvent = "_fx";
constexpr const char* kMeasurementInfoSourceParameter = "_fxs";
constexpr const char* kEngagementTimeParameter = "_et";
constexpr const char* kForegroundParameter = "_fr";
constexpr const char* kEngagementLogTimeParameter = "_elt";
constexpr const char* kCustomerTypeParameter = "_ct";
constexpr const char* kLifetimeEngagementProperty = "_lte";
constexpr const char* kSessionEngagementProperty = "_se";
constexpr const char* kPSMPropertyPrefix = "_psm";
constexpr const char* kPSMSource = "psm";
constexpr const char* kAutoOrigin = "auto";
constexpr const char* kAppOrigin = "app";
constexpr const char* kQuantityParameter = "quantity";
constexpr const char* kPriceParameter = "price";
constexpr const char* kValueParameter = "value";
constexpr const char* kSandboxParameter = "sandbox";

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

bool failed(const platform::Error& error) { return !error.domain.empty(); }

int64_t saturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? kInt64Max : kInt64Min;
}

// A double as int64, truncated toward zero and held inside the type (NaN is 0).
int64_t clampedInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return kInt64Max;
  if (value <= -9223372036854775808.0) return kInt64Min;
  return static_cast<int64_t>(value);
}

int64_t int64Of(const GWLValue& value) {
  return value.isDouble() ? clampedInt64(value.doubleValue()) : value.int64Value();
}

int64_t millisOf(double seconds) { return clampedInt64(seconds * 1000); }

const GWLValue* parameter(const GWLEvent& event, const char* name) {
  auto it = event.parameters().find(name);
  return it == event.parameters().end() ? nullptr : &it->second;
}

bool hasIntParameterOne(const GWLEvent& event, const char* name) {
  const GWLValue* value = parameter(event, name);
  return value && value->isInt64() && value->int64Value() == 1;
}

// An amount in millionths of its unit, truncated toward zero, computed on the
// decimal the number is written as (1.99 gives 1990000, not 1989999).
// Amounts outside the 64-bit range saturate.
int64_t microsOf(const GWLValue& value) {
  if (value.isInt64()) {
    const int64_t amount = value.int64Value();
    return GWLDecimalNumberToMicros(GWLDecimalNumber::fromInt64(amount)).value_or(amount < 0 ? kInt64Min : kInt64Max);
  }
  const double amount = value.doubleValue();
  if (std::isnan(amount)) return 0;
  if (std::fabs(amount) < 1e-6) return 0;
  if (std::fabs(amount) >= 1e13) return amount < 0 ? kInt64Min : kInt64Max;
  char text[64];
  auto [end, status] = std::to_chars(text, text + sizeof(text), amount, std::chars_format::fixed);
  if (status != std::errc()) return clampedInt64(amount * 1e6);
  const std::string_view written(text, static_cast<size_t>(end - text));
  auto decimal = GWLIsDecimalString(written) ? GWLDecimalNumber::parse(written) : std::nullopt;
  if (!decimal) return clampedInt64(amount * 1e6);
  return GWLDecimalNumberToMicros(*decimal).value_or(amount < 0 ? kInt64Min : kInt64Max);
}

// Signals deny analytics storage when their fourth character is "0", "D" or "d".
bool deniesAnalyticsStorage(const std::optional<std::string>& signals) {
  if (!signals || signals->size() < 4) return false;
  const char c = (*signals)[3];
  return c == '0' || c == 'D' || c == 'd';
}

// The event's wire form; a first open carries its "_elt" in log_timestamp_millis instead of its parameters.
std::shared_ptr<GWLPBEvent> wireEvent(const GWLEvent& event) {
  auto proto = event.protoEvent();
  if (!proto || event.name() != kFirstOpenEvent) return proto;
  const GWLValue* elapsed = parameter(event, kEngagementLogTimeParameter);
  if (!elapsed) return proto;
  auto params = proto->params();
  std::erase_if(params, [](const std::shared_ptr<GWLPBEventParam>& param) {
    return param && param->name() == kEngagementLogTimeParameter;
  });
  proto->setParams(params);
  proto->setEltValue(int64Of(*elapsed));
  return proto;
}

bool isPSMMeasurementInfo(const GWLEvent& event) {
  if (event.name() != kMeasurementInfoEvent) return false;
  const GWLValue* source = parameter(event, kMeasurementInfoSourceParameter);
  return source && source->stringValue() && source->stringValue()->starts_with(kPSMSource);
}

// The length of a stored event's wire form: the stored bytes are that form
// without the name, which adds its key, length and text.
int64_t encodedEventSize(const platform::Dictionary& row, const std::string& name) {
  auto data = row.find("data");
  const platform::Bytes* bytes = data == row.end() ? nullptr : data->second.bytesValue();
  int64_t size = bytes ? static_cast<int64_t>(bytes->size()) : 0;
  if (name.empty()) return size;
  size += 1 + static_cast<int64_t>(name.size());
  for (uint64_t length = name.size(); length >= 0x80; length >>= 7) ++size;
  return size + 1;
}

// The count of today in counters that may still hold another day's.
int32_t countToday(const GWLDailyCounts& counts, int32_t today, int32_t count) {
  return counts.day() == today ? count : 0;
}

}  // namespace

// ============================================================================
// Plain functions
// ============================================================================

bool GWLDeleteConsumedRawEvents(GWLDatabase& database, int64_t maxRowID, int64_t fingerprint) {
  auto monitor = GWLMeasurement::monitor();
  platform::Error error;
  if (!database.deleteRawEventsWithMaxRowID(maxRowID, &error)) {
    GWLLogReport(*monitor, kGWLBundlingDeleteRawEventsFailedReport, maxRowID, error);
    return false;
  }
  auto remaining = database.containsRawEventWithMetadataFingerprint(fingerprint, &error);
  if (!remaining) {
    GWLLogReport(*monitor, kGWLBundlingRawEventExistenceFailedReport, fingerprint, error);
    return false;
  }
  if (!*remaining && !database.deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) {
    GWLLogReport(*monitor, kGWLBundlingDeleteMetadataFailedReport, fingerprint, error);
    return false;
  }
  return true;
}

std::vector<std::shared_ptr<GWLPBUserAttribute>> GWLUserAttributesWithoutPSM(
    std::span<const std::shared_ptr<GWLPBUserAttribute>> attributes) {
  std::vector<std::shared_ptr<GWLPBUserAttribute>> kept;
  for (const auto& attribute : attributes) {
    if (attribute && attribute->name().value_or("").starts_with(kPSMPropertyPrefix)) continue;
    kept.push_back(attribute);
  }
  return kept;
}

bool GWLContainsRealtimeEvent(std::span<const std::shared_ptr<GWLEvent>> events) {
  return std::any_of(events.begin(), events.end(), [](const auto& event) { return event && event->isRealtime(); });
}

// ============================================================================
// The pass
// ============================================================================

bool GWLMeasurement::bundleRawEvents() {
  GWLScheduler::checkOnBackgroundThreadWithMethodName("bundleRawEvents");
  auto database = this->database();
  if (!database) return false;
  BundlingStage stage;
  bundlingStage_ = &stage;
  bool bundleCreated = false;
  const bool committed =
      database->performTransaction([&] { return bundleRawEventsInTransaction(*database, bundleCreated); });
  bundlingStage_ = nullptr;
  // Nothing the pass did stands unless its transaction committed.
  if (!committed) return false;
  if (stage.previousBundledConsentSignals && persistedConfig_) {
    persistedConfig_->setPreviousBundledConsentSignals(*stage.previousBundledConsentSignals);
  }
  if (stage.lastMonitorDataSampledTimestamp && persistedConfig_) {
    persistedConfig_->setLastMonitorDataSampledTimestamp(*stage.lastMonitorDataSampledTimestamp);
  }
  if (stage.clearNPAUpdateFlag) setShouldUpdateNPAUserProperty(false);
  if (bundleCreated) setSuspendedUploadTimestamp(0);
  return bundleCreated;
}

bool GWLMeasurement::bundleRawEventsInTransaction(GWLDatabase& database, bool& bundleCreated) {
  // Steps 3 to 5, again after each damaged row given up.
  std::optional<RawEvents> rawEvents;
  std::shared_ptr<GWLPBMeasurementBundle> bundle;
  int64_t fingerprint = 0;
  for (;;) {
    platform::Error error;
    auto next = database.nextMetadataFingerprintToProcess(&error);
    if (!next && failed(error)) {
      report(kGWLBundlingNextMetadataFailedReport, error);
      return false;
    }
    fingerprint = next.value_or(0);
    std::optional<int64_t> damagedRowID;
    rawEvents = rawEventsWithMetadataFingerprint(fingerprint, &damagedRowID);
    if (!rawEvents) return false;
    if (damagedRowID) {
      // The oldest raw event cannot be read: give it up so that the rest can go.
      report(kGWLBundlingRawEventDataLossReport, *damagedRowID);
      if (!GWLDeleteConsumedRawEvents(database, *damagedRowID, fingerprint)) return false;
      continue;
    }
    if (rawEvents->empty()) return true;

    auto rows = database.dataTypesFromTableWithName<platform::Object>(
        kRawEventsMetadataTable, "metadata_fingerprint", platform::Object(fingerprint), &error,
        [](const platform::Dictionary& row, platform::Error*) -> std::optional<platform::Object> {
          auto it = row.find("metadata");
          return it == row.end() ? platform::Object() : it->second;
        });
    if (!rows) {
      report(kGWLBundlingMetadataFailedReport, fingerprint, error);
      return false;
    }
    const platform::Bytes* bytes = rows->empty() ? nullptr : rows->front().bytesValue();
    if (bytes && !bytes->empty()) bundle = GWLPBMeasurementBundle::initWithBuffer(std::span<const uint8_t>(*bytes));
    if (bundle) break;
    // Without its metadata no event of this run can ever be bundled.
    const int64_t lastRowID = rawEvents->back()->rowID();
    report(kGWLBundlingMetadataDataLossReport, fingerprint, lastRowID);
    if (!GWLDeleteConsumedRawEvents(database, lastRowID, fingerprint)) return false;
  }
  const int64_t lastRowID = rawEvents->back()->rowID();

  // 6.
  auto events = processRawEvents(*rawEvents, fingerprint);
  if (!events) return false;
  if (events->empty()) return true;

  // 7-10.
  const bool analyticsStorageDenied = GWLConsentSettingsUtil::isAnalyticsStorageDenied();
  evaluationTimeFromRawEvents(*rawEvents, *bundle);
  handleAnalyticsStorageConsentTransitions(*bundle);
  auto audience = this->audience();
  auto cache = audience ? audience->newTimestampsCache() : nullptr;
  auto updated = eventsAfterUpdatingEventAggregates(*events, cache, !analyticsStorageDenied);
  if (!updated) return false;

  // 11.
  ProtoEvents protos;
  bool hasPSMMeasurementInfo = false;
  for (const auto& event : *updated) {
    if (auto proto = wireEvent(*event)) protos.push_back(std::move(proto));
    hasPSMMeasurementInfo = hasPSMMeasurementInfo || isPSMMeasurementInfo(*event);
  }

  // 12.
  auto config = remoteConfig();
  if (config->isEventSamplingEnabled() && !monitor_->isDebugModeEnabled()) {
    platform::Error samplingError;
    auto sampled = sampleEvents(protos, &samplingError);
    if (!sampled) return false;
    protos = std::move(*sampled);
    if (protos.empty()) {
      report(kGWLBundlingNoEventsAfterSamplingReport);
      if (!GWLDeleteConsumedRawEvents(database, lastRowID, fingerprint)) return false;
      bundleCreated = true;
      return true;
    }
  }

  // 13.
  bundle->setEvents(protos);
  if (auto buffer = persistedConfig_ ? persistedConfig_->adCampaignInfoBuffer() : std::nullopt) {
    if (const platform::Bytes* campaign = buffer->bytesValue(); campaign && !campaign->empty()) {
      if (auto info = GWLPBAdCampaignInfo::initWithBuffer(std::span<const uint8_t>(*campaign))) {
        bundle->setAdCampaignInfo(*info);
      }
    }
  }
  double start = std::numeric_limits<double>::infinity();
  double end = -std::numeric_limits<double>::infinity();
  for (const auto& raw : *rawEvents) {
    start = std::min(start, raw->rawEvent()->timestamp());
    end = std::max(end, raw->rawEvent()->timestamp());
  }

  // 14.
  if (!updateAppMetadataForBundle(*bundle, start, end)) return false;

  // 15.
  if (shouldUpdateNPAUserProperty()) {
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    if (bundlingStage_) {
      bundlingStage_->clearNPAUpdateFlag = true;
    } else {
      setShouldUpdateNPAUserProperty(false);
    }
  }
  if (isAdStorageDenied() && !hasPSMMeasurementInfo) {
    bundle->clearOnDeviceMeasurementInfo();
    bundle->setUserAttributes(GWLUserAttributesWithoutPSM(bundle->userAttributes()));
  }

  // 16.
  if (!analyticsStorageDenied && audience) {
    for (const auto& attribute : bundle->userAttributes()) {
      if (!audience->evaluateFiltersForNanoUserProperty(attribute, cache, start)) return false;
    }
    auto results = audience->resultsForBundling();
    if (!results) {
      report(kGWLBundlingAudienceResultsFailedReport);
      return false;
    }
    if (!results->empty()) bundle->setAudienceEvaluationResults(*results);
  }

  // 17.
  addBundleMetadataIntoBundle(*bundle, start, end);
  if (bundle->hasSessionStitchingToken() &&
      (analyticsStorageDenied || !config->sessionStitchingTokenFeatureEnabled())) {
    bundle->clearSessionStitchingToken();
  }

  // 18.
  platform::Error insertError;
  if (!database.insertBundle(*bundle, GWLContainsRealtimeEvent(*updated), &insertError)) {
    report(kGWLBundlingInsertBundleFailedReport, insertError);
    return false;
  }

  // 19.
  report(kGWLLevelVerbose, kGWLBundlingConsentDescriptionCode, GWLConsentSettingsUtil::description());
  report(kGWLBundlingBundleQueuedReport, bundle->bundleIndex(), bundle->endTimestamp());
  if (!GWLDeleteConsumedRawEvents(database, lastRowID, fingerprint)) return false;
  bundleCreated = true;
  return true;
}

// ============================================================================
// Reading raw events
// ============================================================================

std::optional<GWLMeasurement::RawEvents> GWLMeasurement::rawEventsWithMetadataFingerprint(
    int64_t fingerprint, std::optional<int64_t>* damagedRowID) {
  auto database = this->database();
  if (!database) return std::nullopt;
  auto config = remoteConfig();
  const int64_t maxEvents = config->uploadMaxEventsPerBundle();
  const int64_t maxSize = config->uploadMaxSizeLimitBytes();

  int64_t firstHour = -1;
  int64_t lastRowID = -1;
  int64_t size = 0;
  platform::Error error;
  auto records = database->rawEventsWithMetadataFingerprint(
      fingerprint, &error, [&](size_t index, const platform::Dictionary& row) {
        if (index > 0 && static_cast<int64_t>(index) >= maxEvents) return false;
        platform::Error decodeError;
        auto record = database->rawEventDataFromDictionary(row, &decodeError);
        if (!record) {
          report(kGWLBundlingFilterRawEventFailedReport, decodeError);
          if (index == 0 && damagedRowID) {
            auto rowID = row.find("rowid");
            if (rowID != row.end() && rowID->second.intValue()) *damagedRowID = *rowID->second.intValue();
          }
          return false;
        }
        const int64_t hour = clampedInt64(record->rawEvent()->timestamp()) / 3600;
        if (index == 0) {
          firstHour = hour;
        } else if (hour != firstHour || record->rowID() != lastRowID + 1) {
          return false;
        }
        const int64_t eventSize = encodedEventSize(row, record->rawEvent()->name());
        if (index > 0 && size + eventSize >= maxSize) return false;
        size += eventSize;
        lastRowID = record->rowID();
        return true;
      });
  if (!records || (records->empty() && failed(error))) {
    report(kGWLBundlingRawEventExpectedReport, error);
    return std::nullopt;
  }
  return records;
}

// ============================================================================
// Rejection, daily limits, purchases
// ============================================================================

std::optional<GWLMeasurement::Events> GWLMeasurement::processRawEvents(const RawEvents& rawEvents,
                                                                       int64_t fingerprint) {
  auto database = this->database();
  if (!database || rawEvents.empty()) return std::nullopt;
  auto config = remoteConfig();
  const int64_t lastRowID = rawEvents.back()->rowID();

  RawEvents accepted;
  for (const auto& raw : rawEvents) {
    const GWLEvent& event = *raw->rawEvent();
    const std::string& name = event.name();
    const auto& reserved = GWLPublicToInternalEventNameMap();
    auto internal = reserved.find(name);
    const bool hasInternal = internal != reserved.end();
    if (hasInternal && config->blocklistInternal() && !config->blocklistPublic()) {
      accepted.push_back(raw);
      continue;
    }
    if (config->isEventBlocklisted(name) || (hasInternal && config->isEventBlocklisted(internal->second))) {
      report(kGWLBundlingRejectedEventReport, GWLEventNameForLog(name));
      continue;
    }
    if (config->redundantEngagementRemovalEnabled() && name == kEngagementEvent &&
        hasIntParameterOne(event, kForegroundParameter)) {
      continue;
    }
    accepted.push_back(raw);
  }
  if (accepted.empty()) {
    if (!GWLDeleteConsumedRawEvents(*database, lastRowID, fingerprint)) return std::nullopt;
    report(kGWLBundlingRejectedAllReport);
    return Events{};
  }

  platform::Error error;
  auto counts = database->dailyCounts(&error);
  if (!counts) {
    report(kGWLBundlingDailyCountsQueryFailedReport, error);
    return std::nullopt;
  }
  bool countsChanged = false;
  Events events;
  std::string lastName;
  for (const auto& raw : accepted) {
    auto current = internalEventFromPublicEvent(raw);
    countsChanged = checkConversion(current, *counts) || countsChanged;
    countsChanged = checkRealtime(current, *counts) || countsChanged;
    current = processInAppPurchaseEvent(current);
    lastName = current->rawEvent()->name();
    events.push_back(current->rawEvent());
  }
  if (countsChanged && !database->updateDailyCounts(*counts, &error)) {
    report(kGWLBundlingDailyCountsUpdateFailedReport, GWLEventNameForLog(lastName), error);
    return std::nullopt;
  }
  return events;
}

std::shared_ptr<GWLRawEventData> GWLMeasurement::internalEventFromPublicEvent(
    const std::shared_ptr<GWLRawEventData>& rawEvent) {
  const GWLEvent& event = *rawEvent->rawEvent();
  const auto& reserved = GWLPublicToInternalEventNameMap();
  auto internal = reserved.find(event.name());
  if (internal == reserved.end()) return rawEvent;
  auto renamed = GWLEvent::initWithOrigin(event.origin(), false, internal->second, event.timestamp(),
                                          event.previousTimestamp(), GWLRawParametersFromParameters(event.parameters()),
                                          event.limits());
  auto record = renamed ? GWLRawEventData::initWithRawEvent(renamed, rawEvent->rowID(),
                                                            rawEvent->metadataFingerprint())
                        : nullptr;
  return record ? record : rawEvent;
}

bool GWLMeasurement::checkConversion(const std::shared_ptr<GWLRawEventData>& rawEvent, GWLDailyCounts& dailyCounts) {
  GWLEvent& event = *rawEvent->rawEvent();
  auto config = remoteConfig();
  if (config->isEventCustomConversion(event.name())) event.setConversion(true);
  if (event.name().empty() || !GWLIsPublicName(event.name()) || !event.isConversion()) return false;
  auto database = this->database();
  const int32_t today = database ? database->currentDayIndex() : dailyCounts.day();
  const int32_t limit = config->maxConversionsPerDay();
  if (countToday(dailyCounts, today, dailyCounts.conversionsCount()) < limit) {
    // A conversion counts once for the day; the event itself was counted when it was written.
    dailyCounts.incrementCountsForCurrentDay(today, false, true);
    dailyCounts.decrementAllEventsCount();
    return true;
  }
  event.setConversion(false);
  report(kGWLBundlingTooManyConversionsReport, GWLEventNameForLog(event.name()), limit);
  return false;
}

bool GWLMeasurement::checkRealtime(const std::shared_ptr<GWLRawEventData>& rawEvent, GWLDailyCounts& dailyCounts) {
  GWLEvent& event = *rawEvent->rawEvent();
  if (!event.isRealtime() && !event.isConversion()) return false;
  auto config = remoteConfig();
  auto database = this->database();
  const int32_t today = database ? database->currentDayIndex() : dailyCounts.day();
  const bool debug = monitor_->isDebugModeEnabled();
  if (!debug && GWLIsRealtimeLimitedEvent(event)) {
    if (countToday(dailyCounts, today, dailyCounts.realtimeCount()) < config->maxRealtimeEventCountPerDay()) {
      dailyCounts.incrementRealtimeCountsForCurrentDay(today);
      event.setRealtime(true);
      report(kGWLBundlingRealtimeUnderLimitReport, GWLEventNameForLog(event.name()),
             GWLDescriptionForLog(event.parameters()));
      return true;
    }
    event.setRealtime(false);
    report(kGWLBundlingRealtimeOverLimitReport, GWLEventNameForLog(event.name()),
           GWLDescriptionForLog(event.parameters()));
    return false;
  }
  if (!debug && GWLIsDCURealtimeLimitedEvent(event)) {
    if (countToday(dailyCounts, today, dailyCounts.dcuRealtimeCount()) < config->maxRealtimeDCUEventCountPerDay()) {
      dailyCounts.incrementDCURealtimeCountsForCurrentDay(today);
      event.setRealtime(true);
      return true;
    }
    event.setRealtime(false);
    return false;
  }
  event.setRealtime(true);
  report(kGWLBundlingRealtimeUnlimitedReport, GWLEventNameForLog(event.name()),
         GWLDescriptionForLog(event.parameters()));
  return false;
}

std::shared_ptr<GWLRawEventData> GWLMeasurement::processInAppPurchaseEvent(
    const std::shared_ptr<GWLRawEventData>& rawEvent) {
  const GWLEvent& event = *rawEvent->rawEvent();
  if (event.name() != kInAppPurchaseEvent) return rawEvent;
  return event.origin() == kAppOrigin ? processManualInAppPurchaseEvent(rawEvent)
                                      : validateAutomaticInAppPurchaseEvent(rawEvent);
}

namespace {

std::shared_ptr<GWLRawEventData> withParameters(const std::shared_ptr<GWLRawEventData>& rawEvent,
                                                const GWLParameters& parameters) {
  auto changed = rawEvent->rawEvent()->copyWithParameters(GWLRawParametersFromParameters(parameters));
  auto record =
      changed ? GWLRawEventData::initWithRawEvent(changed, rawEvent->rowID(), rawEvent->metadataFingerprint()) : nullptr;
  return record ? record : rawEvent;
}

}  // namespace

std::shared_ptr<GWLRawEventData> GWLMeasurement::validateAutomaticInAppPurchaseEvent(
    const std::shared_ptr<GWLRawEventData>& rawEvent) {
  const GWLEvent& event = *rawEvent->rawEvent();
  GWLParameters parameters = event.parameters();
  if (parameters.contains(kSandboxParameter) || !GWLAEU::isASRS()) return withParameters(rawEvent, parameters);
  parameters.insert_or_assign(kSandboxParameter, GWLValue::initWithInt64(1));
  return withParameters(rawEvent, parameters);
}

std::shared_ptr<GWLRawEventData> GWLMeasurement::processManualInAppPurchaseEvent(
    const std::shared_ptr<GWLRawEventData>& rawEvent) {
  GWLParameters parameters = rawEvent->rawEvent()->parameters();
  auto quantity = parameters.find(kQuantityParameter);
  if (quantity == parameters.end() || !(quantity->second.isInt64() || quantity->second.isDouble())) {
    parameters.insert_or_assign(kQuantityParameter, GWLValue::initWithInt64(1));
  }
  for (const char* name : {kPriceParameter, kValueParameter}) {
    auto amount = parameters.find(name);
    if (amount == parameters.end() || !(amount->second.isInt64() || amount->second.isDouble())) continue;
    amount->second = GWLValue::initWithInt64(microsOf(amount->second));
  }
  return withParameters(rawEvent, parameters);
}

// ============================================================================
// Sessions, engagement, consent transitions
// ============================================================================

std::optional<double> GWLMeasurement::evaluationTimeFromRawEvents(const RawEvents& rawEvents,
                                                                  GWLPBMeasurementBundle& bundle) {
  auto database = this->database();
  if (!database) return std::nullopt;
  const bool sessionStart = std::any_of(rawEvents.begin(), rawEvents.end(), [](const auto& raw) {
    return raw->rawEvent()->name() == kSessionStartEvent;
  });
  if (sessionStart) {
    [&] {
      auto audience = this->audience();
      if (audience) {
        // A failed reset is reported by the audience (6040-6043); the bundle is built either way.
        (void)audience->clearEvaluationResultsForSessionScopedFilters();
        for (const auto& attribute : bundle.userAttributes()) {
          if (!audience->evaluateFiltersForNanoUserProperty(attribute, nullptr, std::nullopt)) return;
        }
      }
      platform::Error error;
      if (!database->clearCurrentSessionCounts(&error)) report(kGWLBundlingClearSessionCountsFailedReport, error);
    }();
  }

  int64_t engagement = 0;
  for (const auto& raw : rawEvents) {
    const GWLEvent& event = *raw->rawEvent();
    const GWLValue* time = parameter(event, kEngagementTimeParameter);
    if (!time || parameter(event, kForegroundParameter)) continue;
    engagement = saturatingAdd(engagement, int64Of(*time));
  }
  if (!updateUserEngagement(engagement, bundle, false)) return std::nullopt;
  if (sessionStart) {
    platform::Error error;
    if (!database->deleteUserAttributeWithName(kSessionEngagementProperty, &error)) {
      report(kGWLBundlingDeleteSessionEngagementFailedReport, error);
      return std::nullopt;
    }
    // The bundle must not carry the session engagement of the session that ended.
    auto attributes = bundle.userAttributes();
    std::erase_if(attributes, [](const std::shared_ptr<GWLPBUserAttribute>& attribute) {
      return attribute && attribute->name() == kSessionEngagementProperty;
    });
    bundle.setUserAttributes(attributes);
  }
  updateUserEngagement(engagement, bundle, true);
  return std::nullopt;
}

bool GWLMeasurement::updateUserEngagement(int64_t milliseconds, GWLPBMeasurementBundle& bundle, bool sessionScoped) {
  const char* name = sessionScoped ? kSessionEngagementProperty : kLifetimeEngagementProperty;
  if (milliseconds < 0) {
    report(kGWLBundlingNegativeEngagementReport);
    return false;
  }
  if (milliseconds == 0) return true;
  auto database = this->database();
  if (!database) return false;
  platform::Error error;
  auto stored = database->userAttributeWithName(name, &error);
  if (!stored && failed(error)) {
    report(kGWLBundlingEngagementQueryFailedReport, GWLUserPropertyNameForLog(name), error);
    return false;
  }
  const int64_t total = stored ? saturatingAdd(milliseconds, int64Of(stored->value())) : milliseconds;
  const double setTime = now();
  auto attribute = GWLUserAttribute::initWithOrigin(kAutoOrigin, name, GWLValue::initWithInt64(total), setTime);
  if (!attribute || !setUserPropertyInDatabaseOnWorkerQueue(attribute)) return false;

  auto attributes = bundle.userAttributes();
  auto existing = std::find_if(attributes.begin(), attributes.end(), [&](const auto& candidate) {
    return candidate && candidate->name() == name;
  });
  std::shared_ptr<GWLPBUserAttribute> property;
  if (existing != attributes.end()) {
    property = *existing;
  } else {
    property = GWLPBUserAttribute::initWithMessageInfo();
    if (!property) return true;
    property->setName(name);
    attributes.push_back(property);
  }
  property->clearStringValue();
  property->clearDoubleValue();
  property->setIntValue(total);
  property->setSetTimestamp(millisOf(setTime));
  bundle.setUserAttributes(attributes);
  return true;
}

void GWLMeasurement::handleAnalyticsStorageConsentTransitions(const GWLPBMeasurementBundle& bundle) {
  auto database = this->database();
  if (!database) return;
  const std::optional<std::string> signals = bundle.consentSignals();
  std::optional<std::string> previous;
  if (bundlingStage_ && bundlingStage_->previousBundledConsentSignals) {
    previous = *bundlingStage_->previousBundledConsentSignals;
  } else if (persistedConfig_) {
    previous = persistedConfig_->previousBundledConsentSignals();
  }
  if (signals == previous) return;
  const bool wasDenied = deniesAnalyticsStorage(previous);
  const bool isDenied = deniesAnalyticsStorage(signals);
  platform::Error error;
  if (!wasDenied && isDenied) {
    if (!database->createEventsSnapshotTable(&error)) report(kGWLBundlingSnapshotFailedReport, error);
  } else if (wasDenied && !isDenied) {
    if (!database->restoreFromEventsSnapshotTable(&error)) report(kGWLBundlingRestoreFailedReport, error);
  }
  if (bundlingStage_) {
    bundlingStage_->previousBundledConsentSignals = signals;
  } else if (persistedConfig_) {
    persistedConfig_->setPreviousBundledConsentSignals(signals);
  }
}

// ============================================================================
// Aggregates and bundle metadata
// ============================================================================

std::optional<GWLMeasurement::Events> GWLMeasurement::eventsAfterUpdatingEventAggregates(
    const Events& events, const std::shared_ptr<GWLAudienceTimestampsCache>& cache, bool allowEventFilterEvaluation) {
  auto database = this->database();
  if (!database) return std::nullopt;
  auto audience = this->audience();
  Events updated;
  for (const auto& event : events) {
    auto current = purchaseEventWithCustomerTypeParam(event);
    platform::Error error;
    auto aggregates = database->eventAggregatesWithName(current->name(), &error);
    if (!aggregates && failed(error)) {
      report(kGWLBundlingAggregatesQueryFailedReport, GWLEventNameForLog(current->name()), error);
      return std::nullopt;
    }
    if (aggregates) {
      if (auto withPrevious = current->copyWithPreviousTimestamp(aggregates->lastFireTimestamp())) {
        current = withPrevious;
      }
      aggregates->incrementCurrentBundleCount();
      aggregates->incrementLifetimeCount();
      aggregates->incrementCurrentSessionCount();
      aggregates->setLastFireTimestamp(current->timestamp());
    } else {
      aggregates = GWLEventAggregates::initWithName(current->name(), 1, 1, 1, current->timestamp());
    }
    if (aggregates && !database->updateEventAggregates(aggregates, &error)) {
      report(kGWLBundlingAggregatesUpdateFailedReport, error);
      return std::nullopt;
    }
    if (allowEventFilterEvaluation && audience && !audience->evaluateFiltersForEvent(current, aggregates, cache)) {
      return std::nullopt;
    }
    updated.push_back(current);
  }
  return updated;
}

std::shared_ptr<GWLEvent> GWLMeasurement::purchaseEventWithCustomerTypeParam(const std::shared_ptr<GWLEvent>& event) {
  if (!remoteConfig()->customerTypeEnabled() || !GWLIsPurchaseEventName(event->name())) return event;
  auto database = this->database();
  if (!database) return event;
  platform::Error error;
  auto all = database->allEventAggregates(&error);
  if (!all) {
    report(kGWLBundlingAllAggregatesFailedReport, error);
    return event;
  }
  const bool returning = std::any_of(all->begin(), all->end(), [](const auto& aggregates) {
    return aggregates && GWLIsPurchaseEventName(aggregates->name()) && aggregates->lifetimeCount() > 0;
  });
  GWLParameters parameters = event->parameters();
  parameters.insert_or_assign(kCustomerTypeParameter, *GWLValue::initWithString(returning ? "returning" : "new"));
  auto typed = event->copyWithParameters(GWLRawParametersFromParameters(parameters));
  return typed ? typed : event;
}

bool GWLMeasurement::updateAppMetadataForBundle(GWLPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                double bundleEndTimestamp) {
  auto database = this->database();
  if (!database) return false;
  platform::Error error;
  auto metadata = database->queryAppMetadata(&error);
  if (!metadata) {
    report(kGWLBundlingAppMetadataQueryFailedReport, error);
    return false;
  }
  const int64_t previousStart = millisOf(metadata->lastBundleStartTimestamp());
  const int64_t previousEnd = millisOf(metadata->lastBundleEndTimestamp());
  const int64_t previous = previousStart > 0 ? previousStart : previousEnd;
  if (previous > 0) bundle.setPreviousBundleStartTimestamp(previous);
  if (previousEnd > 0) bundle.setPreviousBundleEndTimestamp(previousEnd);
  metadata->increaseLastBundleIndex(static_cast<int32_t>(bundle.eventsCount()));
  metadata->incrementLastDeliveryIndex();
  metadata->setLastBundleStartTimestamp(bundleStartTimestamp);
  metadata->setLastBundleEndTimestamp(bundleEndTimestamp);
  bundle.setBundleIndex(metadata->lastBundleIndex());
  bundle.setDeliveryIndex(metadata->lastDeliveryIndex());
  if (!database->updateAppMetadata(metadata, &error)) {
    report(kGWLBundlingAppMetadataUpdateFailedReport, error);
    return false;
  }
  return true;
}

void GWLMeasurement::addBundleMetadataIntoBundle(GWLPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                 double bundleEndTimestamp) {
  auto config = remoteConfig();
  const std::vector<int32_t> experiments = config->experimentIDs();
  if (!experiments.empty()) {
    const std::vector<uint32_t> ids(experiments.begin(), experiments.end());
    bundle.setExperimentIds(ids);
  }

  double lastSampled = persistedConfig_ ? persistedConfig_->lastMonitorDataSampledTimestamp() : 0;
  if (bundlingStage_ && bundlingStage_->lastMonitorDataSampledTimestamp) {
    lastSampled = *bundlingStage_->lastMonitorDataSampledTimestamp;
  }
  if (auto sample = monitor_->monitoringDataForDispatchWithSamplePeriod(config->monitoringSamplePeriod(), lastSampled)) {
    bundle.setMonitoringData(*sample);
    if (bundlingStage_) {
      bundlingStage_->lastMonitorDataSampledTimestamp = now();
    } else if (persistedConfig_) {
      persistedConfig_->setLastMonitorDataSampledTimestamp(now());
    }
  }

  if (engineRemoteConfig() && config->version() >= 0) bundle.setConfigVersion(config->version());

  if (bundle.appId().value_or("").empty()) {
    auto identity = this->identity();
    std::string appID = identity ? identity->appID().value_or("") : std::string();
    if (appID.empty()) {
      if (auto environment = this->environment()) appID = environment->bundleIdentifier();
    }
    if (!appID.empty()) bundle.setAppId(appID);
  }
  bundle.setStartTimestamp(millisOf(bundleStartTimestamp));
  bundle.setEndTimestamp(millisOf(bundleEndTimestamp));
}
