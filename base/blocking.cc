#include "base/blocking.h"

#include <time.h>

#include <cerrno>

#include "absl/base/internal/errno_saver.h"
#include "absl/base/internal/thread_identity.h"
#include "absl/synchronization/internal/create_thread_identity.h"
#include "absl/synchronization/internal/kernel_timeout.h"
#include "absl/synchronization/internal/per_thread_sem.h"
#include "absl/synchronization/internal/waiter.h"
#include "absl/time/clock.h"
#include "base/rescheduling.h"

namespace base {

namespace {

using absl::base_internal::ThreadIdentity;

// Reports a blocking operation for the length of its scope. With no user-mode
// scheduler managing the thread there is nobody to tell, so only the depth is
// kept.
class BlockingScope {
 public:
  BlockingScope() : state_(CurrentThreadSchedulingState()) {
    if (state_.managing_slot != nullptr) ++state_.blocking_depth;
  }
  ~BlockingScope() {
    absl::base_internal::ErrnoSaver errno_saver;
    if (state_.managing_slot != nullptr) --state_.blocking_depth;
  }

 private:
  ThreadSchedulingState& state_;
};

// Raises the thread's blocked counter, when it has one, for the scope.
class BlockedCounterScope {
 public:
  BlockedCounterScope() {
    ThreadIdentity* identity = absl::base_internal::CurrentThreadIdentityIfPresent();
    counter_ = identity != nullptr ? identity->blocked_count_ptr : nullptr;
    if (counter_ != nullptr) counter_->fetch_add(1, std::memory_order_relaxed);
  }
  ~BlockedCounterScope() {
    if (counter_ != nullptr) counter_->fetch_sub(1, std::memory_order_relaxed);
  }

 private:
  std::atomic<int>* counter_;
};

// Sleeps until the whole duration has passed. A signal interrupts the sleep;
// it then goes on for the time that is left, measured against a fixed
// deadline so that a stream of signals cannot stretch or stall it.
void SleepInKernel(absl::Duration duration) {
  if (duration <= absl::ZeroDuration()) return;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const struct timespec deadline = absl::ToTimespec(absl::DurationFromTimespec(now) + duration);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace

ThreadSchedulingState& CurrentThreadSchedulingState() {
  thread_local ThreadSchedulingState state;
  return state;
}

ReschedulingDisabledScope::ReschedulingDisabledScope()
    : raised_(absl::base_internal::CurrentThreadIdentityIfPresent() != nullptr) {
  if (raised_) ++CurrentThreadSchedulingState().rescheduling_disabled_depth;
}

ReschedulingDisabledScope::~ReschedulingDisabledScope() {
  if (raised_) --CurrentThreadSchedulingState().rescheduling_disabled_depth;
}

void SleepFor(absl::Duration duration) {
  if (duration < kShortSleep) {
    BlockedCounterScope blocked;
    SleepInKernel(duration);
    return;
  }
  BlockingScope blocking;
  BlockedCounterScope blocked;
  SleepInKernel(duration);
}

}  // namespace base

extern "C" {

void ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Duration duration) { base::SleepFor(duration); }

bool ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(absl::synchronization_internal::KernelTimeout t) {
  absl::base_internal::ThreadIdentity* identity = absl::synchronization_internal::GetOrCreateCurrentThreadIdentity();
  const int ticker = identity->ticker.load(std::memory_order_relaxed);
  identity->wait_start.store(ticker < 2 ? 1 : ticker, std::memory_order_relaxed);
  identity->is_idle.store(false, std::memory_order_relaxed);
  if (identity->blocked_count_ptr != nullptr) identity->blocked_count_ptr->fetch_add(1, std::memory_order_relaxed);
  const bool woken = absl::synchronization_internal::Waiter::GetWaiter(identity)->Wait(t);
  if (identity->blocked_count_ptr != nullptr) identity->blocked_count_ptr->fetch_sub(1, std::memory_order_relaxed);
  identity->is_idle.store(false, std::memory_order_relaxed);
  identity->wait_start.store(0, std::memory_order_relaxed);
  return woken;
}

void ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost)(absl::base_internal::ThreadIdentity* identity) {
  absl::synchronization_internal::Waiter::GetWaiter(identity)->Post();
}

}  // extern "C"
