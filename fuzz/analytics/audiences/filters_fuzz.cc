// Audience definitions and filters from a downloaded configuration, evaluated
// against fuzzed event parameters and user properties. Whatever the bytes,
// the definition check answers with a definition error or accepts, every
// evaluator answers YES, NO or no result within the regular-expression
// limits, and a condition's complement flag flips YES and NO and nothing else.
//
// Input: one flags byte, then length-prefixed chunks (two bytes, little
// endian): an audience, an event filter, a property filter and a text; then
// a double, an int64 and two counts, as far as the bytes go.
#include <cstdint>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "analytics/audiences/GWLAudienceDefinition.h"
#include "analytics/audiences/GWLAudienceFilterEvaluation.h"
#include "analytics/audiences/GWLAudienceNumberFilter.h"
#include "analytics/audiences/GWLAudienceStringFilter.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "analytics/wire/NANO.h"
#include "fuzz/analytics/audiences/ChunkReader.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/text/Utf8.h"

namespace {

using fuzz_support::check;

// What one input evaluates its filters against.
struct Inputs {
  uint8_t flags = 0;
  std::string text;
  double real = 0;
  int64_t integer = 0;
  int32_t lifetimeCount = 0;
  int32_t sessionCount = 0;

  // The kind of value a parameter or property takes, chosen by the flags.
  GWLValue value(int salt) const {
    switch (((flags >> 2) + salt) & 3) {
      case 0: return *GWLValue::initWithString(text);
      case 1: return GWLValue::initWithDouble(real);
      case 2: return GWLValue::initWithInt64(integer);
      default: return *GWLValue::initWithArray(platform::Array{platform::Object(text)});
    }
  }
};

// A condition's answer and the answer with its complement flag flipped are
// negations of each other, or both no result.
void checkComplement(const std::shared_ptr<GWLPBFilter>& condition, const GWLValue& value,
                     const GWLAudienceFilterEnvironment& environment) {
  auto answer = GWLAudienceEvaluateParameterValue(condition, value, environment);
  auto flipped = GWLPBFilter::initWithMessageInfo(condition->messageInfo());
  if (!flipped) return;
  const bool complement = NANOGetBool(flipped, GWLPBFilter::Field::complement);
  NANOSetBool(flipped, GWLPBFilter::Field::complement, !complement);
  auto other = GWLAudienceEvaluateParameterValue(flipped, value, environment);
  check(answer.has_value() == other.has_value());
  if (answer) check(*answer != *other);
}

void evaluateCondition(const std::shared_ptr<GWLPBFilter>& condition, const Inputs& inputs,
                       const GWLAudienceFilterEnvironment& environment) {
  for (int salt = 0; salt < 4; ++salt) checkComplement(condition, inputs.value(salt), environment);
  if (auto text = NANOGetMessage<GWLPBStringFilter>(condition, GWLPBFilter::Field::string_filter)) {
    GWLAudienceEvaluateStringFilter(text, std::string_view(inputs.text), environment);
  }
  if (auto number = NANOGetMessage<GWLPBNumberFilter>(condition, GWLPBFilter::Field::number_filter)) {
    GWLAudienceEvaluateDoubleNumberFilter(number, inputs.real, environment);
    GWLAudienceEvaluateIntegerNumberFilter(number, inputs.integer, environment);
    if (auto decimal = GWLDecimalNumberFromString(inputs.text)) {
      GWLAudienceEvaluateDecimalNumberFilter(number, *decimal, environment);
    }
  }
}

void evaluateEventFilter(const std::shared_ptr<GWLPBEventFilter>& filter, const Inputs& inputs,
                         const GWLAudienceFilterEnvironment& environment) {
  if (!filter) return;
  const std::string name = NANOGetString(filter, GWLPBEventFilter::Field::event_name).value_or(inputs.text);
  GWLParameters parameters;
  auto conditions = NANOGetMessageArray<GWLPBFilter>(filter, GWLPBEventFilter::Field::filters);
  int salt = 0;
  for (const auto& condition : conditions.value_or(std::vector<std::shared_ptr<GWLPBFilter>>{})) {
    evaluateCondition(condition, inputs, environment);
    // Every other parameter is left out, so that missing ones are met too.
    auto parameterName = NANOGetString(condition, GWLPBFilter::Field::parameter_name);
    if (parameterName && (salt++ & 1) == (inputs.flags & 1)) {
      parameters.insert_or_assign(*parameterName, inputs.value(salt));
    }
  }
  auto aggregates = GWLEventAggregates::initWithName(inputs.flags & 2 ? name : std::string("_fuzz"),
                                                     inputs.lifetimeCount, 0, inputs.sessionCount, 0);
  GWLAudienceEvaluateEventFilter(filter, name, parameters, aggregates, environment);
  GWLAudienceEvaluateEventFilter(filter, inputs.text, parameters, aggregates, environment);
}

void evaluatePropertyFilter(const std::shared_ptr<GWLPBPropertyFilter>& filter, const Inputs& inputs,
                            const GWLAudienceFilterEnvironment& environment) {
  if (!filter) return;
  if (auto condition = NANOGetMessage<GWLPBFilter>(filter, GWLPBPropertyFilter::Field::value_filter)) {
    evaluateCondition(condition, inputs, environment);
  }
  const std::string name = NANOGetString(filter, GWLPBPropertyFilter::Field::property_name).value_or("level");
  for (int salt = 0; salt < 4; ++salt) {
    GWLAudienceEvaluatePropertyFilter(filter, GWLUserAttribute::initWithOrigin("app", name, inputs.value(salt), 0),
                                      environment);
  }
}

int testOneInput(const uint8_t* data, size_t size) {
  fuzz_support::ChunkReader reader(data, size);
  Inputs inputs;
  inputs.flags = reader.byte();
  auto audienceBytes = reader.chunk();
  auto eventBytes = reader.chunk();
  auto propertyBytes = reader.chunk();
  auto textBytes = reader.chunk();
  inputs.text = platform::utf8::replacingInvalid(
      std::string_view(reinterpret_cast<const char*>(textBytes.data()), textBytes.size()));
  inputs.real = reader.number<double>();
  inputs.integer = reader.number<int64_t>();
  inputs.lifetimeCount = reader.number<int32_t>() & 0x7FFFFFFF;
  inputs.sessionCount = reader.number<int32_t>() & 0x7FFFFFFF;

  GWLAudienceFilterEnvironment environment;
  environment.monitor = GWLLibraryMonitor::monitor();
  environment.maxFiltersPerAudience = inputs.flags & 0x40 ? 100 : kGWLAudienceDefaultMaxFiltersPerAudience;
  environment.maxParametersPerFilter = inputs.flags & 0x80 ? 250 : kGWLAudienceDefaultMaxParametersPerFilter;

  if (auto audience = GWLPBAudience::initWithBuffer(audienceBytes)) {
    platform::Error error;
    const std::set<int32_t> accepted{0, 7};
    if (!GWLAudienceValidateDefinition(audience, accepted, environment, &error)) {
      check(error.domain == kGWLErrorDomain);
      check(error.code == kGWLErrorCodeInvalidAudience || error.code == kGWLErrorCodeInvalidEventFilter ||
            error.code == kGWLErrorCodeInvalidPropertyFilter);
      check(!error.description.empty());
    } else {
      check(!accepted.count(NANOGetInt32(audience, GWLPBAudience::Field::audience_id)));
    }
    auto events = NANOGetMessageArray<GWLPBEventFilter>(audience, GWLPBAudience::Field::event_filters);
    for (const auto& filter : events.value_or(std::vector<std::shared_ptr<GWLPBEventFilter>>{})) {
      evaluateEventFilter(filter, inputs, environment);
    }
    auto properties = NANOGetMessageArray<GWLPBPropertyFilter>(audience, GWLPBAudience::Field::property_filters);
    for (const auto& filter : properties.value_or(std::vector<std::shared_ptr<GWLPBPropertyFilter>>{})) {
      evaluatePropertyFilter(filter, inputs, environment);
    }
  }
  evaluateEventFilter(GWLPBEventFilter::initWithBuffer(eventBytes), inputs, environment);
  evaluatePropertyFilter(GWLPBPropertyFilter::initWithBuffer(propertyBytes), inputs, environment);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
