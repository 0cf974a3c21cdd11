#include "analytics/foundation/values/GWLDecimalNumber.h"

#include <cstdlib>
#include <vector>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/text/Utf8.h"

namespace {

constexpr int64_t kNotNumericCode = 26001;
constexpr const char* kNotNumericMessage = "String value does not represent a numeric value. Value";
constexpr int64_t kPrecisionLossCode = 26003;
constexpr const char* kPrecisionLossMessage =
    "Unable to create a NSDecimalNumber from string value: loss of precision. Value";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

void report(int64_t code, const char* message, std::string_view text) {
  GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelErrorSilent, code, message,
                                             GWLLogContext(platform::utf8::replacingInvalid(text)));
}

}  // namespace

bool GWLIsDecimalString(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t integerDigits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++integerDigits;
  if (i == text.size()) return integerDigits > 0;
  if (text[i] != '.') return false;
  ++i;
  size_t fractionDigits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++fractionDigits;
  if (i != text.size()) return false;
  return integerDigits > 0 || fractionDigits > 0;
}

std::optional<GWLDecimalNumber> GWLDecimalNumber::parse(std::string_view text) {
  GWLDecimalNumber number;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative_ = text[i++] == '-';
  std::string digits;
  int64_t exponent = 0;
  bool inFraction = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '.') {
      inFraction = true;
      continue;
    }
    if (!isDigit(text[i])) return std::nullopt;
    if (digits.empty() && text[i] == '0') {
      if (inFraction) --exponent;  // a leading zero after the point only scales
      continue;
    }
    digits.push_back(text[i]);
    if (inFraction) --exponent;
  }
  size_t significant = digits.find_last_not_of('0');
  if (significant == std::string::npos) return GWLDecimalNumber();  // zero has no sign
  exponent += static_cast<int64_t>(digits.size() - significant - 1);
  digits.erase(significant + 1);
  if (digits.size() > static_cast<size_t>(kMaxDigits) || exponent < kMinExponent || exponent > kMaxExponent) {
    return std::nullopt;
  }
  number.digits_ = std::move(digits);
  number.exponent_ = static_cast<int>(exponent);
  return number;
}

std::string GWLDecimalNumber::stringValue() const {
  if (digits_.empty()) return "0";
  std::string text = negative_ ? "-" : "";
  const int64_t length = static_cast<int64_t>(digits_.size());
  if (exponent_ >= 0) {
    text += digits_;
    text.append(static_cast<size_t>(exponent_), '0');
  } else if (-exponent_ < length) {
    text += digits_.substr(0, static_cast<size_t>(length + exponent_));
    text += '.';
    text += digits_.substr(static_cast<size_t>(length + exponent_));
  } else {
    text += "0.";
    text.append(static_cast<size_t>(-exponent_ - length), '0');
    text += digits_;
  }
  return text;
}

double GWLDecimalNumber::doubleValue() const {
  if (digits_.empty()) return 0;
  std::string text = (negative_ ? "-" : "") + digits_ + "e" + std::to_string(exponent_);
  return std::strtod(text.c_str(), nullptr);
}

GWLDecimalNumber GWLDecimalNumber::magnitude() const {
  GWLDecimalNumber result = *this;
  result.negative_ = false;
  return result;
}

GWLDecimalNumber GWLDecimalNumber::fromInt64(int64_t value) {
  // Cannot fail: an int64 has at most 19 digits.
  return *parse(std::to_string(value));
}

std::optional<GWLDecimalNumber> GWLDecimalNumber::multipliedBy(int64_t factor) const {
  if (digits_.empty() || factor == 0) return GWLDecimalNumber();
  // |factor| as decimal digits (an unsigned magnitude, so INT64_MIN works too).
  const uint64_t multiplier = factor < 0 ? uint64_t{0} - static_cast<uint64_t>(factor) : static_cast<uint64_t>(factor);
  const std::string other = std::to_string(multiplier);
  // Long multiplication in base 10, least significant position last.
  std::vector<int> columns(digits_.size() + other.size(), 0);
  for (size_t i = digits_.size(); i-- > 0;) {
    for (size_t j = other.size(); j-- > 0;) {
      columns[i + j + 1] += (digits_[i] - '0') * (other[j] - '0');
    }
  }
  for (size_t k = columns.size(); k-- > 1;) {
    columns[k - 1] += columns[k] / 10;
    columns[k] %= 10;
  }
  std::string product;
  for (int column : columns) {
    if (product.empty() && column == 0) continue;
    product.push_back(static_cast<char>('0' + column));
  }
  const size_t significant = product.find_last_not_of('0');
  const int64_t exponent = static_cast<int64_t>(exponent_) + static_cast<int64_t>(product.size() - significant - 1);
  product.erase(significant + 1);
  if (product.size() > static_cast<size_t>(kMaxDigits) || exponent > kMaxExponent) return std::nullopt;
  GWLDecimalNumber result;
  result.negative_ = negative_ != (factor < 0);
  result.digits_ = std::move(product);
  result.exponent_ = static_cast<int>(exponent);
  return result;
}

