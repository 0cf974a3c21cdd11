#include "analytics/audiences/interpreter/GWLPStringCommandEvaluator.h"

#include <unicode/uloc.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPNullValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"
#include "platform/text/BoundedRegex.h"
#include "platform/text/Utf8.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

// A text seen as UTF-16 code units. ASCII texts are used as they are (one
// byte is one unit); others are converted once.
class Units {
 public:
  explicit Units(const std::string& text) : text_(text), ascii_(GWLPIsAscii(text)) {
    if (!ascii_) units_ = platform::utf8::toUtf16(text);
  }
  size_t length() const { return ascii_ ? text_.size() : units_.size(); }
  bool ascii() const { return ascii_; }
  const std::string& text() const { return text_; }
  const std::u16string& utf16() {
    if (ascii_ && units_.empty() && !text_.empty()) units_.assign(text_.begin(), text_.end());
    return units_;
  }
  // The units [start, end) as UTF-8; a lone half of a surrogate pair reads
  // as U+FFFD.
  std::string sub(size_t start, size_t end) const {
    if (end <= start) return {};
    if (ascii_) return text_.substr(start, end - start);
    return platform::utf8::fromUtf16(std::u16string_view(units_).substr(start, end - start));
  }

 private:
  const std::string& text_;
  bool ascii_;
  std::u16string units_;
};

// A new text value, once the run admits its size.
GWLPValueRef makeText(std::string text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  if (!GWLPReserveText(scope, text.size(), out)) return undefined();
  return GWLPStringValue::make(std::move(text));
}

std::optional<std::string> textOf(const GWLPValueRef& value, GWLPErrorOut& out) {
  std::string text = value->stringValueOrError(out);
  if (out.failed()) return std::nullopt;
  return text;
}

// The integer of a value: GWLPToInteger of its number value.
std::optional<double> integerOf(const GWLPValueRef& value, GWLPErrorOut& out) {
  double number = value->doubleValueOrError(out);
  if (out.failed()) return std::nullopt;
  return GWLPToInteger(number);
}

size_t clampToLength(double position, size_t length) {
  return static_cast<size_t>(std::clamp(position, 0.0, static_cast<double>(length)));
}

// ---- Searching under canonical equivalence ----
//
// The receiver is cut into segments, each a character that starts a new
// normalization segment followed by the marks that combine with it; each
// segment is decomposed on its own (which gives the decomposition of the
// whole text). A match of the decomposed pattern counts only when it begins
// and ends on segment boundaries, so "e" never matches half of "é".

struct Segmented {
  std::u16string decomposed;
  // Per segment: where it starts in the decomposition and in the original units.
  std::vector<std::pair<size_t, size_t>> starts;
  size_t originalLength = 0;

  // The original position of decomposed offset `offset` when it is a
  // segment boundary.
  std::optional<size_t> originalAt(size_t offset) const {
    if (offset == decomposed.size()) return originalLength;
    auto it = std::lower_bound(starts.begin(), starts.end(), std::make_pair(offset, size_t{0}));
    if (it == starts.end() || it->first != offset) return std::nullopt;
    return it->second;
  }
};

const UNormalizer2* nfd() {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* normalizer = unorm2_getNFDInstance(&status);
  return U_SUCCESS(status) ? normalizer : nullptr;
}

