// The scheduling side of a thread's record, beside abseil's own per-thread
// identity (blocked counter, ticker, wait start, idle flag, semaphore).
//
// A user-mode scheduler could adopt a thread through its managing slot; no
// such scheduler exists in this program, so the slot stays empty and every
// blocking operation waits in the kernel. The depths are kept so that code
// holding spin locks can say it must not be switched.
#pragma once

#include <cstdint>

namespace base {

struct ThreadSchedulingState {
  void* managing_slot = nullptr;             // empty: no user-mode scheduler runs this thread
  int32_t rescheduling_disabled_depth = 0;   // nesting of ReschedulingDisabledScope
  int32_t blocking_depth = 0;                // nesting of blocking operations reported to the slot
};

// The calling thread's scheduling state.
ThreadSchedulingState& CurrentThreadSchedulingState();

// While alive, the calling thread must not be switched by a user-mode
// scheduler: raises the rescheduling-disabled depth when the thread has a
// record (abseil's per-thread identity) and lowers it again on exit.
class ReschedulingDisabledScope {
 public:
  ReschedulingDisabledScope();
  ~ReschedulingDisabledScope();
  ReschedulingDisabledScope(const ReschedulingDisabledScope&) = delete;
  ReschedulingDisabledScope& operator=(const ReschedulingDisabledScope&) = delete;

 private:
  bool raised_;
};

}  // namespace base
