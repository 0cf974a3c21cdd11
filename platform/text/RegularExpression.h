// platform::RegularExpression — a compiled ICU regular expression searched in
// UTF-8 text, with the syntax and character classes of the platform's regular
// expressions (Unicode \d, \s, \S, \w; no options unless given).
//
// A search is bounded: ICU's match engine stops after a fixed number of steps
// (kRegularExpressionStepLimit, in ICU's time-limit units, which count engine
// steps and not the clock, so the outcome does not depend on the machine), and
// its backtracking stack is capped. A search that hits either bound counts as
// no match and reports kRegularExpressionErrorLimit.
//
// A compiled expression is immutable; `search` may run on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/core/Error.h"

struct URegularExpression;

namespace platform {

inline constexpr const char* kRegularExpressionErrorDomain = "platform.RegularExpression";
enum RegularExpressionErrorCode : int64_t {
  kRegularExpressionErrorPattern = 1,  // ICU refused the pattern
  kRegularExpressionErrorText = 2,     // the text is not valid UTF-8
  kRegularExpressionErrorLimit = 3,    // the search hit its step or stack bound
};

inline constexpr int32_t kRegularExpressionStepLimit = 200;
inline constexpr int32_t kRegularExpressionStackLimitBytes = 1 << 20;

class RegularExpression {
 public:
  // ICU's flags (UREGEX_CASE_INSENSITIVE, ...); 0 for none. Null with an
  // error for a pattern that does not compile.
  static std::shared_ptr<const RegularExpression> create(std::string_view pattern, uint32_t flags = 0,
                                                         Error* error = nullptr);
  ~RegularExpression();
  RegularExpression(const RegularExpression&) = delete;
  RegularExpression& operator=(const RegularExpression&) = delete;

  // Whether the expression matches somewhere in `text` (a search, not a whole
  // match: anchor it with ^ and $ for that). False with an error for text that
  // is not UTF-8 and for a search that hits its bounds.
  bool search(std::string_view text, Error* error = nullptr) const;

 private:
  explicit RegularExpression(URegularExpression* compiled) : compiled_(compiled) {}
  URegularExpression* compiled_;  // never matched on directly: each search clones it
};

}  // namespace platform