std::u16string decompose(std::u16string_view text) {
  const UNormalizer2* normalizer = nfd();
  if (!normalizer || text.empty()) return std::u16string(text);
  UErrorCode status = U_ZERO_ERROR;
  const auto* source = reinterpret_cast<const UChar*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t needed = unorm2_normalize(normalizer, source, length, nullptr, 0, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::u16string(text);
  std::u16string out(static_cast<size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  unorm2_normalize(normalizer, source, length, reinterpret_cast<UChar*>(out.data()), needed, &status);
  return U_SUCCESS(status) ? out : std::u16string(text);
}

Segmented segment(std::u16string_view text) {
  Segmented result;
  result.originalLength = text.size();
  const UNormalizer2* normalizer = nfd();
  size_t start = 0;
  auto flush = [&](size_t end) {
    if (end <= start) return;
    result.starts.emplace_back(result.decomposed.size(), start);
    result.decomposed += decompose(text.substr(start, end - start));
    start = end;
  };
  for (size_t i = 0; i < text.size();) {
    UChar32 c;
    size_t next = i;
    U16_NEXT(text.data(), next, text.size(), c);
    if (i > start && (!normalizer || unorm2_hasBoundaryBefore(normalizer, c))) flush(i);
    i = next;
  }
  flush(text.size());
  return result;
}

// Every occurrence [start, end) of `pattern` in `text` (original units), in
// order, answered one by one to `visit` until it answers false. The pattern
// must not be empty.
template <typename Visit>
void forEachOccurrence(Units& text, const std::string& pattern, Visit visit) {
  if (text.ascii() && GWLPIsAscii(pattern)) {
    // One byte is one unit: search the text as it is.
    const std::string& bytes = text.text();
    for (size_t at = bytes.find(pattern); at != std::string::npos; at = bytes.find(pattern, at + 1)) {
      if (!visit(at, at + pattern.size())) return;
    }
    return;
  }
  Segmented haystack = segment(text.utf16());
  std::u16string needle = decompose(platform::utf8::toUtf16(pattern));
  if (needle.empty()) return;
  const std::u16string& units = haystack.decomposed;
  for (size_t at = units.find(needle); at != std::u16string::npos; at = units.find(needle, at + 1)) {
    auto start = haystack.originalAt(at);
    auto end = haystack.originalAt(at + needle.size());
    if (start && end && !visit(*start, *end)) return;
  }
}

// The first occurrence starting at or after `from`.
std::optional<std::pair<size_t, size_t>> firstOccurrence(Units& text, const std::string& pattern, size_t from) {
  std::optional<std::pair<size_t, size_t>> found;
  forEachOccurrence(text, pattern, [&](size_t start, size_t end) {
    if (start < from) return true;
    found.emplace(start, end);
    return false;
  });
  return found;
}

// ---- Regular expressions ----

inline constexpr platform::RegexLimits kStringMethodRegexLimits{kGWLPMaxPatternLength, kGWLPRegexTimeLimit,
                                                               kGWLPRegexStackLimitBytes};

// The first match [start, end) of `pattern` (no options) in `text`, none for
// no match, or an error: the compiler's for a malformed pattern, error 19
// for a pattern too long or a match beyond the time, stack or work bounds.
std::optional<std::pair<size_t, size_t>> firstMatch(Units& text, const std::string& pattern,
                                                    const GWLPScopeRef& scope, GWLPErrorOut& out) {
  std::u16string units = platform::utf8::toUtf16(pattern);
  if (units.size() > kGWLPMaxPatternLength) {
    out.fail(kGWLPErrorResourceLimit);
    return std::nullopt;
  }
  if (!GWLPChargeWork(scope, text.length() + units.size(), out)) return std::nullopt;
  platform::RegexError failure;
  auto regex = platform::BoundedRegex::compile(std::u16string_view(units), {}, kStringMethodRegexLimits, &failure);
  if (!regex) {
    if (failure.failure == platform::RegexFailure::kMalformed) {
      out.fail(platform::Error(kGWLPRegularExpressionErrorDomain, failure.engineStatus, failure.engineStatusName));
    } else {
      out.fail(kGWLPErrorResourceLimit);
    }
    return std::nullopt;
  }
  // The engine reports its running step count; each step not yet charged
  // goes to the run's work budget, and a spent budget stops the match.
  int32_t chargedSteps = 0;
  auto chargeSteps = [&](int32_t steps) {
    const int32_t fresh = steps - chargedSteps;
    chargedSteps = steps;
    return fresh <= 0 || GWLPChargeWork(scope, static_cast<size_t>(fresh) * kGWLPRegexWorkPerStep);
  };
  auto match = regex->firstMatch(text.utf16(), &failure, chargeSteps);
  if (!match) {
    // Time out, stack overflow, spent work budget or no memory.
    out.fail(kGWLPErrorResourceLimit);
    return std::nullopt;
  }
  if (!match->found) return std::nullopt;
  return std::make_pair(match->start, match->end);
}

// ---- Case mapping ----

using CaseMapping = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

// `text` mapped by full Unicode case mapping under `locale` ("" for the
// locale-independent mapping).
GWLPValueRef mapCase(const std::string& text, CaseMapping mapping, const char* locale, const GWLPScopeRef& scope,
                     GWLPErrorOut& out) {
  if (!*locale && GWLPIsAscii(text)) {
    // Outside any locale's rules the mapping of ASCII letters is ASCII,
    // one unit for one: charged as the full mapping is.
    if (text.empty()) return GWLPStringValue::make("");
    if (!GWLPChargeWork(scope, text.size(), out)) return undefined();
    std::string mapped = text;
    const bool lower = mapping == CaseMapping(u_strToLower);
    for (char& c : mapped) {
      if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (!lower && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return makeText(std::move(mapped), scope, out);
  }
  std::u16string units = platform::utf8::toUtf16(text);
  if (units.empty()) return GWLPStringValue::make("");
  if (units.size() > static_cast<size_t>(INT32_MAX / 4)) {
    out.fail(kGWLPErrorResourceLimit);
    return undefined();
  }
  if (!GWLPChargeWork(scope, units.size(), out)) return undefined();
  const auto length = static_cast<int32_t>(units.size());
  auto run = [&](std::u16string& mapped, UErrorCode& status) {
    return mapping(reinterpret_cast<UChar*>(mapped.data()), static_cast<int32_t>(mapped.size()),
                   reinterpret_cast<const UChar*>(units.data()), length, locale, &status);
  };
  // Full case mapping rarely grows a text; when it does, map again into a
  // buffer of the size the first pass asked for.
  UErrorCode status = U_ZERO_ERROR;
  std::u16string mapped(units.size() + 16, u'\0');
  int32_t mappedLength = run(mapped, status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    mapped.assign(static_cast<size_t>(mappedLength), u'\0');
    mappedLength = run(mapped, status);
  }
  if (U_FAILURE(status)) {
    out.fail(kGWLPErrorResourceLimit);
    return undefined();
  }
  mapped.resize(static_cast<size_t>(mappedLength));
  return makeText(platform::utf8::fromUtf16(mapped), scope, out);
}

// ---- The methods ----

using Handler = GWLPStringMethodHandler;

GWLPValueRef charAt(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                    platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 1, out)) return undefined();
  double position = 0;
  if (!values.empty()) {
    auto integer = integerOf(values[0], out);
    if (!integer) return undefined();
    position = *integer;
  }
  Units units(text);
  if (position < 0 || position >= static_cast<double>(units.length())) return GWLPStringValue::make("");
  size_t at = static_cast<size_t>(position);
  return makeText(units.sub(at, at + 1), scope, out);
}

GWLPValueRef concat(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                    platform::Error* error) {
  GWLPErrorOut out(error);
  std::string result = text;
  for (const auto& value : values) {
    auto piece = textOf(value, out);
    if (!piece) return undefined();
    if (result.size() + piece->size() > kGWLPMaxTextBytes) {
      out.fail(kGWLPErrorResourceLimit);
      return undefined();
    }
    result += *piece;
  }
  return makeText(std::move(result), scope, out);
}

GWLPValueRef hasOwnProperty(const std::string& text, GWLPValueSpan values, const GWLPScopeRef&,
                            platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 1, out)) return undefined();
  auto name = textOf(values[0], out);
  if (!name) return undefined();
  if (*name == "length") return GWLPBooleanValue::booleanValueWithBool(true);
  double number = values[0]->doubleValueOrError(out);
  if (out.failed()) return undefined();
  bool own = std::isfinite(number) && number >= 0 && std::trunc(number) == number &&
             number < static_cast<double>(platform::utf8::utf16Length(text));
  return GWLPBooleanValue::booleanValueWithBool(own);
}

