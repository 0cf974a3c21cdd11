#include "analytics/foundation/core/GWLMonitoringSampledData.h"

#include <cmath>
#include <limits>

namespace {
enum EntryIndex : size_t { kContext = 0, kPopulation = 1, kKey = 2, kCreated = 3, kEntrySize = 4 };
}

GWLMonitoringSampledData::GWLMonitoringSampledData(const std::optional<platform::Object>& array) {
  if (array && isValidUserDefaultsArrayEntry(*array)) sampledData_ = *array->arrayValue();
}

bool GWLMonitoringSampledData::isValidUserDefaultsArrayEntry(const platform::Object& entry) {
  const platform::Array* array = entry.arrayValue();
  return array && array->size() == kEntrySize && (*array)[kContext].isString() && (*array)[kPopulation].isInt() &&
         (*array)[kKey].isString() && (*array)[kCreated].isDate();
}

std::string GWLMonitoringSampledData::monitoringURLParamWithKey(const std::string& key, int64_t population,
                                                                const std::string& context) {
  std::string text = std::to_string(population) + ":" + key;
  if (!context.empty()) text += ":" + context;
  return text;
}

platform::Array GWLMonitoringSampledData::sampledDataEntryWithKey(const std::string& key, double timestamp,
                                                                  const std::string& context, int64_t population) {
  return platform::Array{context, population, key, platform::Date{timestamp}};
}

void GWLMonitoringSampledData::insertOrUpdateSampledDataWithKey(const std::string& key,
                                                                const std::string& encodedContext, double now,
                                                                const RandomBelow& randomBelow) {
  if (!sampledData_) {
    sampledData_ = sampledDataEntryWithKey(key, now, encodedContext, 1);
    return;
  }
  platform::Array& entry = *sampledData_;
  int64_t population = entry[kPopulation].intValue().value_or(0);
  if (population < 0) population = 0;
  if (population < std::numeric_limits<int64_t>::max()) ++population;
  entry[kPopulation] = population;
  if (randomBelow(static_cast<uint64_t>(population)) == 0) {
    entry[kKey] = key;
    entry[kContext] = encodedContext;
  }
}

std::optional<std::string> GWLMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp, double now) {
  if (sampledData_) {
    const platform::Array& entry = *sampledData_;
    double created = entry[kCreated].dateValue().value_or(platform::Date{now}).secondsSince1970;
    if (!(created < now - samplePeriod)) return std::nullopt;
    std::string text = monitoringURLParamWithKey(*entry[kKey].stringValue(), entry[kPopulation].intValue().value_or(0),
                                                 *entry[kContext].stringValue());
    sampledData_.reset();
    return text;
  }
  if (lastSampledTimestamp > 0 && std::fabs(now - lastSampledTimestamp) > samplePeriod) return std::string("0:");
  return std::nullopt;
}
