// NANOLog — the two diagnostic channels of the wire runtime.
//
// The accessors report to the system log (category "runtime"); the store
// functions, callbacks and codec report what the original printed to standard
// output (category "codec"). Both lead to platform::log, at error level, under
// the subsystem "NANO", so tests can capture them.
#pragma once

namespace nano_log {
void systemLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace nano_log