// The search text of indexOf, lastIndexOf, search and replace: the first
// value's text (see GWLPTextOf), or "undefined" when there is none.
const std::string* searchTextOf(GWLPValueSpan values, std::string& converted, GWLPErrorOut& out) {
  static const std::string kUndefined = "undefined";
  if (values.empty()) return &kUndefined;
  return GWLPTextOf(*values[0], converted, out);
}

GWLPValueRef indexOf(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                     platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  std::string converted;
  const std::string* search = searchTextOf(values, converted, out);
  if (!search) return undefined();
  Units units(text);
  double start = 0;
  if (values.size() == 2) {
    auto integer = integerOf(values[1], out);
    if (!integer) return undefined();
    start = *integer;
  }
  if (search->empty()) return GWLPNumberValue::make(-1);
  if (!GWLPChargeWork(scope, units.length() + search->size(), out)) return undefined();
  auto found = firstOccurrence(units, *search, clampToLength(start, units.length()));
  return GWLPNumberValue::make(found ? static_cast<double>(found->first) : -1);
}

GWLPValueRef lastIndexOf(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                         platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  std::string converted;
  const std::string* search = searchTextOf(values, converted, out);
  if (!search) return undefined();
  double from = INFINITY;
  if (values.size() == 2) {
    double number = values[1]->doubleValueOrError(out);
    if (out.failed()) return undefined();
    if (!std::isnan(number)) from = GWLPToInteger(number);
  }
  if (search->empty()) return GWLPNumberValue::make(-1);
  Units units(text);
  const size_t length = units.length();
  size_t searchLength = platform::utf8::utf16Length(*search);
  size_t end = std::min(clampToLength(std::max(from, 0.0), length) + searchLength, length);
  if (!GWLPChargeWork(scope, length + search->size(), out)) return undefined();
  double last = -1;
  // Occurrences come in ascending order of their start; one under canonical
  // equivalence may span fewer units than an earlier one, so the walk goes on
  // until the starts pass the end of the range.
  forEachOccurrence(units, *search, [&](size_t start, size_t stop) {
    if (stop <= end) last = static_cast<double>(start);
    return start < end;
  });
  return GWLPNumberValue::make(last);
}

