// The engine's default event parameters (kept in the persisted settings,
// merged under every event's own, backfilled into stored events when set
// before the app's first own event) and the backfill of a new session's ID
// into the events stored just before the session began.
#include <algorithm>
#include <string>
#include <utility>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/foundation/values/GWLEventParameters.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLMeasurementOperations.h"
#include "analytics/measurement/GWLSessionReporter.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "platform/text/Utf8.h"

namespace {

using Report = GWLAnalyticsReport;

constexpr Report kInvalidDefaultKeyReport{kGWLLevelWarningSampled, 23212,
                                          "Invalid key in default event parameters. Parameter ignored."};
constexpr Report kInvalidDefaultValueReport{kGWLLevelWarningSampled, 23213,
                                            "Invalid key in default event parameters. Parameter ignored."};
constexpr Report kInvalidDefaultNameReport{kGWLLevelWarningSampled, 23214, "Invalid default event parameter name. Name"};
constexpr Report kTooManyDefaultsReport{kGWLLevelWarningSampled, 23215,
                                        "Too many default event parameters set. Discarding beyond event parameter limit"};
constexpr Report kDefaultsSetReport{kGWLLevelDebug, 23216, "Updating default event parameters. Parameters"};
constexpr Report kBackfillReadFailedReport{
    kGWLLevelErrorSampled, 23270, "Unable to backfill events with default event parameters. Fetch failed. Error"};
constexpr Report kBackfillUpdateFailedReport{
    kGWLLevelErrorSampled, 23271,
    "Unable to backfill some events with default event parameters. Update failed. Count, last error"};
constexpr Report kDefaultsSetWithBackfillReport{kGWLLevelDebug, 23272,
                                                "Updating default event parameters with backfill. Parameters"};
constexpr Report kSessionMetadataReadFailedReport{kGWLLevelErrorSampled, 23273,
                                                  "Unable to backfill session ID. Fetch metadata failed. Error"};

// Error event codes: an array among the defaults; more defaults than an event may carry.
constexpr int64_t kDefaultParameterArrayErrorCode = 27;
constexpr int64_t kDefaultParameterLimitErrorCode = 26;

constexpr const char* kHandleDefaultsMethod = "handleSetDefaultEventParametersOnWorkerQueue:";
constexpr const char* kAppOriginPrefix = "app";
constexpr const char* kFirstOpenEventName = "_f";
constexpr const char* kSessionIDParameter = kGWLSessionIDProperty;
constexpr const char* kSessionNumberParameter = kGWLSessionNumberProperty;
// Without a stored first open, events this many seconds before a session's start join it.
constexpr double kSessionBackfillLeadTime = 15;

// A session ID (its start time in seconds) as a number.
double secondsOf(const GWLValue& value) {
  return value.isInt64() ? static_cast<double>(value.int64Value()) : value.doubleValue();
}

}  // namespace

// ---------------------------------------------------------------------------
// Default event parameters

void GWLMeasurementOperations::setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) {
  post(2650, [weak = weakSelf(), parameters] {
    auto self = weak.lock();
    if (!self) return;
    const bool backfill = self->shouldBackfillEvents();
    self->handleSetDefaultEventParametersOnWorkerQueue(parameters, backfill);
  });
}

void GWLMeasurementOperations::handleSetDefaultEventParametersOnWorkerQueue(
    const std::optional<platform::Dictionary>& parameters, bool backfillEvents) {
  GWLScheduler::checkOnBackgroundThreadWithMethodName(kHandleDefaultsMethod);
  auto monitor = engineMonitor();
  auto settings = persistedConfig();
  auto config = remoteConfig();
  const GWLValueLimits limits = config ? config->valueLimits() : GWLValueLimits{};

  platform::Dictionary defaults;
  if (parameters && settings) defaults = settings->defaultEventParameters().value_or(platform::Dictionary{});

  for (const auto& [name, value] : parameters.value_or(platform::Dictionary{})) {
    // Names come in as text; bytes that are not UTF-8 are no text.
    if (!platform::utf8::isValid(name)) {
      GWLLogReport(*monitor, kInvalidDefaultKeyReport);
      continue;
    }
    if (!value.isNull() && !value.isNumberOrBool() && !value.isString()) {
      if (value.isArray()) GWLLogErrorEvent(kDefaultParameterArrayErrorCode);
      GWLLogReport(*monitor, kInvalidDefaultValueReport);
      continue;
    }
    if (!GWLDataTypeValidator::isValidPublicEventParameterName(name)) {
      GWLLogReport(*monitor, kInvalidDefaultNameReport, name);
      continue;
    }
    if (value.isNull()) {
      defaults.erase(name);
      continue;
    }
    // The value as given is kept; it only has to make a valid public value.
    const std::optional<GWLValue> converted = GWLValue::valueFromObject(value);
    if (converted && GWLDataTypeValidator::isValidPublicEventParameterValue(&*converted, limits)) {
      defaults.insert_or_assign(name, value);
    }
  }

  const size_t limit = static_cast<size_t>(std::max<int32_t>(limits.maxPublicEventParams, 0));
  if (defaults.size() > limit) {
    // The events' own trimming decides which names stay.
    GWLParameters names;
    for (const auto& entry : defaults) names.emplace(entry.first, GWLValue::initWithInt64(0));
    GWLTrimPublicParameters(names, limit);
    std::erase_if(defaults, [&names](const auto& entry) { return !names.count(entry.first); });
    GWLLogErrorEvent(kDefaultParameterLimitErrorCode);
    GWLLogReport(*monitor, kTooManyDefaultsReport);
  }

  const std::string description = GWLDescriptionForLog(platform::Object(defaults));
  if (backfillEvents) {
    const double since = initTimestamp();
    backfillEventsWithParameters(GWLRawParametersFromDictionary(defaults), true,
                                 [since](const GWLRawEventData& row) { return row.rawEvent()->timestamp() >= since; });
    GWLLogReport(*monitor, kDefaultsSetWithBackfillReport, description);
  } else {
    GWLLogReport(*monitor, kDefaultsSetReport, description);
  }
  if (settings) settings->setDefaultEventParameters(defaults);
}

