// GWLAudienceEvaluating — what the engine needs of the audience evaluator,
// which lives in the audiences layer above the foundation: replacing the
// stored audience definitions when a configuration arrives, evaluating a
// bundle's events and user properties against the stored filters, handing
// the bundle its audience results, and clearing session-scoped results when
// a session starts. The evaluator (GWLAudience) implements it.
//
// The engine makes its evaluator over its database at start through the
// installed maker:
//
//   auto audience = GWLInstalledHook<GWLAudienceEvaluatorMaker>::get()->audienceWithDatabase(database);
//
// The composition root installs the audiences layer's maker; until it does,
// the default maker gives the do-nothing evaluator (this base class): nothing
// is stored or evaluated, every call succeeds, a bundle gets no results and
// no cache is made.
//
// Threads: the engine's worker queue only (the database's owner). The engine
// runs every call inside one of its database transactions; a false or
// nullopt answer leaves the rows the call wrote to that transaction's
// rollback.
#pragma once

#include <memory>
#include <optional>
#include <vector>

class GWLAudienceTimestampsCache;  // the audiences layer's, known here by name only
class GWLDatabase;
class GWLEvent;
class GWLEventAggregates;
class GWLPBAudience;
class GWLPBAudienceLeafFilterResult;
class GWLPBUserAttribute;

class GWLAudienceEvaluating {
 public:
  using LeafResults = std::vector<std::shared_ptr<GWLPBAudienceLeafFilterResult>>;
  using Audiences = std::vector<std::shared_ptr<GWLPBAudience>>;

  virtual ~GWLAudienceEvaluating() = default;

  // A new, empty cache of evaluation times, made once per bundle and handed
  // to every evaluation of that bundle. Null (no cache: each call keeps its
  // own) from the default.
  virtual std::shared_ptr<GWLAudienceTimestampsCache> newTimestampsCache() { return nullptr; }

  // Evaluates the stored event filters of the event's name for one event;
  // `aggregates` already count the event. False when the database failed.
  [[nodiscard]] virtual bool evaluateFiltersForEvent(const std::shared_ptr<GWLEvent>& /*event*/,
                                                     const std::shared_ptr<GWLEventAggregates>& /*aggregates*/,
                                                     const std::shared_ptr<GWLAudienceTimestampsCache>& /*cache*/) {
    return true;
  }

  // Evaluates the stored property filters of one user property of a bundle,
  // at `evaluationTime` (seconds since 1970; the property's set time when
  // absent). False when the property cannot be read or the database failed.
  [[nodiscard]] virtual bool evaluateFiltersForNanoUserProperty(
      const std::shared_ptr<GWLPBUserAttribute>& /*attribute*/,
      const std::shared_ptr<GWLAudienceTimestampsCache>& /*cache*/, std::optional<double> /*evaluationTime*/) {
    return true;
  }

  // The audience results for one bundle (empty when there are none), while
  // each audience's current results become its previous ones; nullopt when
  // the results could not be read or saved.
  [[nodiscard]] virtual std::optional<LeafResults> resultsForBundling() { return LeafResults{}; }

  // Clears the results of session-scoped filters (a session started).
  [[nodiscard]] virtual bool clearEvaluationResultsForSessionScopedFilters() { return true; }

  // Replaces the stored audience definitions with the valid ones of a new
  // configuration. False when the database failed.
  [[nodiscard]] virtual bool updateAudiences(const Audiences& /*audiences*/) { return true; }
};

// What the engine asks at start for its evaluator (GWLInstalledHook).
class GWLAudienceEvaluatorMaker {
 public:
  virtual ~GWLAudienceEvaluatorMaker() = default;
  // The evaluator over the engine's database; null (as for no database)
  // makes the engine's start fail. The default: the do-nothing evaluator.
  virtual std::shared_ptr<GWLAudienceEvaluating> audienceWithDatabase(const std::shared_ptr<GWLDatabase>& database) {
    return database ? std::make_shared<GWLAudienceEvaluating>() : nullptr;
  }
};