GWLPValueRef match(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                   platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 1, out)) return undefined();
  std::string pattern;
  if (!values.empty()) {
    auto patternText = textOf(values[0], out);
    if (!patternText) return undefined();
    pattern = std::move(*patternText);
  }
  std::string matched;
  if (!pattern.empty()) {
    Units units(text);
    auto found = firstMatch(units, pattern, scope, out);
    if (out.failed()) return undefined();
    if (!found) return GWLPNullValue::sharedInstance();
    matched = units.sub(found->first, found->second);
  }
  GWLPValueRef piece = makeText(std::move(matched), scope, out);
  if (out.failed()) return undefined();
  auto array = GWLPObjectManager::arrayValueWithArray({piece}, scope, out);
  return array ? GWLPValueRef(array) : undefined();
}

GWLPValueRef search(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                    platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 1, out)) return undefined();
  std::string converted;
  const std::string* pattern = searchTextOf(values, converted, out);
  if (!pattern) return undefined();
  if (pattern->empty()) return GWLPNumberValue::make(0);
  Units units(text);
  auto found = firstMatch(units, *pattern, scope, out);
  if (out.failed()) return undefined();
  return GWLPNumberValue::make(found ? static_cast<double>(found->first) : -1);
}

GWLPValueRef replace(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                     platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  std::string converted;
  const std::string* pattern = searchTextOf(values, converted, out);
  if (!pattern) return undefined();
  Units units(text);
  std::optional<std::pair<size_t, size_t>> found;
  if (pattern->empty()) {
    found.emplace(0, 0);
  } else {
    if (!GWLPChargeWork(scope, units.length() + pattern->size(), out)) return undefined();
    found = firstOccurrence(units, *pattern, 0);
    if (!found) return makeText(text, scope, out);
  }
  std::string replacement = "undefined";
  if (values.size() == 2 && values[1]->isFunction()) {
    auto function = std::static_pointer_cast<GWLPFunctionValue>(values[1]);
    GWLPValueRef result = function->invokeWithArguments(
        {GWLPStringValue::make(*pattern), GWLPNumberValue::make(static_cast<double>(found->first)),
         GWLPStringValue::make(text)},
        scope, out);
    if (out.failed()) return undefined();
    auto resultText = textOf(result, out);
    if (!resultText) return undefined();
    replacement = std::move(*resultText);
  } else if (values.size() == 2) {
    auto replacementText = textOf(values[1], out);
    if (!replacementText) return undefined();
    replacement = std::move(*replacementText);
  }
  std::string result = units.sub(0, found->first);
  std::string rest = units.sub(found->second, units.length());
  if (result.size() + replacement.size() + rest.size() > kGWLPMaxTextBytes) {
    out.fail(kGWLPErrorResourceLimit);
    return undefined();
  }
  result += replacement;
  result += rest;
  return makeText(std::move(result), scope, out);
}

