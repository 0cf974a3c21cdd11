// Names and values from callers: every validator answers without crashing,
// nothing that is not valid UTF-8 passes, and an event built from the text
// always encodes to a wire message that reads back.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "QuietLibraryMonitor.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "platform/text/Utf8.h"

namespace {

using fuzz_support::check;

// Valid only if the text is valid UTF-8.
void checkText(bool valid, const std::string& text) { check(!valid || platform::utf8::isValid(text)); }

}  // namespace

namespace {
int testOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  // The text splits at the first NUL into a name and a value.
  const size_t split = input.find('\0');
  const std::string name = input.substr(0, split);
  const std::string valueText = split == std::string::npos ? std::string() : input.substr(split + 1);
  using V = GWLDataTypeValidator;
  // Limits anywhere in the ranges a configuration allows.
  GWLValueLimits limits;
  limits.maxPublicEventParameterValueLength = 100 + static_cast<int32_t>(selector % 401);
  limits.maxInternalEventParameterValueLength = std::max(limits.maxPublicEventParameterValueLength, 256);
  limits.maxPublicEventParams = 25 + static_cast<int32_t>(selector % 76);
  limits.maxItemScopedCustomParameters = 10 + static_cast<int32_t>(selector % 26);

  GWLValidatorFailureCode failure = kGWLValidatorFailureNone;
  checkText(V::isValidPublicEventName(name, &failure), name);
  checkText(V::isValidInternalEventName(name, &failure), name);
  checkText(V::isValidInternalEventOrigin(name, &failure), name);
  checkText(V::isValidForwardedEventOrigin(name, &failure), name);
  checkText(V::isValidPublicEventParameterName(name, &failure), name);
  checkText(V::isValidPublicUserAttributeName(name, &failure), name);
  checkText(V::isValidScreenParameterValue(name, limits, &failure), name);
  checkText(V::isValidString(name, selector % 4, selector % 64, selector % 12, &failure), name);
  check(failure <= kGWLValidatorFailureArrayItemNotDictionary);
  V::isValidArrayParamForEvent(name, valueText, selector, selector & 1, &failure);

  if (auto value = GWLValue::valueFromObject(platform::Object(valueText))) {
    checkText(V::isValidPublicEventParameterValue(&*value, limits, &failure), valueText);
    V::isValidCurrencyCode(&*value, &failure);
    V::isValidNumericValue(&*value, &failure);
    if (auto attribute = GWLUserAttribute::initWithOrigin("app", name, *value, selector)) {
      check(attribute->protoUserAttribute()->protoBuffer().has_value());
    }
  }

  // An event with the text as name, parameter names and values, and an item.
  platform::Dictionary item{{name, platform::Object(valueText)}, {"price", platform::Object(selector * 0.5)}};
  platform::Dictionary parameters{{name, platform::Object(valueText)},
                                  {valueText, platform::Object(int64_t{selector})},
                                  {"items", platform::Object(platform::Array{item, platform::Object(name)})}};
  const char* eventName = (selector & 2) ? "purchase" : name.c_str();
  auto event = GWLEvent::initWithOrigin((selector & 4) ? "app" : name, selector & 8, eventName, selector, 0,
                                        parameters, limits);
  if (!event) return 0;
  checkText(true, event->name());
  event->applyParameters({{valueText, platform::Object(name)}}, selector & 16);
  auto bytes = event->protoEvent()->protoBuffer();
  check(bytes.has_value());
  auto decoded = GWLPBEvent::initWithBuffer(*bytes);
  check(decoded != nullptr);
  check(GWLEvent::initWithEventProto(*decoded, limits) != nullptr);
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
