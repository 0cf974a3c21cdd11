// GWLAudience — the audience evaluator: keeps, per audience, which of its
// filters have been evaluated and which hold, in the measurement database.
//
//   event_filters, property_filters   the definitions of the configuration in
//                                     force (`updateAudiences` replaces them)
//   audience_filter_values            one row per audience: current and
//                                     previous results (GWLPBResultData)
//
// For every bundle the engine evaluates each event and each user property
// against the stored filters of its name; a filter evaluated with a result
// sets its status bit, a filter that holds its results bit:
//
//   filter kind        evaluated again once it holds   a later NO
//   plain              no                              -
//   dynamic            yes                             events: keeps holding;
//                                                      properties: turns false
//   session scoped     yes                             keeps holding (until
//                                                      the session's reset)
//   sequence           yes                             events: keeps holding
//
// A filter that cannot be evaluated for the input (a missing parameter, a
// broken filter) leaves its audience's row as it was. Dynamic and
// session-scoped filters also keep their latest true evaluation time,
// sequence filters their true evaluation times (GWLAudienceTimestampsCache).
// `resultsForBundling` then reports every audience with an evaluated filter
// and rolls current results into previous ones; a session start clears the
// bits and times of session-scoped filters.
//
// Rows are written in ascending audience ID. Every database failure ends the
// call with false (nullopt) after its line; the engine runs each call inside
// one of its transactions, whose rollback undoes what the call wrote before.
// A stored filter whose data or filter ID is unusable is skipped with its
// line (6035, 6036).
//
// Limits (maxAudienceCount, maxFilterResultCount, and the definition limits
// of GWLAudienceValidateDefinition) are read from the engine's configuration
// at each call. Every log line stands in GWLAudienceLog.h.
//
// The engine makes its evaluator at start through the maker the composition
// root installs (GWLAudience::Maker, behind GWLAudienceEvaluatorMaker).
//
// Threads: the engine's worker queue only (the database's owner); no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "analytics/audiences/GWLAudienceTimestampsCache.h"
#include "analytics/foundation/config/GWLAudienceEvaluating.h"
#include "analytics/foundation/values/GWLValue.h"

class GWLDatabase;
class GWLFilterResult;
struct GWLAudienceResultWords;
class GWLMonitor;
class GWLRemoteConfig;
class GWLUserAttribute;

class GWLAudience : public GWLAudienceEvaluating {
 public:
  struct Dependencies {
    // Receives the log lines; the library's monitor when null.
    std::shared_ptr<GWLMonitor> monitor;
    // The configuration in force, asked at each call; the engine's (else the
    // default one) when empty.
    std::function<std::shared_ptr<GWLRemoteConfig>()> remoteConfig;
  };

  // The maker the composition root installs for the engine
  // (GWLInstalledHook<GWLAudienceEvaluatorMaker>): evaluators with these
  // dependencies over the engine's database.
  class Maker : public GWLAudienceEvaluatorMaker {
   public:
    explicit Maker(Dependencies dependencies = {}) : dependencies_(std::move(dependencies)) {}
    std::shared_ptr<GWLAudienceEvaluating> audienceWithDatabase(const std::shared_ptr<GWLDatabase>& database) override {
      return initWithDatabase(database, dependencies_);
    }

   private:
    Dependencies dependencies_;
  };

  // Null without a database.
  static std::shared_ptr<GWLAudience> initWithDatabase(std::shared_ptr<GWLDatabase> database,
                                                       Dependencies dependencies = {});

  // ---- the engine's calls ----
  std::shared_ptr<GWLAudienceTimestampsCache> newTimestampsCache() override;
  // The event's name, parameters and time.
  [[nodiscard]] bool evaluateFiltersForEvent(const std::shared_ptr<GWLEvent>& event,
                                             const std::shared_ptr<GWLEventAggregates>& aggregates,
                                             const std::shared_ptr<GWLAudienceTimestampsCache>& cache) override;
  // False (6039) for a property without a string, double or integer value,
  // or one whose name or value a user property may not have.
  [[nodiscard]] bool evaluateFiltersForNanoUserProperty(const std::shared_ptr<GWLPBUserAttribute>& attribute,
                                                        const std::shared_ptr<GWLAudienceTimestampsCache>& cache,
                                                        std::optional<double> evaluationTime) override;
  [[nodiscard]] std::optional<LeafResults> resultsForBundling() override;
  bool clearEvaluationResultsForSessionScopedFilters() override;
  [[nodiscard]] bool updateAudiences(const Audiences& audiences) override;

  // ---- evaluation ----
  // Evaluates the event filters of `eventName` for one event at
  // `eventTimestamp` (seconds since 1970). `cache` null: one for this call.
  [[nodiscard]] bool evaluateFiltersForEventName(const std::string& eventName, const GWLParameters& parameters,
                                                 const std::shared_ptr<GWLEventAggregates>& aggregates,
                                                 double eventTimestamp,
                                                 const std::shared_ptr<GWLAudienceTimestampsCache>& cache);
  [[nodiscard]] bool evaluateFiltersForUserProperty(const std::shared_ptr<GWLUserAttribute>& attribute,
                                                    const std::shared_ptr<GWLAudienceTimestampsCache>& cache,
                                                    double evaluationTimestamp);

  // Whether the filter holds in the row: evaluated and true. A row with
  // results whose status or results list is empty logs 6023 and does not hold.
  static bool isFilterResult(const std::shared_ptr<GWLFilterResult>& row, int32_t filterID,
                             const GWLAudienceFilterEnvironment& environment);
  // The row after one evaluation of the filter: the status bit set when there
  // is a result (cleared otherwise), the results bit set for YES, the times of
  // `cache` for the audience, the row's previous results kept.
  static std::shared_ptr<GWLFilterResult> updatedFilterResultWithFilterID(
      int32_t filterID, int32_t audienceID, const std::shared_ptr<GWLFilterResult>& currentFilterResult,
      std::optional<bool> newEvaluationResult, const GWLAudienceTimestampsCache& cache);

  // ---- upkeep ----
  // Deletes the result rows of audiences neither stored nor in `acceptedAudienceIDs`,
  // only while there are more rows than maxFilterResultCount.
  [[nodiscard]] bool maybeDeleteStaleFilterResults(const std::set<int32_t>& acceptedAudienceIDs);

 private:
  GWLAudience(std::shared_ptr<GWLDatabase> database, Dependencies dependencies);
  // The monitor and limits of this call.
  GWLAudienceFilterEnvironment environment() const;
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const;

  // The stored form of an audience's results: its words and the cache's times for it.
  static std::shared_ptr<GWLFilterResult> resultRow(int32_t audienceID, const GWLAudienceResultWords& words,
                                                    const GWLAudienceTimestampsCache& cache,
                                                    std::optional<std::vector<uint8_t>> previousResults);

  template <class Evaluation>
  bool evaluateStoredFilters(Evaluation& evaluation, const std::shared_ptr<GWLAudienceTimestampsCache>& cache,
                             GWLAudienceFilterEnvironment environment);

  const std::shared_ptr<GWLDatabase> database_;
  const Dependencies dependencies_;
};