GWLPValueRef slice(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                   platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  Units units(text);
  const double length = static_cast<double>(units.length());
  double bounds[2] = {0, length};
  for (size_t i = 0; i < values.size(); ++i) {
    auto integer = integerOf(values[i], out);
    if (!integer) return undefined();
    bounds[i] = *integer < 0 ? std::max(*integer + length, 0.0) : std::min(*integer, length);
  }
  if (bounds[1] <= bounds[0]) return GWLPStringValue::make("");
  return makeText(units.sub(static_cast<size_t>(bounds[0]), static_cast<size_t>(bounds[1])), scope, out);
}

GWLPValueRef substring(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                       platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  Units units(text);
  const size_t length = units.length();
  size_t bounds[2] = {0, length};
  for (size_t i = 0; i < values.size(); ++i) {
    auto integer = integerOf(values[i], out);
    if (!integer) return undefined();
    bounds[i] = clampToLength(*integer, length);
  }
  return makeText(units.sub(std::min(bounds[0], bounds[1]), std::max(bounds[0], bounds[1])), scope, out);
}

GWLPValueRef split(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                   platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(values, 2, out)) return undefined();
  auto arrayOf = [&](GWLPValueList pieces) -> GWLPValueRef {
    auto array = GWLPObjectManager::arrayValueWithArray(std::move(pieces), scope, out);
    return array ? GWLPValueRef(array) : undefined();
  };
  if (text.empty() || values.empty()) {
    GWLPValueRef whole = makeText(text, scope, out);
    return out.failed() ? undefined() : arrayOf({whole});
  }
  auto separator = textOf(values[0], out);
  if (!separator) return undefined();
  size_t limit = SIZE_MAX;
  if (values.size() == 2) {
    double number = values[1]->doubleValueOrError(out);
    if (out.failed()) return undefined();
    limit = GWLPToUint32(number);
  }
  if (limit == 0) return arrayOf({});

  Units units(text);
  const size_t length = units.length();
  const size_t most = std::min(limit, kGWLPMaxArraySlots);
  if (!GWLPChargeWork(scope, length + separator->size(), out) || !GWLPReserveText(scope, text.size(), out)) {
    return undefined();
  }
  GWLPValueList pieces;
  bool tooMany = false;
  auto add = [&](size_t start, size_t end) {
    if (pieces.size() >= limit) return false;
    if (pieces.size() >= most) {
      tooMany = true;
      return false;
    }
    pieces.push_back(GWLPStringValue::make(units.sub(start, end)));
    return true;
  };
  if (separator->empty()) {
    for (size_t i = 0; i < length && add(i, i + 1); ++i) {
    }
  } else {
    // The separator is cut out literally, code unit by code unit.
    const std::u16string& haystack = units.utf16();
    std::u16string needle = platform::utf8::toUtf16(*separator);
    size_t start = 0;
    bool more = true;
    for (size_t at = haystack.find(needle); more && at != std::u16string::npos;
         at = haystack.find(needle, start)) {
      more = add(start, at);
      start = at + needle.size();
    }
    if (more) add(start, length);
  }
  if (tooMany) {
    out.fail(kGWLPErrorResourceLimit);
    return undefined();
  }
  return arrayOf(std::move(pieces));
}

