#include "analytics/audiences/GWLAudienceEvaluation.h"

#include <algorithm>
#include <variant>

#include "analytics/audiences/GWLAudienceFilterEvaluation.h"
#include "analytics/audiences/GWLAudienceLog.h"
#include "analytics/foundation/storage/GWLEventFilter.h"
#include "analytics/foundation/storage/GWLPropertyFilter.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/NANO.h"

namespace {

constexpr int32_t kBitsPerWord = 64;

std::vector<uint64_t> wordsOf(const std::shared_ptr<GWLPBResultData>& data, int32_t field) {
  std::vector<uint64_t> words;
  if (!data) return words;
  auto items = NANOGetArray(data, field);
  if (!items) return words;
  words.reserve(items->size());
  for (const auto& item : *items) {
    const uint64_t* word = std::get_if<uint64_t>(&item);
    words.push_back(word ? *word : 0);
  }
  return words;
}

void setWords(const std::shared_ptr<GWLPBResultData>& data, int32_t field, const std::vector<uint64_t>& words,
              size_t length) {
  std::vector<NANOValue> items;
  items.reserve(length);
  for (size_t i = 0; i < length; ++i) items.emplace_back(i < words.size() ? words[i] : uint64_t{0});
  NANOSetArray(data, field, items);
}

uint64_t bitOf(int32_t filterID) { return uint64_t{1} << GWLAudienceResultBitIndex(filterID); }

}  // namespace

int32_t GWLAudienceResultWordIndex(int32_t filterID) { return filterID / kBitsPerWord; }

int32_t GWLAudienceResultBitIndex(int32_t filterID) { return filterID % kBitsPerWord; }

bool GWLAudienceShouldEvaluateFilter(bool wasTrue, const GWLAudienceFilter& filter) {
  return !wasTrue || filter.isDynamic() || filter.isSequence() || filter.isSessionScoped();
}

bool GWLAudienceTakesNewPropertyResult(bool newResult, const GWLAudienceFilter& filter) {
  return newResult || (filter.isDynamic() && !filter.isSessionScoped());
}

void GWLAudienceLogCorruptFilter(const GWLEventFilter& filter, const GWLAudienceFilterEnvironment& environment) {
  environment.log(kGWLAudienceLogCorruptEventFilter,
                  {filter.eventName(), filter.filterID(), filter.audienceID(), filter.isDynamic()});
}

void GWLAudienceLogCorruptFilter(const GWLPropertyFilter& filter, const GWLAudienceFilterEnvironment& environment) {
  environment.log(kGWLAudienceLogCorruptPropertyFilter,
                  {filter.propertyName(), filter.filterID(), filter.audienceID(), filter.isDynamic()});
}

std::optional<bool> GWLAudienceEvaluateStoredEventFilter(const GWLEventFilter& filter, const GWLParameters& parameters,
                                                         const std::shared_ptr<GWLEventAggregates>& aggregates,
                                                         const GWLAudienceFilterEnvironment& environment) {
  auto decoded = filter.data().empty() ? nullptr : GWLPBEventFilter::initWithBuffer(filter.data());
  if (!decoded) {
    GWLAudienceLogCorruptFilter(filter, environment);
    return std::nullopt;
  }
  return GWLAudienceEvaluateEventFilter(decoded, filter.eventName(), parameters, aggregates, environment);
}

std::optional<bool> GWLAudienceEvaluateStoredPropertyFilter(const GWLPropertyFilter& filter,
                                                            const std::shared_ptr<GWLUserAttribute>& attribute,
                                                            const GWLAudienceFilterEnvironment& environment) {
  auto decoded = filter.data().empty() ? nullptr : GWLPBPropertyFilter::initWithBuffer(filter.data());
  if (!decoded) {
    GWLAudienceLogCorruptFilter(filter, environment);
    return std::nullopt;
  }
  return GWLAudienceEvaluatePropertyFilter(decoded, attribute, environment);
}

bool GWLAudienceHasAnyResultBit(const std::vector<uint64_t>& words) {
  return std::any_of(words.begin(), words.end(), [](uint64_t word) { return word != 0; });
}

std::shared_ptr<GWLUserAttribute> GWLAudienceUserAttributeFromWire(
    const std::shared_ptr<GWLPBUserAttribute>& attribute) {
  if (!attribute) return nullptr;
  using Field = GWLPBUserAttribute::Field;
  std::optional<GWLValue> value;
  if (NANOHasField(attribute, Field::string_value)) {
    value = GWLValue::initWithString(NANOGetString(attribute, Field::string_value));
  } else if (NANOHasField(attribute, Field::double_value)) {
    value = GWLValue::initWithDouble(NANOGetDouble(attribute, Field::double_value));
  } else if (NANOHasField(attribute, Field::int_value)) {
    value = GWLValue::initWithInt64(NANOGetInt64(attribute, Field::int_value));
  }
  if (!value) return nullptr;
  const std::string name = NANOGetString(attribute, Field::name).value_or(std::string());
  const double setTimestamp = static_cast<double>(NANOGetInt64(attribute, Field::set_timestamp)) / 1000;
  return GWLUserAttribute::initWithOrigin("", name, *value, setTimestamp);
}

GWLAudienceResultWords GWLAudienceResultWords::of(const std::shared_ptr<GWLPBResultData>& data) {
  return {wordsOf(data, GWLPBResultData::Field::status), wordsOf(data, GWLPBResultData::Field::results)};
}

bool GWLAudienceResultWords::isSet(const std::vector<uint64_t>& words, int32_t filterID) {
  if (!GWLAudienceIsValidFilterID(filterID)) return false;
  const auto word = static_cast<size_t>(GWLAudienceResultWordIndex(filterID));
  return word < words.size() && (words[word] & bitOf(filterID)) != 0;
}

void GWLAudienceResultWords::setBits(int32_t filterID, bool evaluated, bool holds) {
  if (!GWLAudienceIsValidFilterID(filterID)) return;
  const auto word = static_cast<size_t>(GWLAudienceResultWordIndex(filterID));
  const size_t length = std::max({status.size(), results.size(), word + 1});
  status.resize(length, 0);
  results.resize(length, 0);
  const uint64_t bit = bitOf(filterID);
  status[word] = evaluated ? (status[word] | bit) : (status[word] & ~bit);
  results[word] = holds ? (results[word] | bit) : (results[word] & ~bit);
}

void GWLAudienceResultWords::clearBits(int32_t filterID) {
  if (!GWLAudienceIsValidFilterID(filterID)) return;
  const auto word = static_cast<size_t>(GWLAudienceResultWordIndex(filterID));
  const uint64_t bit = bitOf(filterID);
  if (word < status.size()) status[word] &= ~bit;
  if (word < results.size()) results[word] &= ~bit;
}

void GWLAudienceResultWords::writeTo(const std::shared_ptr<GWLPBResultData>& data) const {
  const size_t length = std::max(status.size(), results.size());
  setWords(data, GWLPBResultData::Field::status, status, length);
  setWords(data, GWLPBResultData::Field::results, results, length);
}
