// The relevant-action counter behind the review prompt.
//
// A stored count under a caller's key grows by one in every process that asks
// `relevantActionCountReached` at least once, and the answer is true exactly
// once: at the first question of the process in which the count reaches 2.
// Every later question, in that process or a later one, answers false.
//
// The in-memory flags (counted, answered) are per process, not per key:
// `relevantActionCountReached` uses one process-wide RelevantActionCounter.
// Tests simulate launches with fresh RelevantActionCounter instances.
#pragma once

#include <string>

#include "app/UserDefaults.h"

namespace tabulo {

inline constexpr const char* kRelevantActionCountKey = "RELEVANT_ACTION_COUNT_VAR3";

class RelevantActionCounter {
 public:
  bool reached(UserDefaults& userDefaults, const std::string& key);

 private:
  bool counted_ = false;
  bool answered_ = false;
};

// Asks the process-wide counter (main thread only).
bool relevantActionCountReached(UserDefaults& userDefaults, const std::string& key);

}  // namespace tabulo
