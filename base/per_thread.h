// Per-thread data slots.
//
// Each thread that asks gets one zero-filled block of kPerThreadSlots pointer
// slots, kept under one process-wide thread-local key; a process-wide table
// holds each slot's destructor. At thread exit every non-empty slot's
// destructor runs with the slot's value (up to four passes, for destructors
// that fill other slots). A small lock-free cache maps stack pages to blocks so
// that most look-ups skip the thread-local key.
//
//   static base::PerThreadVar<std::vector<int>> scratch;
//   scratch.Get()->push_back(1);  // this thread's own vector, made on first use
#pragma once

#include <atomic>
#include <cstddef>

namespace base {

class PerThread {
 public:
  static constexpr int kPerThreadSlots = 512;
  using Destructor = void (*)(void*);

  // Gives `*handle` a slot when it has none yet (a handle of 0), and records
  // `destructor` for it. More than kPerThreadSlots slots is a fatal check.
  static void Allocate(std::atomic<int>* handle, Destructor destructor);
  // The calling thread's slot for `handle`, which must be allocated.
  static void** Slot(int handle);
  // The calling thread's block of slots, made on first use.
  static void** Data();
  // Run by the thread library at thread exit with the thread's block.
  static void KeyDest(void** block);
  // Number of slots handed out so far.
  static int AllocatedSlots();
};

// A per-thread variable: each thread sees its own T, default-made on first
// use and destroyed at thread exit.
template <typename T>
class PerThreadVar {
 public:
  T* Get() {
    if (handle_.load(std::memory_order_acquire) == 0) {
      PerThread::Allocate(&handle_, [](void* v) { delete static_cast<T*>(v); });
    }
    void** slot = PerThread::Slot(handle_.load(std::memory_order_acquire));
    if (*slot == nullptr) *slot = new T();
    return static_cast<T*>(*slot);
  }

 private:
  std::atomic<int> handle_{0};
};

}  // namespace base
