// GWLAudienceFilterEnvironment — what the audience filter functions are
// handed by their caller: the monitor they log to, the definition limits of
// the configuration in force, and the bounds of a filter's regular expression.
//
// The filter functions keep no state and reach for no shared instance; each
// takes an environment and hands it down. Their forms without one use
// `current()`, read once per call.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "analytics/audiences/GWLAudienceFilterLog.h"
#include "analytics/foundation/core/GWLLogContext.h"
#include "platform/text/BoundedRegex.h"

class GWLMonitor;
class GWLRemoteConfig;

// A filter's regular expression: at most 1000 UTF-16 units, and a match ends
// after about a hundred engine steps (some million backtracking operations,
// far beyond what a pattern needs on a parameter value) or a megabyte of
// backtracking stack.
inline constexpr platform::RegexLimits kGWLAudienceRegexLimits{1000, 100, 1 << 20};

// Defaults of the configuration's definition limits.
inline constexpr int32_t kGWLAudienceDefaultMaxFiltersPerAudience = 10;
inline constexpr int32_t kGWLAudienceDefaultMaxParametersPerFilter = 25;

// Regular expressions compiled once for many evaluations (those of one
// bundle): each pattern, with its options and limits, with what compiling it
// gave, the expression or the error. Used by one thread at a time.
class GWLAudienceRegexCache {
 public:
  struct Entry {
    std::optional<platform::BoundedRegex> regex;
    platform::RegexError error;
  };
  Entry& compiled(std::string_view pattern, bool caseInsensitive, const platform::RegexLimits& limits);

 private:
  using Key = std::tuple<std::string, bool, size_t, int32_t, int32_t>;
  std::map<Key, Entry> entries_;
};

struct GWLAudienceFilterEnvironment {
  // Where the lines go; without one nothing is logged.
  std::shared_ptr<GWLMonitor> monitor;
  // Event and property filters of one audience, together; filter IDs stay below it.
  int32_t maxFiltersPerAudience = kGWLAudienceDefaultMaxFiltersPerAudience;
  // Parameter conditions of one event filter.
  int32_t maxParametersPerFilter = kGWLAudienceDefaultMaxParametersPerFilter;
  platform::RegexLimits regexLimits = kGWLAudienceRegexLimits;
  // Where string conditions find their compiled expressions; null: each
  // evaluation compiles its own. Answers and lines are the same either way.
  std::shared_ptr<GWLAudienceRegexCache> regexCache;

  // `monitor` and the definition limits of `config`.
  static GWLAudienceFilterEnvironment withRemoteConfig(const GWLRemoteConfig& config,
                                                       std::shared_ptr<GWLMonitor> monitor);
  // The library's monitor and the limits of the configuration in force (the
  // engine's, else the default one).
  static GWLAudienceFilterEnvironment current();

  // Logs one line of the filters' table with its contexts.
  void log(const GWLAudienceLogLine& line, std::initializer_list<GWLLogContext> contexts = {}) const;
};
