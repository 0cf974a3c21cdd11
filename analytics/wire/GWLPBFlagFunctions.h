// GWLPBFlagFunctions — conversion between a flag message (GWLPBFlag) and a
// plain value, for the experiments client's default flags and flag lookup.
//
//   auto flag = GWLPBFlagCreate("timeout", 2.5);   // name "timeout", double_value 2.5
//   GWLPBFlagGetValue(flag);                        // platform::Object(2.5)
//
// GWLPBFlagCreate refuses (answers null after one report through
// GWLPBFlagLogSink) a missing name, a name that is not a text, and a value that
// is neither a number nor a text; a boolean is a number here and is stored as
// the integer 0 or 1. GWLPBFlagGetValue never reports.
#pragma once

#include <cstdint>
#include <memory>

#include "analytics/wire/GWLPBFlag.h"
#include "platform/core/Object.h"

// Reports of GWLPBFlagCreate (level 1).
inline constexpr int64_t kGWLPBFlagNameNilCode = 850000;
inline constexpr const char* kGWLPBFlagNameNilMessage = "Flag name must not be nil";
inline constexpr int64_t kGWLPBFlagNameNotStringCode = 850001;
inline constexpr const char* kGWLPBFlagNameNotStringMessage = "Flag name must be a string";
inline constexpr int64_t kGWLPBFlagValueInvalidCode = 850002;
inline constexpr const char* kGWLPBFlagValueInvalidMessage = "Flag value is invalid";

// The flag's value: `int_value` as an integer, else `double_value` as a
// double, else `string_value` as a text, else `bool_value` as a boolean (the
// first present field in that order); a null object when the flag is null or
// carries no value (or a text that is not UTF-8).
platform::Object GWLPBFlagGetValue(const GWLPBFlag* flag);
inline platform::Object GWLPBFlagGetValue(const std::shared_ptr<GWLPBFlag>& flag) {
  return GWLPBFlagGetValue(flag.get());
}

// A new flag named `name` holding `value`: a text goes into `string_value`, a
// double into `double_value`, an integer or a boolean into `int_value`.
// `name` must be a text (a null object counts as a missing name) and both
// texts must be UTF-8; otherwise the answer is null.
std::shared_ptr<GWLPBFlag> GWLPBFlagCreate(const platform::Object& name, const platform::Object& value);
