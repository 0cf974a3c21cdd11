#include "base/blocking.h"

#include <dlfcn.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "absl/synchronization/internal/per_thread_sem.h"
#include "absl/synchronization/mutex.h"
#include "absl/time/clock.h"
#include "base/rescheduling.h"

namespace base {
namespace {

#define BASE_TEST_STR2(x) #x
#define BASE_TEST_STR(x) BASE_TEST_STR2(x)

// The process resolves abseil's hooks to this program's definitions, so the
// library's own calls (absl::Mutex waits, absl::SleepFor) come here.
TEST(BlockingTest, HooksReplaceAbseilsDefaults) {
  for (const char* name : {BASE_TEST_STR(ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)),
                           BASE_TEST_STR(ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)),
                           BASE_TEST_STR(ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost))}) {
    void* resolved = dlsym(RTLD_DEFAULT, name);
    ASSERT_NE(resolved, nullptr) << name;
    Dl_info info;
    ASSERT_NE(dladdr(resolved, &info), 0);
    Dl_info self;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&base::SleepFor), &self), 0);
    EXPECT_STREQ(info.dli_fname, self.dli_fname) << name;
  }
}

// Waits (spinning, bounded) until `counter` reaches `value`.
bool Reaches(const std::atomic<int>& counter, int value) {
  for (int i = 0; i < 50000000; ++i) {
    if (counter.load() == value) return true;
    std::this_thread::yield();
  }
  return false;
}

TEST(BlockingTest, BlockedCounterIsRaisedWhileWaiting) {
  std::atomic<int> blocked{0};
  absl::Mutex mu;
  bool go = false;
  std::thread waiter([&] {
    absl::synchronization_internal::PerThreadSem::SetThreadBlockedCounter(&blocked);
    absl::MutexLock lock(&mu);
    mu.Await(absl::Condition(&go));
  });
  EXPECT_TRUE(Reaches(blocked, 1));
  {
    absl::MutexLock lock(&mu);
    go = true;
  }
  waiter.join();
  EXPECT_EQ(blocked.load(), 0);
}

TEST(BlockingTest, ConditionWaitTimesOut) {
  absl::Mutex mu;
  absl::CondVar cv;
  absl::MutexLock lock(&mu);
  EXPECT_TRUE(cv.WaitWithTimeout(&mu, absl::Milliseconds(1)));  // true: timed out
}

void IgnoreSignal(int) {}

TEST(BlockingTest, SleepLastsThroughSignals) {
  struct sigaction action = {};
  action.sa_handler = &IgnoreSignal;  // no SA_RESTART: nanosleep returns EINTR
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  std::atomic<int> blocked{0};
  std::atomic<bool> done{false};
  absl::Duration slept;
  std::thread sleeper([&] {
    absl::synchronization_internal::PerThreadSem::SetThreadBlockedCounter(&blocked);
    const absl::Time start = absl::Now();
    absl::SleepFor(absl::Milliseconds(20));
    slept = absl::Now() - start;
    done = true;
  });
  ASSERT_TRUE(Reaches(blocked, 1));
  for (int i = 0; i < 200 && !done.load(); ++i) {
    pthread_kill(sleeper.native_handle(), SIGUSR1);
    std::this_thread::yield();
  }
  sleeper.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(slept, absl::Milliseconds(20));
  EXPECT_EQ(blocked.load(), 0);
}

TEST(BlockingTest, NonPositiveSleepsReturnAtOnce) {
  base::SleepFor(absl::ZeroDuration());
  base::SleepFor(absl::Milliseconds(-5));
  base::SleepFor(absl::Nanoseconds(1));
}

TEST(ReschedulingTest, ScopeRaisesDepthOnlyForThreadsWithARecord) {
  std::thread([] {
    // A fresh thread has no record yet.
    { ReschedulingDisabledScope scope; EXPECT_EQ(CurrentThreadSchedulingState().rescheduling_disabled_depth, 0); }
    absl::Mutex mu;
    absl::CondVar cv;
    absl::MutexLock lock(&mu);
    cv.WaitWithTimeout(&mu, absl::Microseconds(1));  // makes the record
    {
      ReschedulingDisabledScope outer;
      ReschedulingDisabledScope inner;
      EXPECT_EQ(CurrentThreadSchedulingState().rescheduling_disabled_depth, 2);
    }
    EXPECT_EQ(CurrentThreadSchedulingState().rescheduling_disabled_depth, 0);
  }).join();
}

}  // namespace
}  // namespace base
