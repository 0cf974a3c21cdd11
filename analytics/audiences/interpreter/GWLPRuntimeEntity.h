// GWLPRuntimeEntity and GWLPProgram: the interpreter's own form of a program
// as it arrives in the measurement configuration, one entity per literal or
// statement. Absent fields stay absent, as on the wire; GWLPEntityReader
// makes this form from the program messages, GWLPRuntimeEntityConverter turns
// it into script values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum GWLPRuntimeEntityKind : int32_t {
  kGWLPEntityKindString = 1,
  kGWLPEntityKindNumber = 2,
  kGWLPEntityKindBoolean = 3,
  kGWLPEntityKindStatement = 4,
};

struct GWLPRuntimeEntity {
  int32_t kind = 0;                        // 0 when absent
  std::vector<GWLPRuntimeEntity> value;    // a statement's arguments, in order
  std::optional<std::string> functionName; // a statement's command number or function name
  std::optional<std::string> stringValue;
  std::optional<bool> booleanValue;
  std::optional<double> numberValue;
};

struct GWLPOgtActivity {
  std::string activityName;             // the global function that receives each entry
  std::vector<GWLPRuntimeEntity> data;  // entries, each evaluating to an object
};

struct GWLPProgram {
  std::vector<GWLPRuntimeEntity> instructions;  // top-level statements
  std::vector<GWLPOgtActivity> activities;
};
