#include "analytics/attribution/GWLLifetimeValueRecorder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "platform/text/UnicodeText.h"
#include "platform/text/Utf8.h"

namespace {

constexpr const char* kInAppPurchaseEvent = "_iap";
constexpr const char* kPublicInAppPurchaseEvent = "in_app_purchase";
constexpr const char* kEcommercePurchaseEvent = "ecommerce_purchase";
constexpr const char* kPurchaseEvent = "purchase";
constexpr const char* kRefundEvent = "refund";
constexpr const char* kCurrencyParameter = "currency";
constexpr const char* kValueParameter = "value";
constexpr const char* kLifetimeValueOrigin = "auto";
constexpr size_t kCurrencyCodeLength = 3;
constexpr double kMicrosPerUnit = 1'000'000.0;

constexpr int64_t kInvalidCurrencyCode = 22000;
constexpr const char* kInvalidCurrencyMessage = "Cannot record transaction with invalid currency code";
constexpr int64_t kInvalidValueCode = 22001;
constexpr const char* kInvalidValueMessage = "Cannot record transaction with invalid transaction value";
constexpr int64_t kOutOfBoundsCode = 22002;
constexpr const char* kOutOfBoundsMessage = "Cannot record transaction with value that is out of bounds";
constexpr int64_t kQueryFailedCode = 22003;
constexpr const char* kQueryFailedMessage = "Failed to query all Lifetime Value User properties. Error";
constexpr int64_t kDeleteFailedCode = 22004;
constexpr const char* kDeleteFailedMessage = "Unable to delete Lifetime Value User property. Name, error";
constexpr int64_t kUpsertFailedCode = 22005;
constexpr const char* kUpsertFailedMessage = "Unable to upsert Lifetime Value User Attribute in database. Name, error";
constexpr int64_t kUpdatedCode = 22006;
constexpr const char* kUpdatedMessage = "Lifetime value has been updated in database";

// 2^63: doubles at or beyond it (either sign) are no int64 amount. -2^63 is
// left out too, so that a refund can always be negated.
constexpr double kInt64Bound = 9223372036854775808.0;

bool withinInt64(double value) { return value > -kInt64Bound && value < kInt64Bound; }

GWLLogContext contextOf(const GWLValue* value) {
  return value ? GWLLogContext(value->description()) : GWLLogContext();
}

// a + b, held at the int64 bound it would pass.
int64_t saturatingSum(int64_t a, int64_t b, bool& saturated) {
  int64_t sum = 0;
  saturated = __builtin_add_overflow(a, b, &sum);
  if (saturated) return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return sum;
}

}  // namespace

bool GWLLifetimeValueRecorder::isPurchaseEvent(const GWLEvent& event) {
  return event.name() == kInAppPurchaseEvent || event.name() == kPublicInAppPurchaseEvent ||
         isEcommercePurchaseEvent(event);
}

bool GWLLifetimeValueRecorder::isEcommercePurchaseEvent(const GWLEvent& event) {
  return event.name() == kEcommercePurchaseEvent || event.name() == kPurchaseEvent || event.name() == kRefundEvent;
}

bool GWLLifetimeValueRecorder::recordLifetimeValueToDatabase(GWLDatabase& database, const GWLEvent& event,
                                                            const Context& context) {
  if (!isPurchaseEvent(event)) return true;
  const std::shared_ptr<GWLMonitor> monitor = context.monitor ? context.monitor : GWLLibraryMonitor::monitor();
  const auto& parameters = event.parameters();
  auto found = [&](const char* name) -> const GWLValue* {
    auto it = parameters.find(name);
    return it == parameters.end() ? nullptr : &it->second;
  };

  const GWLValue* currency = found(kCurrencyParameter);
  if (!currency || !currency->stringValue() || platform::utf8::utf16Length(*currency->stringValue()) != kCurrencyCodeLength) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kInvalidCurrencyCode, kInvalidCurrencyMessage, contextOf(currency));
    return true;
  }
  const GWLValue* value = found(kValueParameter);
  if (!value || !(value->isDouble() || value->isInt64())) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kInvalidValueCode, kInvalidValueMessage, contextOf(value));
    return true;
  }

  // The amount in millionths. Every double is range-checked before it
  // becomes an int64: a conversion out of range has no defined result.
  int64_t amount = 0;
  if (event.name() == kInAppPurchaseEvent) {
    if (value->isInt64()) {
      amount = value->int64Value();
    } else {
      const double truncated = std::trunc(value->doubleValue());
      if (!withinInt64(truncated)) {
        monitor->logWithLevel(kGWLLevelErrorSampled, kOutOfBoundsCode, kOutOfBoundsMessage, contextOf(value));
        return false;
      }
      amount = static_cast<int64_t>(truncated);
    }
  } else {
    const double units = value->isInt64() ? static_cast<double>(value->int64Value()) : value->doubleValue();
    const double micros = std::round(units * kMicrosPerUnit);  // halves away from zero
    if (!withinInt64(micros)) {
      monitor->logWithLevel(kGWLLevelErrorSampled, kOutOfBoundsCode, kOutOfBoundsMessage, contextOf(value));
      return false;
    }
    amount = static_cast<int64_t>(micros);
    if (event.name() == kRefundEvent) amount = -amount;
  }

  // The currency is a string value, so valid UTF-8: its upper case exists.
  const std::string name = kGWLLifetimeValuePrefix + platform::unicode::uppercased(*currency->stringValue()).value_or("");
  platform::Error error;
  auto totals = database.allLifetimeValueUserAttributes(&error);
  if (!totals) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kQueryFailedCode, kQueryFailedMessage, error);
    return false;
  }
  std::shared_ptr<GWLUserAttribute> existing;
  for (const auto& total : *totals) {
    if (total->name() == name) existing = total;
  }
  int64_t newTotal = amount;
  if (existing) {
    bool saturated = false;
    newTotal = saturatingSum(existing->value().int64Value(), amount, saturated);
    if (saturated) {
      monitor->logWithLevel(kGWLLevelErrorSampled, kOutOfBoundsCode, kOutOfBoundsMessage, contextOf(value));
    }
  }
  // Checked before anything is deleted: a currency that makes no property
  // name is skipped like any other invalid currency, and the event is kept.
  auto attribute =
      GWLUserAttribute::initWithOrigin(kLifetimeValueOrigin, name, GWLValue::initWithInt64(newTotal), context.now);
  if (!attribute) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kInvalidCurrencyCode, kInvalidCurrencyMessage, contextOf(currency));
    return true;
  }
  if (!existing && totals->size() >= static_cast<size_t>(std::max(context.maxTrackedCurrencies, 1))) {
    const std::string& leastRecent = totals->back()->name();
    if (!database.deleteUserAttributeWithName(leastRecent, &error)) {
      monitor->logWithLevel(kGWLLevelErrorSampled, kDeleteFailedCode, kDeleteFailedMessage,
                            GWLUserPropertyNameForLog(leastRecent), error);
      return false;
    }
  }
  if (!database.updateUserAttribute(attribute, &error)) {
    monitor->logWithLevel(kGWLLevelErrorSampled, kUpsertFailedCode, kUpsertFailedMessage,
                          GWLUserPropertyNameForLog(name), error);
    return false;
  }
  monitor->logWithLevel(kGWLLevelDebug, kUpdatedCode, kUpdatedMessage,
                        GWLUserPropertyNameForLog(name) + " = " + std::to_string(newTotal));
  return true;
}
