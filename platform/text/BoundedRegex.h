// BoundedRegex — an ICU regular expression that cannot hang or exhaust the
// process, for patterns that come from outside (downloaded scripts, audience
// filters).
//
// Three bounds hold for every expression, given by the caller in RegexLimits:
// the pattern's length (longer patterns are refused before the engine sees
// them), the engine's time limit per match and the memory of its backtracking
// stack. A match that reaches either limit ends with kLimitExceeded instead of
// running on; `(a+)+$` against forty a's and a "b" ends that way.
//
// Beyond the engine's own limits a caller may stop a match early: the step
// callback is told the engine's running step count (the unit of the time
// limit) every few thousand backtracking operations and answers whether the
// match may go on; a run's shared work budget is charged there.
//
//   platform::RegexError error;
//   auto regex = platform::BoundedRegex::compile(u"b+", {.caseInsensitive = true}, limits, &error);
//   auto match = regex->firstMatch(u"aBbc", &error);  // found, units [1, 3)
//
// Positions are UTF-16 code units of the text searched. A BoundedRegex is
// used by one thread at a time; compiling is cheap enough to do per use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Error.h"

struct URegularExpression;

namespace platform {

// Error domain of BoundedRegex failures; the code is the RegexFailure.
inline constexpr const char* kRegexErrorDomain = "platform.regex";

// Every bound must be given: a zero time or stack limit would leave the
// engine unbounded, so compile refuses such limits as kEngineFailure.
struct RegexLimits {
  // Longest pattern compiled, in UTF-16 units.
  size_t maxPatternLength = 0;
  // The engine's time limit per match, in its own steps (each a few thousand
  // backtracking operations, on the order of a millisecond).
  int32_t timeLimit = 0;
  // Bytes the engine's backtracking stack may take.
  int32_t stackLimitBytes = 0;
};

struct RegexOptions {
  bool caseInsensitive = false;
};

enum class RegexFailure : int64_t {
  kNone = 0,
  kPatternTooLong = 1,  // the pattern is longer than the limit; never compiled
  kMalformed = 2,       // the engine refused the pattern
  kLimitExceeded = 3,   // a match reached the time or stack limit, or the step callback stopped it
  kEngineFailure = 4,   // anything else the engine reported (such as no memory)
};

// What went wrong, with the engine's own status where it gave one (such as
// U_REGEX_MISMATCHED_PAREN, 66310, for a malformed pattern).
struct RegexError {
  RegexFailure failure = RegexFailure::kNone;
  int32_t engineStatus = 0;
  std::string engineStatusName;

  // As an Error of kRegexErrorDomain: code the failure, description the
  // engine's status name (or a text of its own for a pattern too long).
  Error toError() const;
};

// Where a match was found; `found` false for none.
struct RegexMatch {
  bool found = false;
  size_t start = 0;
  size_t end = 0;
};

class BoundedRegex {
 public:
  // Told the engine's step count so far; answers whether the match may go on.
  using StepCallback = std::function<bool(int32_t steps)>;

  // The compiled pattern, or nullopt with kPatternTooLong or kMalformed
  // (kEngineFailure for limits without a time or stack bound, or no memory).
  [[nodiscard]] static std::optional<BoundedRegex> compile(std::u16string_view pattern, RegexOptions options,
                                             const RegexLimits& limits, RegexError* error = nullptr);
  // The same for UTF-8 text (ill-formed sequences read as U+FFFD).
  [[nodiscard]] static std::optional<BoundedRegex> compile(std::string_view pattern, RegexOptions options,
                                             const RegexLimits& limits, RegexError* error = nullptr);

  BoundedRegex(BoundedRegex&&) noexcept;
  BoundedRegex& operator=(BoundedRegex&&) noexcept;
  ~BoundedRegex();

  // The first match anywhere in `text` (a search, not a whole-text match),
  // or nullopt with kLimitExceeded or kEngineFailure.
  [[nodiscard]] std::optional<RegexMatch> firstMatch(std::u16string_view text, RegexError* error = nullptr,
                                       const StepCallback& onSteps = {});

 private:
  struct Closer {
    void operator()(URegularExpression* regex) const;
  };
  BoundedRegex(std::unique_ptr<URegularExpression, Closer> regex, const RegexLimits& limits);

  std::unique_ptr<URegularExpression, Closer> regex_;
  RegexLimits limits_;
};

}  // namespace platform
