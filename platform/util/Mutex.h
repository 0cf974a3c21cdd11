// platform::Mutex and platform::MutexLock — a std::mutex that clang's
// thread-safety analysis knows.
//
// Members guarded by a mutex are declared with abseil's annotations
// (ABSL_GUARDED_BY(mutex_)), and functions that expect it held with
// ABSL_EXCLUSIVE_LOCKS_REQUIRED; clang's -Wthread-safety then checks every
// access. The standard library's mutex carries no annotation, hence this
// wrapper. It is a plain std::mutex underneath, so ThreadSanitizer sees the
// locking (abseil's own mutex, as the distribution builds it, is invisible to
// ThreadSanitizer). A condition variable waits on it as std::condition_variable_any.
#pragma once

#include <absl/base/thread_annotations.h>

#include <mutex>

namespace platform {

class ABSL_LOCKABLE Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ABSL_EXCLUSIVE_LOCK_FUNCTION() { mutex_.lock(); }
  void unlock() ABSL_UNLOCK_FUNCTION() { mutex_.unlock(); }
  [[nodiscard]] bool try_lock() ABSL_EXCLUSIVE_TRYLOCK_FUNCTION(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Holds `mutex` for the life of the object.
class ABSL_SCOPED_LOCKABLE MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ABSL_EXCLUSIVE_LOCK_FUNCTION(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() ABSL_UNLOCK_FUNCTION() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace platform
