#include "analytics/audiences/interpreter/GWLPValueOperations.h"

#include <unicode/unorm2.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "platform/text/Utf8.h"

namespace {

constexpr double kTwoTo32 = 4294967296.0;
constexpr double kTwoTo31 = 2147483648.0;

double modulo32(double value) {
  double r = std::fmod(std::trunc(value), kTwoTo32);
  if (r < 0) r += kTwoTo32;
  return r;
}

// The canonical decomposition of `text` as UTF-16 code units; invalid UTF-8
// reads as U+FFFD.
std::u16string decomposed(std::string_view text) {
  std::u16string utf16 = platform::utf8::toUtf16(text);
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
  if (U_FAILURE(status)) return utf16;
  std::u16string out(utf16.size() * 4 + 8, u'\0');
  int32_t outLength =
      unorm2_normalize(nfd, reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()),
                       reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    out.assign(static_cast<size_t>(outLength), u'\0');
    outLength = unorm2_normalize(nfd, reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()),
                                 reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &status);
  }
  if (U_FAILURE(status)) return utf16;
  out.resize(static_cast<size_t>(outLength));
  return out;
}

template <typename Text>
int threeWay(const Text& x, const Text& y) {
  int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Length in bytes of a white-space code point at the start (or end) of
// `text`, 0 when there is none.
size_t leadingSpace(std::string_view t) {
  if (t.empty()) return 0;
  unsigned char c = static_cast<unsigned char>(t[0]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (t.size() >= 2 && c == 0xC2 &&
      (static_cast<unsigned char>(t[1]) == 0x85 || static_cast<unsigned char>(t[1]) == 0xA0))
    return 2;
  if (t.size() >= 3) {
    unsigned char c1 = static_cast<unsigned char>(t[1]), c2 = static_cast<unsigned char>(t[2]);
    if (c == 0xE1 && c1 == 0x9A && c2 == 0x80) return 3;  // U+1680
    if (c == 0xE2 && c1 == 0x80 && ((c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF)) return 3;
    if (c == 0xE2 && c1 == 0x81 && c2 == 0x9F) return 3;  // U+205F
    if (c == 0xE3 && c1 == 0x80 && c2 == 0x80) return 3;  // U+3000
  }
  return 0;
}

size_t trailingSpace(std::string_view t) {
  for (size_t length = 1; length <= 3 && length <= t.size(); ++length) {
    std::string_view tail = t.substr(t.size() - length);
    if (leadingSpace(tail) == length) return length;
  }
  return 0;
}

}  // namespace

const std::string* GWLPTextOf(const GWLPRuntimeValue& value, std::string& converted, platform::Error* error) {
  if (value.isString()) return &static_cast<const GWLPStringValue&>(value).value();
  GWLPErrorOut out(error);
  converted = value.stringValueOrError(out);
  return out.failed() ? nullptr : &converted;
}

bool GWLPIsAscii(std::string_view text) {
  // Eight bytes at a time: any byte with its high bit set ends the search.
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

int32_t GWLPToInt32(double value) {
  if (!std::isfinite(value)) return 0;
  double r = modulo32(value);
  return static_cast<int32_t>(r < kTwoTo31 ? r : r - kTwoTo32);
}

uint32_t GWLPToUint32(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<uint32_t>(modulo32(value));
}

double GWLPToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (std::isinf(value) || value == 0) return value;
  return std::trunc(value);
}

int64_t GWLPToInt64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exact as a double; anything at or beyond it saturates.
  if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(std::trunc(value));
}

bool GWLPIsStringLike(const GWLPRuntimeValue& value) {
  switch (value.valueKind()) {
    case GWLPValueKind::String:
    case GWLPValueKind::Array:
    case GWLPValueKind::Function:
    case GWLPValueKind::Map:
      return true;
    default:
      return false;
  }
}

std::optional<uint32_t> GWLPArrayIndexFromValue(const GWLPRuntimeValue& value) {
  if (value.valueKind() != GWLPValueKind::Number && value.valueKind() != GWLPValueKind::String) return std::nullopt;
  platform::Error error;
  double number = value.doubleValueOrError(&error);
  if (GWLPFailed(error) || !std::isfinite(number) || number < 0 || std::trunc(number) != number ||
      number >= kTwoTo32 - 1) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(number);
}

bool GWLPIsArrayIndexValue(const GWLPRuntimeValue& value) { return GWLPArrayIndexFromValue(value).has_value(); }

int GWLPEqualityKind(const GWLPRuntimeValue& value) {
  switch (value.valueKind()) {
    case GWLPValueKind::Undefined:
    case GWLPValueKind::Null:
      return 0;
    case GWLPValueKind::Number:
    case GWLPValueKind::Boolean:
      return 1;
    case GWLPValueKind::String:
      return 2;
    default:
      return 3;
  }
}

bool GWLPStringValuesEqual(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error) {
  GWLPErrorOut out(error);
  std::string a = x.stringValueOrError(out);
  if (out.failed()) return false;
  std::string b = y.stringValueOrError(out);
  if (out.failed()) return false;
  return a == b;
}

bool GWLPNumberValuesEqual(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error) {
  GWLPErrorOut out(error);
  double a = x.doubleValueOrError(out);
  if (out.failed()) return false;
  double b = y.doubleValueOrError(out);
  if (out.failed()) return false;
  return a == b;
}

bool GWLPStrictEquals(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error*) {
  // Numbers, booleans and texts (each one final class) compare by what they
  // hold, read in place; every other value only equals itself. Reading them
  // cannot fail, so the error is never set.
  if (x.valueKind() != y.valueKind()) return false;
  switch (x.valueKind()) {
    case GWLPValueKind::Number:
      return static_cast<const GWLPNumberValue&>(x).value() == static_cast<const GWLPNumberValue&>(y).value();
    case GWLPValueKind::Boolean:
      return static_cast<const GWLPBooleanValue&>(x).value() == static_cast<const GWLPBooleanValue&>(y).value();
    case GWLPValueKind::String:
      return static_cast<const GWLPStringValue&>(x).value() == static_cast<const GWLPStringValue&>(y).value();
    default:
      return &x == &y;
  }
}

int GWLPCompareValues(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error) {
  GWLPErrorOut out(error);
  if (GWLPIsStringLike(x) && GWLPIsStringLike(y)) {
    std::string a = x.stringValueOrError(out);
    if (out.failed()) return 1;
    std::string b = y.stringValueOrError(out);
    if (out.failed()) return 1;
    return GWLPCompareStrings(a, b);
  }
  double a = x.doubleValueOrError(out);
  if (out.failed()) return 1;
  double b = y.doubleValueOrError(out);
  if (out.failed()) return 1;
  if (a == b) return 0;
  return a < b ? -1 : 1;
}

int GWLPCompareStrings(std::string_view x, std::string_view y) {
  // Texts too long for ICU's 32-bit lengths compare by their bytes.
  constexpr size_t kLongest = 1u << 28;
  if ((GWLPIsAscii(x) && GWLPIsAscii(y)) || x.size() > kLongest || y.size() > kLongest) return threeWay(x, y);
  return threeWay(decomposed(x), decomposed(y));
}

std::u16string GWLPComparisonKey(std::string_view text) { return decomposed(text); }

std::string_view GWLPTrimWhitespace(std::string_view text) {
  while (size_t n = leadingSpace(text)) text.remove_prefix(n);
  while (size_t n = trailingSpace(text)) text.remove_suffix(n);
  return text;
}
