// The bounds that keep a downloaded program from hanging, crashing or
// exhausting the process. Each bound fails the run with an error of the
// runtime domain and leaves the runtime usable for the next run.
#pragma once

#include <cstddef>
#include <cstdint>


// Evaluations per run (error 18 on the next one).
inline constexpr int64_t kGWLPInstructionLimit = 1000000;

// Nested evaluations (statement arguments, bodies, callbacks) alive at once.
inline constexpr int kGWLPMaxEvaluationDepth = 600;
// Script function invocations alive at once.
inline constexpr int kGWLPMaxCallDepth = 100;
// Nesting of program entities, when read from the wire and when converted.
inline constexpr int kGWLPMaxEntityDepth = 200;
// Nesting of arrays and maps that joining, equality and native conversion walk.
inline constexpr int kGWLPMaxValueDepth = 200;

// Element slots of one array, holes included. Indexes of 2^32 - 1 and above
// are named properties, never slots.
inline constexpr size_t kGWLPMaxArraySlots = size_t{1} << 20;
// Bytes of one text that the interpreter builds (joins, conversions).
inline constexpr size_t kGWLPMaxTextBytes = size_t{16} << 20;
// Approximate bytes that one run may allocate in tracked values, slots and
// texts; reset with the instruction counter at the start of each run.
inline constexpr size_t kGWLPHeapBudgetBytes = size_t{64} << 20;

// Element steps of native work (searches, sorts, joins, copies) that one run
// may spend; reset with the instruction counter. Instructions alone do not
// bound these, since one call can walk a whole array.
inline constexpr size_t kGWLPWorkBudgetSteps = size_t{20} * 1000 * 1000;

// Events one editing run may create; one more fails the run.
inline constexpr size_t kGWLPMaxCreatedEventsPerRun = 1000;
// Script log lines one run may write; later ones are dropped without error.
inline constexpr size_t kGWLPMaxLogLinesPerRun = 100;

// Regular expressions of the string methods: the longest pattern (UTF-16
// units) that is compiled, the engine's time limit per match (in its own
// steps, each some ten thousand backtracking operations) and the memory its
// backtracking stack may take. A pattern beyond them ends the method with
// error 19 instead of running without end.
inline constexpr size_t kGWLPMaxPatternLength = 1000;
inline constexpr int32_t kGWLPRegexTimeLimit = 300;
inline constexpr int32_t kGWLPRegexStackLimitBytes = 1 << 20;
// Work-budget steps charged per engine step of a match.
inline constexpr size_t kGWLPRegexWorkPerStep = 10000;

// What the heap budget charges per allocation.
inline constexpr size_t kGWLPSlotCost = 16;
inline constexpr size_t kGWLPContainerCost = 160;

