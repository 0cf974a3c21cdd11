#include "platform/text/BoundedRegex.h"

#include <unicode/uregex.h>
#include <unicode/utypes.h>

#include <climits>
#include <utility>

#include "platform/text/Utf8.h"

namespace platform {

namespace {

void fill(RegexError* error, RegexFailure failure, UErrorCode status = U_ZERO_ERROR) {
  if (!error) return;
  error->failure = failure;
  error->engineStatus = static_cast<int32_t>(status);
  error->engineStatusName = status == U_ZERO_ERROR ? std::string() : std::string(u_errorName(status));
}

bool reachedLimit(UErrorCode status) {
  return status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW || status == U_REGEX_STOPPED_BY_CALLER;
}

struct CallbackContext {
  const BoundedRegex::StepCallback* onSteps;
};

UBool U_CALLCONV forwardSteps(const void* context, int32_t steps) {
  const auto* forward = static_cast<const CallbackContext*>(context);
  return (*forward->onSteps)(steps);
}

}  // namespace

Error RegexError::toError() const {
  std::string description = engineStatusName;
  if (failure == RegexFailure::kPatternTooLong) description = "The pattern is longer than the limit";
  return Error(kRegexErrorDomain, static_cast<int64_t>(failure), description);
}

void BoundedRegex::Closer::operator()(URegularExpression* regex) const { uregex_close(regex); }

BoundedRegex::BoundedRegex(std::unique_ptr<URegularExpression, Closer> regex, const RegexLimits& limits)
    : regex_(std::move(regex)), limits_(limits) {}
BoundedRegex::BoundedRegex(BoundedRegex&&) noexcept = default;
BoundedRegex& BoundedRegex::operator=(BoundedRegex&&) noexcept = default;
BoundedRegex::~BoundedRegex() = default;

std::optional<BoundedRegex> BoundedRegex::compile(std::u16string_view pattern, RegexOptions options,
                                                  const RegexLimits& limits, RegexError* error) {
  if (limits.timeLimit <= 0 || limits.stackLimitBytes <= 0) {
    fill(error, RegexFailure::kEngineFailure, U_ILLEGAL_ARGUMENT_ERROR);
    return std::nullopt;
  }
  if (pattern.size() > limits.maxPatternLength || pattern.size() > static_cast<size_t>(INT32_MAX)) {
    fill(error, RegexFailure::kPatternTooLong);
    return std::nullopt;
  }
  // The engine refuses a pattern of no units; the empty group means the same
  // (it matches the empty text at the start).
  if (pattern.empty()) pattern = u"(?:)";
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  const uint32_t flags = options.caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
  std::unique_ptr<URegularExpression, Closer> regex(uregex_open(reinterpret_cast<const UChar*>(pattern.data()),
                                                                static_cast<int32_t>(pattern.size()), flags,
                                                                &parseError, &status));
  if (U_FAILURE(status) || !regex) {
    fill(error, status == U_MEMORY_ALLOCATION_ERROR ? RegexFailure::kEngineFailure : RegexFailure::kMalformed,
         U_FAILURE(status) ? status : U_INTERNAL_PROGRAM_ERROR);
    return std::nullopt;
  }
  return BoundedRegex(std::move(regex), limits);
}

std::optional<BoundedRegex> BoundedRegex::compile(std::string_view pattern, RegexOptions options,
                                                  const RegexLimits& limits, RegexError* error) {
  // Every UTF-16 unit comes from at most three bytes: a pattern of more than
  // three times the limit in bytes is too long before it is converted.
  if (pattern.size() / 3 > limits.maxPatternLength) {
    fill(error, RegexFailure::kPatternTooLong);
    return std::nullopt;
  }
  return compile(std::u16string_view(utf8::toUtf16(pattern)), options, limits, error);
}

std::optional<RegexMatch> BoundedRegex::firstMatch(std::u16string_view text, RegexError* error,
                                                   const StepCallback& onSteps) {
  if (text.size() > static_cast<size_t>(INT32_MAX)) {
    fill(error, RegexFailure::kLimitExceeded, U_INDEX_OUTOFBOUNDS_ERROR);
    return std::nullopt;
  }
  UErrorCode status = U_ZERO_ERROR;
  URegularExpression* regex = regex_.get();
  uregex_setText(regex, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &status);
  uregex_setTimeLimit(regex, limits_.timeLimit, &status);
  uregex_setStackLimit(regex, limits_.stackLimitBytes, &status);
  CallbackContext context{&onSteps};
  uregex_setMatchCallback(regex, onSteps ? forwardSteps : nullptr, onSteps ? &context : nullptr, &status);
  if (U_FAILURE(status)) {
    fill(error, RegexFailure::kEngineFailure, status);
    return std::nullopt;
  }
  const UBool found = uregex_find(regex, 0, &status);
  RegexMatch match;
  if (U_SUCCESS(status) && found) {
    const int32_t start = uregex_start(regex, 0, &status);
    const int32_t end = uregex_end(regex, 0, &status);
    if (U_SUCCESS(status) && start >= 0 && end >= start) {
      match = RegexMatch{true, static_cast<size_t>(start), static_cast<size_t>(end)};
    } else if (U_SUCCESS(status)) {
      status = U_INTERNAL_PROGRAM_ERROR;
    }
  }
  // The callback's context lives on this frame, and the text is the caller's:
  // neither may stay attached once the match is over.
  UErrorCode detach = U_ZERO_ERROR;
  uregex_setMatchCallback(regex, nullptr, nullptr, &detach);
  static const UChar kEmpty[] = {0};
  uregex_setText(regex, kEmpty, 0, &detach);
  if (U_FAILURE(status)) {
    fill(error, reachedLimit(status) ? RegexFailure::kLimitExceeded : RegexFailure::kEngineFailure, status);
    return std::nullopt;
  }
  return match;
}

}  // namespace platform
