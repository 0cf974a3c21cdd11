// The pieces of audience evaluation that keep no state: which stored filters
// are evaluated again, which property results are taken, the evaluation of a
// stored filter row, a wire user property read back, and the result words.
//
// Stored results (GWLPBResultData) hold two lists of 64-bit words, `status`
// (the filter was evaluated with a result) and `results` (the filter holds).
// Filter ID n is bit n % 64 of word n / 64. Filter IDs lie below the largest
// per-audience filter limit any configuration may set, so the lists have at
// most two words of their own making; an ID outside that range is refused
// wherever it is read from a stored row.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "analytics/foundation/values/GWLValue.h"
#include "platform/core/Error.h"

class GWLAudienceFilter;
class GWLEventAggregates;
class GWLEventFilter;
class GWLPBEventFilter;
class GWLPBPropertyFilter;
class GWLPBResultData;
class GWLPBUserAttribute;
class GWLPropertyFilter;
class GWLUserAttribute;

// Filter IDs run from 0 to below this (the upper bound of maxFiltersPerAudience).
inline constexpr int32_t kGWLAudienceFilterIDLimit = 100;

// Whether a stored filter ID can name a filter.
inline bool GWLAudienceIsValidFilterID(int32_t filterID) {
  return filterID >= 0 && filterID < kGWLAudienceFilterIDLimit;
}

// Whether a database call that gave no answer (or false) failed: only when
// it filled its error. No answer without an error reads as empty, or done.
inline bool GWLAudienceCallFailed(const platform::Error& error) { return error != platform::Error{}; }

// Word and bit of a filter ID (truncating division and remainder).
int32_t GWLAudienceResultWordIndex(int32_t filterID);
int32_t GWLAudienceResultBitIndex(int32_t filterID);

// Whether the filter is evaluated again: it does not hold yet, or it is
// dynamic, sequence or session scoped.
bool GWLAudienceShouldEvaluateFilter(bool wasTrue, const GWLAudienceFilter& filter);
// Whether a property filter's new result replaces what it held: a YES always,
// a NO only for a dynamic filter that is not session scoped.
bool GWLAudienceTakesNewPropertyResult(bool newResult, const GWLAudienceFilter& filter);

// The stored filter against an event or a user property. A row whose data is
// empty or does not decode logs 6035 (6036 for a property filter) and gives
// no result.
std::optional<bool> GWLAudienceEvaluateStoredEventFilter(const GWLEventFilter& filter, const GWLParameters& parameters,
                                                         const std::shared_ptr<GWLEventAggregates>& aggregates,
                                                         const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateStoredPropertyFilter(const GWLPropertyFilter& filter,
                                                            const std::shared_ptr<GWLUserAttribute>& attribute,
                                                            const GWLAudienceFilterEnvironment& environment);
// The 6035 / 6036 line for a stored filter that cannot be evaluated.
void GWLAudienceLogCorruptFilter(const GWLEventFilter& filter, const GWLAudienceFilterEnvironment& environment);
void GWLAudienceLogCorruptFilter(const GWLPropertyFilter& filter, const GWLAudienceFilterEnvironment& environment);

// Whether any word is not zero.
bool GWLAudienceHasAnyResultBit(const std::vector<uint64_t>& words);

// The user property a bundle carries: the string value when present, else
// the double, else the integer (a float value is not read); its name, and its
// set time in seconds. Origin empty. Null without a value or when the name or
// value is not one a user property may have.
std::shared_ptr<GWLUserAttribute> GWLAudienceUserAttributeFromWire(
    const std::shared_ptr<GWLPBUserAttribute>& attribute);

// The status and results words of stored results. Reading is bounds-safe: a
// bit beyond a list reads clear, whatever the lengths of the two lists.
struct GWLAudienceResultWords {
  std::vector<uint64_t> status;
  std::vector<uint64_t> results;

  // The words of `data` (both empty for null).
  static GWLAudienceResultWords of(const std::shared_ptr<GWLPBResultData>& data);

  // Whether the filter's bit is set in `words`; false for an invalid ID.
  static bool isSet(const std::vector<uint64_t>& words, int32_t filterID);
  // Sets or clears the filter's bit in both lists, extending both with zero
  // words up to its word; an invalid ID changes nothing.
  void setBits(int32_t filterID, bool evaluated, bool holds);
  // Clears the filter's bit in both lists; a word beyond a list has nothing
  // to clear.
  void clearBits(int32_t filterID);
  // Writes both lists into `data`, the shorter one extended with zero words
  // so that they have equal lengths.
  void writeTo(const std::shared_ptr<GWLPBResultData>& data) const;
};
