#include "analytics/audiences/GWLAudienceStringFilter.h"

#include <unicode/uchar.h>

#include <string>
#include <vector>

#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "platform/text/Utf8.h"

namespace {

using Field = GWLPBStringFilter::Field;

// The expression, when present and readable.
std::optional<std::string> expressionOf(const std::shared_ptr<GWLPBStringFilter>& filter) {
  if (!NANOHasField(filter, Field::expression)) return std::nullopt;
  return NANOGetString(filter, Field::expression);
}

std::vector<std::string> expressionListOf(const std::shared_ptr<GWLPBStringFilter>& filter) {
  std::vector<std::string> list;
  auto items = NANOGetArray(filter, Field::expression_list);
  if (!items) return list;
  for (auto& item : *items) {
    if (auto* text = std::get_if<std::string>(&item)) list.push_back(std::move(*text));
  }
  return list;
}

bool isCaseSensitive(const std::shared_ptr<GWLPBStringFilter>& filter) {
  return NANOHasField(filter, Field::case_sensitive) && NANOGetBool(filter, Field::case_sensitive);
}

// The text's characters, each replaced by its simple case fold.
std::u32string folded(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto decoded = platform::utf8::decode(text, i);
    out.push_back(static_cast<char32_t>(u_foldCase(static_cast<UChar32>(decoded.codePoint), U_FOLD_CASE_DEFAULT)));
    i += decoded.length;
  }
  return out;
}

// Types 2 to 5 on two texts. Comparing whole characters keeps every position
// on a character boundary; with equal folds the UTF-16 lengths are equal too.
template <typename Text>
bool compareTexts(int32_t matchType, const Text& value, const Text& expression) {
  switch (matchType) {
    case kGWLAudienceStringMatchBeginsWith: return value.starts_with(expression);
    case kGWLAudienceStringMatchEndsWith: return value.ends_with(expression);  // NO when longer than the value
    case kGWLAudienceStringMatchContains: return value.find(expression) != Text::npos;
    case kGWLAudienceStringMatchExact: return value == expression;
    default: return false;
  }
}

bool matches(int32_t matchType, std::string_view value, std::string_view expression, bool caseSensitive) {
  if (caseSensitive) return compareTexts(matchType, value, expression);
  return compareTexts(matchType, folded(value), folded(expression));
}

}  // namespace

namespace {

// The compiled expression of a type-1 condition: compiled for this use, or
// the environment's shared one.
struct CompiledRegex {
  std::optional<platform::BoundedRegex> own;
  platform::BoundedRegex* regex = nullptr;
};

// The checks of a condition. For a valid type-1 condition `compiled` (when
// given) receives its expression, taken from the environment's cache when
// `mayShare` and there is one.
bool validate(const std::shared_ptr<GWLPBStringFilter>& filter, CompiledRegex* compiled, bool mayShare,
              const GWLAudienceFilterEnvironment& environment) {
  if (!filter || !NANOHasField(filter, Field::match_type)) {
    environment.log(kGWLAudienceLogNoMatchType, {GWLAudienceMessageDescription(filter.get())});
    return false;
  }
  const int32_t matchType = NANOGetInt32(filter, Field::match_type);
  if (matchType == kGWLAudienceStringMatchInList) {
    if (!expressionListOf(filter).empty()) return true;
    environment.log(kGWLAudienceLogNoExpressionList, {GWLAudienceMessageDescription(filter.get())});
    return false;
  }
  if (matchType == kGWLAudienceStringMatchUnknown) {
    environment.log(kGWLAudienceLogUnknownMatchType, {GWLAudienceMessageDescription(filter.get())});
    return false;
  }
  auto expression = expressionOf(filter);
  if (!expression) {
    environment.log(kGWLAudienceLogNoExpression, {GWLAudienceMessageDescription(filter.get())});
    return false;
  }
  if (matchType != kGWLAudienceStringMatchRegex) return true;
  const bool caseInsensitive = !isCaseSensitive(filter);
  if (mayShare && environment.regexCache) {
    auto& entry = environment.regexCache->compiled(*expression, caseInsensitive, environment.regexLimits);
    if (!entry.regex) {
      environment.log(kGWLAudienceLogUnparsableRegex,
                      {GWLAudienceMessageDescription(filter.get()), entry.error.toError()});
      return false;
    }
    if (compiled) compiled->regex = &*entry.regex;
    return true;
  }
  platform::RegexError error;
  auto regex = platform::BoundedRegex::compile(std::string_view(*expression), {caseInsensitive},
                                               environment.regexLimits, &error);
  if (!regex) {
    environment.log(kGWLAudienceLogUnparsableRegex, {GWLAudienceMessageDescription(filter.get()), error.toError()});
    return false;
  }
  if (compiled) {
    compiled->own.emplace(std::move(*regex));
    compiled->regex = &*compiled->own;
  }
  return true;
}

}  // namespace