std::optional<int64_t> GWLDecimalNumber::int64ValueScaledBy(int power, Rounding rounding) const {
  if (digits_.empty()) return 0;
  // The value is digits x 10^shift: keep the whole part, and look at the
  // first dropped digit when rounding to nearest.
  const int64_t shift = static_cast<int64_t>(exponent_) + power;
  const int64_t length = static_cast<int64_t>(digits_.size());
  const int64_t wholeDigits = length + shift;  // digits before the point (may be <= 0)
  // 2^63 has 19 digits: a whole part of 20 or more cannot fit, and one of 19
  // or fewer (plus one for rounding) fits an unsigned 64-bit integer.
  if (wholeDigits > 19) return std::nullopt;
  uint64_t magnitude = 0;
  for (int64_t i = 0; i < wholeDigits; ++i) {
    const int digit = i < length ? digits_[static_cast<size_t>(i)] - '0' : 0;
    magnitude = magnitude * 10 + static_cast<uint64_t>(digit);
  }
  if (rounding == Rounding::kHalfAwayFromZero && wholeDigits >= 0 && wholeDigits < length &&
      digits_[static_cast<size_t>(wholeDigits)] >= '5') {
    magnitude += 1;
  }
  const uint64_t limit = negative_ ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit) return std::nullopt;
  if (!negative_) return static_cast<int64_t>(magnitude);
  // Negated in unsigned arithmetic, so that -2^63 needs no signed overflow.
  return static_cast<int64_t>(uint64_t{0} - magnitude);
}

std::strong_ordering operator<=>(const GWLDecimalNumber& a, const GWLDecimalNumber& b) {
  const int signA = a.isZero() ? 0 : a.negative_ ? -1 : 1;
  const int signB = b.isZero() ? 0 : b.negative_ ? -1 : 1;
  if (signA != signB) return signA <=> signB;
  if (signA == 0) return std::strong_ordering::equal;
  // Same sign: compare magnitudes by the position of the leading digit, then digit by digit.
  std::strong_ordering magnitude = std::strong_ordering::equal;
  const int64_t leadA = static_cast<int64_t>(a.digits_.size()) + a.exponent_;
  const int64_t leadB = static_cast<int64_t>(b.digits_.size()) + b.exponent_;
  if (leadA != leadB) {
    magnitude = leadA <=> leadB;
  } else {
    const size_t length = std::max(a.digits_.size(), b.digits_.size());
    for (size_t i = 0; i < length && magnitude == std::strong_ordering::equal; ++i) {
      const char da = i < a.digits_.size() ? a.digits_[i] : '0';
      const char db = i < b.digits_.size() ? b.digits_[i] : '0';
      magnitude = da <=> db;
    }
  }
  if (signA > 0) return magnitude;
  return 0 <=> magnitude;
}

std::optional<GWLDecimalNumber> GWLDecimalNumberFromString(std::string_view text) {
  if (!GWLIsDecimalString(text)) {
    report(kNotNumericCode, kNotNumericMessage, text);
    return std::nullopt;
  }
  auto parsed = GWLDecimalNumber::parse(text);
  if (!parsed) {
    // More significant digits, or a larger scale, than the type keeps.
    report(kPrecisionLossCode, kPrecisionLossMessage, text);
    return std::nullopt;
  }
  // The parsed number must say all the text says: its canonical digits occur
  // in the text once a leading point has its zero.
  std::string written(text);
  if (written.starts_with("+.") || written.starts_with("-.") || written.starts_with(".")) {
    std::string withZeros;
    for (char c : written) {
      if (c == '.') withZeros += "0.";
      else withZeros += c;
    }
    written = std::move(withZeros);
  }
  if (written.find(parsed->magnitude().stringValue()) == std::string::npos) {
    report(kPrecisionLossCode, kPrecisionLossMessage, text);
    return std::nullopt;
  }
  return parsed;
}

std::optional<int64_t> GWLDecimalNumberToMicros(const GWLDecimalNumber& amount) {
  return amount.int64ValueScaledBy(6, GWLDecimalNumber::Rounding::kTowardZero);
}
