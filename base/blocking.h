// The blocking hooks of the synchronization library (abseil): sleeping, and
// the per-thread semaphore that absl::Mutex and absl::CondVar wait on. This
// unit replaces abseil's weak definitions of AbslInternalSleepFor,
// AbslInternalPerThreadSemWait and AbslInternalPerThreadSemPost, so every
// absl::SleepFor and every blocking mutex wait in the process comes here.
#pragma once

#include "absl/time/time.h"

namespace base {

// Sleeps for `duration`, resuming after signal interruptions until the whole
// duration has passed; 0 or less returns at once. While sleeping, the thread's
// blocked counter (abseil's PerThreadSem::SetThreadBlockedCounter), when set,
// is raised by one. Sleeps of 5 microseconds or more count as blocking.
void SleepFor(absl::Duration duration);

// Durations below this are short sleeps, not reported as blocking.
inline constexpr absl::Duration kShortSleep = absl::Microseconds(5);

}  // namespace base