// A method of no values: `Make(text)`.
template <GWLPValueRef (*Make)(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out)>
GWLPValueRef withoutValues(const std::string& text, GWLPValueSpan values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 0, out)) return undefined();
  return Make(text, scope, out);
}

GWLPValueRef toLowerCase(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return mapCase(text, u_strToLower, "", scope, out);
}
GWLPValueRef toUpperCase(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return mapCase(text, u_strToUpper, "", scope, out);
}
GWLPValueRef toLocaleLowerCase(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return mapCase(text, u_strToLower, uloc_getDefault(), scope, out);
}
GWLPValueRef toLocaleUpperCase(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return mapCase(text, u_strToUpper, uloc_getDefault(), scope, out);
}
GWLPValueRef toString(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return makeText(text, scope, out);
}
GWLPValueRef trim(const std::string& text, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return makeText(std::string(GWLPTrimWhitespace(text)), scope, out);
}

struct Method {
  std::string_view name;
  Handler handler;
};

constexpr Method kMethods[] = {
    {"charAt", charAt},
    {"concat", concat},
    {"hasOwnProperty", hasOwnProperty},
    {"indexOf", indexOf},
    {"lastIndexOf", lastIndexOf},
    {"match", match},
    {"replace", replace},
    {"search", search},
    {"slice", slice},
    {"split", split},
    {"substring", substring},
    {"toLowerCase", withoutValues<toLowerCase>},
    {"toUpperCase", withoutValues<toUpperCase>},
    {"toLocaleLowerCase", withoutValues<toLocaleLowerCase>},
    {"toLocaleUpperCase", withoutValues<toLocaleUpperCase>},
    {"toString", withoutValues<toString>},
    {"trim", withoutValues<trim>},
};

}  // namespace

GWLPStringCommandEvaluator::GWLPStringCommandEvaluator() = default;

GWLPStringCommandEvaluator& GWLPStringCommandEvaluator::sharedInstance() {
  static GWLPStringCommandEvaluator* instance = new GWLPStringCommandEvaluator();
  return *instance;
}

GWLPStringMethodHandler GWLPStringCommandEvaluator::handlerFor(std::string_view name) {
  for (const Method& method : kMethods) {
    if (GWLPSameName(method.name, name)) return method.handler;
  }
  return nullptr;
}

GWLPValueRef GWLPStringCommandEvaluator::evaluateCommand(const std::string& name, const std::string& text,
                                                         const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                                         platform::Error* error) {
  GWLPErrorOut out(error);
  Handler handler = handlerFor(name);
  if (!handler) {
    out.fail(kGWLPErrorNoSuchMethod);
    return undefined();
  }
  GWLPValueBuffer values;
  if (!GWLPEvaluateArgumentsInto(arguments, scope, values, out)) return undefined();
  // Every method reads its whole receiver at least once: a script that calls
  // methods of a long text again and again spends the run's work budget.
  if (!GWLPChargeWork(scope, text.size() + 1, out)) return undefined();
  GWLPValueRef result = handler(text, values.span(), scope, out);
  return out.failed() ? undefined() : result;
}