bool GWLAudienceValidateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                     std::optional<platform::BoundedRegex>* compiled,
                                     const GWLAudienceFilterEnvironment& environment) {
  if (compiled) compiled->reset();
  // An expression handed out is the caller's own: it is compiled for it.
  CompiledRegex regex;
  const bool valid = validate(filter, compiled ? &regex : nullptr, compiled == nullptr, environment);
  if (compiled && regex.own) compiled->emplace(std::move(*regex.own));
  return valid;
}

bool GWLAudienceValidateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                     std::optional<platform::BoundedRegex>* compiled) {
  return GWLAudienceValidateStringFilter(filter, compiled, GWLAudienceFilterEnvironment::current());
}

bool GWLAudienceIsValidStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                    const GWLAudienceFilterEnvironment& environment) {
  return GWLAudienceValidateStringFilter(filter, nullptr, environment);
}

bool GWLAudienceIsValidStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter) {
  return GWLAudienceIsValidStringFilter(filter, GWLAudienceFilterEnvironment::current());
}

std::optional<bool> GWLAudienceEvaluateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                                    std::optional<std::string_view> text,
                                                    const GWLAudienceFilterEnvironment& environment) {
  if (!text) {
    environment.log(kGWLAudienceLogEvaluationStringNil, {GWLAudienceMessageDescription(filter.get())});
    return std::nullopt;
  }
  CompiledRegex compiled;
  if (!validate(filter, &compiled, true, environment)) {
    environment.log(kGWLAudienceLogStringFilterInvalid, {GWLAudienceMessageDescription(filter.get())});
    return std::nullopt;
  }
  const int32_t matchType = NANOGetInt32(filter, Field::match_type);
  const bool caseSensitive = isCaseSensitive(filter);
  switch (matchType) {
    case kGWLAudienceStringMatchUnknown:
      environment.log(kGWLAudienceLogStringUnknownComparisonType, {GWLAudienceMessageDescription(filter.get())});
      return std::nullopt;
    case kGWLAudienceStringMatchRegex: {
      if (!compiled.regex) {
        environment.log(kGWLAudienceLogParsedRegexNil, {GWLAudienceMessageDescription(filter.get())});
        return std::nullopt;
      }
      platform::RegexError error;
      auto match = compiled.regex->firstMatch(platform::utf8::toUtf16(*text), &error);
      if (!match) {
        environment.log(kGWLAudienceLogRegexLimitExceeded,
                        {GWLAudienceMessageDescription(filter.get()), error.toError()});
        return std::nullopt;
      }
      return match->found;
    }
    case kGWLAudienceStringMatchBeginsWith:
    case kGWLAudienceStringMatchEndsWith:
    case kGWLAudienceStringMatchContains:
    case kGWLAudienceStringMatchExact:
      return matches(matchType, *text, expressionOf(filter).value_or(std::string()), caseSensitive);
    case kGWLAudienceStringMatchInList:
      for (const auto& member : expressionListOf(filter)) {
        if (matches(kGWLAudienceStringMatchExact, *text, member, caseSensitive)) return true;
      }
      return false;
    default:
      return false;  // types beyond the table, negative ones included
  }
}

std::optional<bool> GWLAudienceEvaluateStringFilter(const std::shared_ptr<GWLPBStringFilter>& filter,
                                                    std::optional<std::string_view> text) {
  return GWLAudienceEvaluateStringFilter(filter, text, GWLAudienceFilterEnvironment::current());
}
