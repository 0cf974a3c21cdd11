// Shared conversion and comparison operations on script values, used by the
// commands, the array methods and the native functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

// Modular 32-bit conversions: NaN and the infinities give 0; otherwise the
// value truncated toward zero, modulo 2^32 (2^32 + 5 gives 5).
int32_t GWLPToInt32(double value);
uint32_t GWLPToUint32(double value);
// NaN gives 0; infinities and zeros unchanged; else truncated toward zero.
double GWLPToInteger(double value);
// Saturating conversion to a 64-bit integer: NaN gives 0, values beyond the
// range give its ends, others are truncated toward zero.
int64_t GWLPToInt64(double value);

// String, array, function and map values (the event object included).
bool GWLPIsStringLike(const GWLPRuntimeValue& value);
// A number, or a text whose number value is finite, non-negative and whole,
// and below 2^32 - 1 (larger ones name properties, as in the script language).
bool GWLPIsArrayIndexValue(const GWLPRuntimeValue& value);
// The element index that `value` addresses, when it is an array index value.
std::optional<uint32_t> GWLPArrayIndexFromValue(const GWLPRuntimeValue& value);
// 0 for undefined and null, 1 for numbers and booleans, 2 for texts, 3 else.
int GWLPEqualityKind(const GWLPRuntimeValue& value);

bool GWLPStringValuesEqual(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error = nullptr);
bool GWLPNumberValuesEqual(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error = nullptr);
// Same class exactly (a subclass is another class); numbers and booleans by
// IEEE equality, texts by text, anything else by identity.
bool GWLPStrictEquals(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error = nullptr);
// -1, 0 or 1: texts of string-like values compared as text, else numbers (a
// NaN on either side answers 1). A conversion failure answers 1 and the error.
int GWLPCompareValues(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error = nullptr);

// Ordinary text comparison: by UTF-16 code units after canonical
// decomposition (canonically equivalent texts are equal), without locale.
int GWLPCompareStrings(std::string_view x, std::string_view y);
// The form that GWLPCompareStrings orders: the canonical decomposition as
// UTF-16 code units (for texts that are not all ASCII).
std::u16string GWLPComparisonKey(std::string_view text);

// The text of `value`: a text value's own, read in place, else its
// conversion, kept in `converted`. None, with the error, when the
// conversion fails.
const std::string* GWLPTextOf(const GWLPRuntimeValue& value, std::string& converted, platform::Error* error);

// Whether every byte of `text` is ASCII (below 0x80).
bool GWLPIsAscii(std::string_view text);

// `text` without white space and line breaks at both ends.
std::string_view GWLPTrimWhitespace(std::string_view text);