bool GWLMeasurementOperations::shouldBackfillEvents() {
  auto db = database();
  if (!db) return false;
  auto rows = db->allRawEventsWithError();
  if (!rows || rows->empty()) return false;
  const double since = initTimestamp();
  for (const auto& row : *rows) {
    const GWLEvent& event = *row->rawEvent();
    if (event.timestamp() >= since && event.origin().starts_with(kAppOriginPrefix)) return false;
  }
  return true;
}

void GWLMeasurementOperations::backfillEventsWithParameters(const GWLRawParameters& parameters, bool isPublic,
                                                            const RawEventFilter& eventFilter) {
  if (parameters.empty()) return;
  auto monitor = engineMonitor();
  auto db = database();
  platform::Error readError;
  auto rows = db ? db->allRawEventsWithError(&readError) : std::nullopt;
  if (!rows) {
    GWLLogReport(*monitor, kBackfillReadFailedReport, errorContext(readError));
    return;
  }
  int64_t failures = 0;
  platform::Error lastError;
  for (const auto& row : *rows) {
    if (eventFilter && !eventFilter(*row)) continue;
    row->rawEvent()->applyParameters(parameters, isPublic);
    platform::Error error;
    // A rewrite that did not happen counts, whether or not an error came back.
    if (!db->updateRawEvent(row, &error)) {
      ++failures;
      if (!errorContext(error).isNull()) lastError = error;
    }
  }
  if (failures > 0) GWLLogReport(*monitor, kBackfillUpdateFailedReport, failures, errorContext(lastError));
}

std::optional<GWLRawParameters> GWLMeasurementOperations::parametersWithAddedDefaultEventParameters(
    const std::optional<GWLRawParameters>& parameters) {
  auto settings = persistedConfig();
  const std::optional<platform::Dictionary> defaults = settings ? settings->defaultEventParameters() : std::nullopt;
  if (!defaults || defaults->empty()) return parameters;
  GWLRawParameters merged = GWLRawParametersFromDictionary(*defaults);
  for (const auto& [name, value] : parameters.value_or(GWLRawParameters{})) merged.insert_or_assign(name, value);
  return merged;
}

// ---------------------------------------------------------------------------
// Session ID backfill

double GWLMeasurementOperations::backfillStartTimestampForSessionID(const GWLValue& sessionID) {
  if (auto db = database()) {
    if (auto rows = db->allRawEventsWithError()) {
      for (const auto& row : *rows) {
        if (row->rawEvent()->name() == kFirstOpenEventName) return row->rawEvent()->timestamp();
      }
    }
  }
  return secondsOf(sessionID) - kSessionBackfillLeadTime;
}

bool GWLMeasurementOperations::shouldBackfillSessionID(const GWLValue& /*sessionID*/, double startTimestamp,
                                                       FingerprintToSessionIDExistence& fingerprintToSessionIDExistence,
                                                       const GWLRawEventData& row) {
  if (row.rawEvent()->timestamp() < startTimestamp) return false;
  const int64_t fingerprint = row.metadataFingerprint();
  if (auto cached = fingerprintToSessionIDExistence.find(fingerprint);
      cached != fingerprintToSessionIDExistence.end()) {
    return !cached->second;
  }
  auto db = database();
  platform::Error error;
  auto metadata = db ? db->queryRawEventsMetadataWithFingerprint(fingerprint, &error) : nullptr;
  if (!metadata) {
    GWLLogReport(*engineMonitor(), kSessionMetadataReadFailedReport, errorContext(error));
    return false;
  }
  bool hasSessionID = false;
  for (const auto& attribute : metadata->userAttributes()) {
    if (attribute && attribute->name() == kSessionIDParameter) {
      hasSessionID = true;
      break;
    }
  }
  fingerprintToSessionIDExistence[fingerprint] = hasSessionID;
  return !hasSessionID;
}

void GWLMeasurementOperations::backfillSessionID(const GWLValue& sessionID, const GWLValue& sessionNumber) {
  const double start = backfillStartTimestampForSessionID(sessionID);
  FingerprintToSessionIDExistence cache;
  backfillEventsWithParameters({{kSessionIDParameter, sessionID}, {kSessionNumberParameter, sessionNumber}}, false,
                               [&](const GWLRawEventData& row) {
                                 return shouldBackfillSessionID(sessionID, start, cache, row);
                               });
}
