// GWLAudienceTimestampsCache — the evaluation times of the audiences touched
// during one bundle (or one evaluation call, when the caller gives none).
//
// Every evaluation of the bundle starts from the times stored before it:
// the first time an audience's result row is seen, its stored times are
// loaded (`populateCachedTimestamps`), and every rewritten row of that
// audience carries exactly the cache's times from then on.
//
//   dynamic and session-scoped filters   the latest true evaluation time; a
//                                        time not later than the cached one
//                                        logs 6037 and is not taken
//   sequence filters                     the true evaluation times, one per
//                                        whole second (GWLSequenceTimestampsCache);
//                                        of the stored times only the last is
//                                        loaded
//
// Times are seconds since 1970; rows keep whole seconds (truncated, saturating).
//
// The cache also keeps the regular expressions compiled during its life: a
// bundle evaluates the same few hundred filters for each of its events, and
// compiling their expressions once per bundle saves most of that work
// (decoding the filters again is cheap and is not kept). Answers and log
// lines are the same as without.
//
// Threads: the engine's worker queue only, like the evaluator; no lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"

class GWLEventFilter;
class GWLFilterResult;
class GWLPBDynamicFilterResultTimestamp;
class GWLPBSequenceFilterResultTimestamp;
class GWLPropertyFilter;
class GWLSequenceTimestampsCache;

class GWLAudienceTimestampsCache {
 public:
  // 6037 goes to `monitor` (nothing is logged without one).
  explicit GWLAudienceTimestampsCache(std::shared_ptr<GWLMonitor> monitor = nullptr);

  // Loads the stored times of `row` (null: none) for the audience, once per
  // audience and cache; later calls for the audience change nothing.
  void populateCachedTimestamps(const std::shared_ptr<GWLFilterResult>& row, int32_t audienceID);
  // Records a true evaluation of the filter at `timestamp`. Filters that are
  // neither sequence, dynamic nor session scoped keep no time.
  void addEvaluationTimestamp(double timestamp, const GWLEventFilter& filter);
  void addEvaluationTimestamp(double timestamp, const GWLPropertyFilter& filter);

  // One record per cached filter ID, ascending; empty for an audience without any.
  std::vector<std::shared_ptr<GWLPBDynamicFilterResultTimestamp>> dynamicTimestampsForAudienceID(
      int32_t audienceID) const;
  // One record per filter ID, ascending, times ascending; nullopt when the
  // audience has no sequence entry.
  std::optional<std::vector<std::shared_ptr<GWLPBSequenceFilterResultTimestamp>>> sequenceTimestampsForAudienceID(
      int32_t audienceID) const;

  // The compiled expressions of the filters' string conditions.
  const std::shared_ptr<GWLAudienceRegexCache>& regexCache() const { return regexCache_; }

 private:
  // A cached time: loaded from a row as whole seconds, or recorded as taken.
  struct CachedTime {
    double seconds = 0;
    int64_t wholeSeconds = 0;
  };

  void addDynamicTimestamp(double timestamp, int32_t audienceID, int32_t filterID);
  GWLSequenceTimestampsCache& sequenceCache(int32_t audienceID);

  std::map<int32_t, std::map<int32_t, CachedTime>> cachedDynamicFilterEvaluationTimestamps_;
  std::map<int32_t, std::shared_ptr<GWLSequenceTimestampsCache>> cachedSequenceEvaluationTimestamps_;
  std::shared_ptr<GWLAudienceRegexCache> regexCache_ = std::make_shared<GWLAudienceRegexCache>();
  GWLAudienceFilterEnvironment environment_;
};
