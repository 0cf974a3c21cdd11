// Event sampling: events whose configuration gives them a rate r keep on
// average one occurrence in r, while the first occurrence of each account day
// is always kept (marked "_efs"). Kept events carry their rate in "_sr". The
// bookkeeping lives in the sampling fields of the event aggregates, written
// inside the bundling transaction.
#include <cmath>
#include <limits>
#include <map>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLEventParameters.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLMeasurementBundling.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "platform/crypto/SecureRandom.h"

namespace {

constexpr const char* kComplexEventIDParameter = "_eid";

// The account's day of a time in milliseconds: the integer part of
// (t / 1000 + offset minutes x 60) / 86400.
int32_t accountDayIndex(int64_t millis, int32_t offsetMinutes) {
  const double days = (static_cast<double>(millis) / 1000 + offsetMinutes * 60.0) / 86400;
  if (!(std::fabs(days) < std::numeric_limits<int32_t>::max())) return 0;
  return static_cast<int32_t>(days);
}

// Appends an int64 parameter unless one of that name exists; false when the
// parameter could not be made.
bool addIntParam(GWLPBEvent& event, const char* name, int64_t value) {
  auto params = event.params();
  if (GWLEventParamsContainName(params, name)) return true;
  auto param = GWLPBEventParam::initWithMessageInfo();
  if (!param) return false;
  param->setName(name);
  param->setIntValue(value);
  params.push_back(std::move(param));
  event.setParams(params);
  return true;
}

// The first "_eid" parameter's int64 value, when there is one.
std::optional<int64_t> complexEventID(const GWLPBEvent& event) {
  for (const auto& param : event.params()) {
    if (param && param->name() == kComplexEventIDParameter) return param->intValue();
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<platform::Random> GWLDefaultSamplingRandom() { return std::make_shared<platform::SecureRandom>(); }

void GWLAddSamplingRateParam(GWLPBEvent& event, int32_t rate) {
  if (!addIntParam(event, kGWLSamplingRateParameter, rate)) {
    GWLLogReport(*GWLMeasurement::monitor(), kGWLSamplingRateParamFailedReport);
  }
}

bool GWLMeasurement::isEventBundledAfterRoll(int32_t rate) {
  if (rate <= 1) return true;
  return random_->uniform(static_cast<uint64_t>(rate)) == 0;
}

bool GWLMeasurement::canEventBeSampled(const GWLPBEvent& event) {
  auto config = remoteConfig();
  const std::string name = event.name().value_or("");
  if (!config->isEventSamplingEnabled() || !config->eventHasSamplingRate(name)) return false;
  if (config->samplingRateForEvent(name) <= 1) {
    report(kGWLSamplingInvalidRateReport);
    return false;
  }
  return true;
}

std::optional<GWLMeasurement::ProtoEvents> GWLMeasurement::sampleEvents(const ProtoEvents& events,
                                                                       platform::Error* error) {
  auto database = this->database();
  if (!database) {
    platform::setError(error, platform::Error(kGWLErrorDomain, kGWLErrorCodeUninitialized, "Database not open"));
    return std::nullopt;
  }
  auto config = remoteConfig();
  const int32_t offsetMinutes = config->analyticsAccountTimeZoneOffsetMinutes();

  platform::Error readError;
  auto all = database->allEventAggregates(&readError);
  if (!all) {
    report(kGWLSamplingAggregatesCacheFailedReport, readError);
    platform::setError(error, readError);
    return std::nullopt;
  }
  std::map<std::string, std::shared_ptr<GWLEventAggregates>> byName;
  for (const auto& aggregates : *all) {
    if (aggregates) byName.insert_or_assign(aggregates->name(), aggregates);
  }

  ProtoEvents kept;
  for (const auto& event : events) {
    if (!event) continue;
    const std::string name = event->name().value_or("");
    if (name.empty()) {
      report(kGWLSamplingNamelessEventReport);
      continue;
    }
    auto found = byName.find(name);
    GWLEventAggregates* aggregates = found == byName.end() ? nullptr : found->second.get();
    const int64_t millis = event->timestamp();
    const int32_t day = accountDayIndex(millis, offsetMinutes);
    auto markBundled = [&] {
      if (!aggregates) return;
      aggregates->setLastBundledTimestamp(static_cast<double>(millis) / 1000);
      aggregates->setLastBundledDay(day);
    };

    if (!canEventBeSampled(*event)) {
      markBundled();
      kept.push_back(event);
      continue;
    }
    const int32_t rate = config->samplingRateForEvent(name);
    if (aggregates) aggregates->setLastSamplingRate(rate);

    if (isEventBundledAfterRoll(rate)) {
      if (aggregates && aggregates->lastSampledComplexEventID()) aggregates->setLastSampledComplexEventID(std::nullopt);
      markBundled();
      GWLAddSamplingRateParam(*event, rate);
      kept.push_back(event);
      continue;
    }

    int32_t lastDay = aggregates ? aggregates->lastBundledDay() : 0;
    if (lastDay == 0) lastDay = accountDayIndex(event->previousTimestamp(), offsetMinutes);
    if (lastDay == day) {
      // An occurrence of this name was already bundled on this account day.
      if (aggregates) {
        if (auto eventID = complexEventID(*event)) aggregates->setLastSampledComplexEventID(*eventID);
      }
      continue;
    }
    // The first occurrence of the day is kept whatever the roll said.
    markBundled();
    GWLAddSamplingRateParam(*event, rate);
    if (!addIntParam(*event, kGWLExemptFromSamplingParameter, 1)) report(kGWLSamplingExemptParamFailedReport);
    if (aggregates) aggregates->setLastExemptFromSampling(true);
    kept.push_back(event);
  }

  // Write back only the sampling fields, onto the aggregates as they stand
  // now: the counts written earlier in this transaction stay.
  for (const auto& [name, sampled] : byName) {
    platform::Error queryError;
    auto stored = database->eventAggregatesWithName(name, &queryError);
    if (!stored) {
      if (queryError.domain.empty()) continue;  // gone since it was read
      report(kGWLSamplingAggregatesQueryFailedReport, GWLEventNameForLog(name), queryError);
      platform::setError(error, queryError);
      return std::nullopt;
    }
    if (sampled->lastBundledTimestamp() != 0) stored->setLastBundledTimestamp(sampled->lastBundledTimestamp());
    stored->setLastBundledDay(sampled->lastBundledDay());
    stored->setLastSamplingRate(sampled->lastSamplingRate());
    stored->setLastSampledComplexEventID(sampled->lastSampledComplexEventID());
    stored->setLastExemptFromSampling(sampled->lastExemptFromSampling());
    platform::Error updateError;
    if (!database->updateEventAggregates(stored, &updateError)) {
      report(kGWLSamplingAggregatesUpdateFailedReport, updateError);
      platform::setError(error, updateError);
      return std::nullopt;
    }
  }
  return kept;
}
