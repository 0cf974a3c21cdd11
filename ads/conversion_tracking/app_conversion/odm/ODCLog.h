// The on-device conversion layer's log output: every ODC class logs through
// these three functions and nothing else (not the measurement library's
// monitor). Each writes one line through the utilities library's
// HVUOSLogBasic with the subsystem "com.halcyra.appads", the category
// "<OnDeviceConversion>", not forced, and the message code "I-ODC%06ld" of
// `code` (5005 gives I-ODC005005). The format is printf's.
//
// Safe on any thread.
#pragma once

#include <cstdint>

inline constexpr const char* kODCLogSubsystem = "com.halcyra.appads";
inline constexpr const char* kODCLogCategory = "<OnDeviceConversion>";
inline constexpr const char* kODCLogMessageCodeFormat = "I-ODC%06ld";

// The utilities library's level numbers.
inline constexpr int kODCLogLevelError = 3;
inline constexpr int kODCLogLevelWarning = 4;
inline constexpr int kODCLogLevelDebug = 7;

void ODCLogError(int64_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ODCLogWarning(int64_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ODCLogDebug(int64_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
