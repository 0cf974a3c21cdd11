#include "base/per_thread.h"

#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "absl/base/internal/raw_logging.h"
#include "absl/base/internal/spinlock.h"
#include "base/rescheduling.h"

namespace base {

namespace {

constexpr int kInvalid = 0;
constexpr size_t kBlockBytes = PerThread::kPerThreadSlots * sizeof(void*);  // 4096
constexpr uintptr_t kPageBytes = 4096;
constexpr uintptr_t kFreeKey = 0;
constexpr uintptr_t kBusyKey = 1;
constexpr int kCacheLines = 1024;
constexpr int kEntriesPerLine = 4;
constexpr int kDestructorPasses = 4;

struct CacheEntry {
  std::atomic<uintptr_t> key;  // kFreeKey, kBusyKey, or a stack page number
  std::atomic<void**> value;
};

struct alignas(64) CacheLine {
  CacheEntry entries[kEntriesPerLine];
};

CacheLine stack_page_cache[kCacheLines];  // 64 KiB, zero at start

// The slot destructors; slot i has handle (i + 1) * sizeof(void*), so that 0
// never names an allocated slot.
absl::base_internal::SpinLock table_lock(absl::kConstInit, absl::base_internal::SCHEDULE_KERNEL_ONLY);
PerThread::Destructor destructors[PerThread::kPerThreadSlots];
int next_free_key = 0;

pthread_key_t per_thread_key;
pthread_once_t per_thread_key_once = PTHREAD_ONCE_INIT;

void CreateKey() {
  ABSL_RAW_CHECK(pthread_key_create(&per_thread_key, [](void* v) {
                   PerThread::KeyDest(reinterpret_cast<void**>(v));
                 }) == 0,
                 "");
}

// A spin lock held with the thread's rescheduling disabled.
class TableLock {
 public:
  TableLock() { table_lock.Lock(); }
  ~TableLock() { table_lock.Unlock(); }

 private:
  ReschedulingDisabledScope no_rescheduling_;
};

CacheLine& LineFor(uintptr_t page) {
  return stack_page_cache[(page * 0x9E3779B97F4A7C15ull >> 40) % kCacheLines];
}

bool SetSlowPathTLS(void** data) { return pthread_setspecific(per_thread_key, data) == 0; }

void** DataSlowPathNonTLS(uintptr_t sp, CacheLine& line) {
  for (CacheEntry& entry : line.entries) {
    if (entry.key.load(std::memory_order_acquire) == sp) return entry.value.load(std::memory_order_relaxed);
  }
  pthread_once(&per_thread_key_once, &CreateKey);
  void** data = static_cast<void**>(pthread_getspecific(per_thread_key));
  if (data == nullptr) {
    data = static_cast<void**>(std::calloc(1, kBlockBytes));
    ABSL_RAW_CHECK(data != nullptr, "out of memory");
    ABSL_RAW_CHECK(SetSlowPathTLS(data), "");
  }
  ABSL_RAW_CHECK(sp != 1, "PerThread can't tolerate using page frame 1 in a stack");
  for (CacheEntry& entry : line.entries) {
    uintptr_t expected = kFreeKey;
    if (entry.key.compare_exchange_strong(expected, kBusyKey, std::memory_order_acquire)) {
      entry.value.store(data, std::memory_order_relaxed);
      entry.key.store(sp, std::memory_order_release);
      break;
    }
  }
  return data;
}

}  // namespace

void PerThread::Allocate(std::atomic<int>* handle, Destructor destructor) {
  TableLock lock;
  if (handle->load(std::memory_order_relaxed) != kInvalid) return;
  ABSL_RAW_CHECK(next_free_key < kPerThreadSlots, "too many PerThread keys in use");
  destructors[next_free_key] = destructor;
  ++next_free_key;
  handle->store(next_free_key * static_cast<int>(sizeof(void*)), std::memory_order_release);
}

int PerThread::AllocatedSlots() {
  TableLock lock;
  return next_free_key;
}

void** PerThread::Slot(int handle) {
  const int local_data_key = handle;
  ABSL_RAW_CHECK(local_data_key != kInvalid, "Allocate() must be called before Data()");
  return Data() + (local_data_key / static_cast<int>(sizeof(void*)) - 1);
}

void** PerThread::Data() {
  const uintptr_t sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) / kPageBytes;
  CacheLine& line = LineFor(sp);
  for (int i = 0; i < 2; ++i) {
    CacheEntry& entry = line.entries[i];
    if (entry.key.load(std::memory_order_acquire) == sp) return entry.value.load(std::memory_order_relaxed);
  }
  return DataSlowPathNonTLS(sp, line);
}

void PerThread::KeyDest(void** block) {
  Destructor table[kPerThreadSlots];
  {
    TableLock lock;
    std::memcpy(table, destructors, sizeof(table));
  }
  // Destructors may read their thread's data, so the block stays reachable
  // until they have run.
  pthread_setspecific(per_thread_key, block);
  for (int pass = 0; pass < kDestructorPasses; ++pass) {
    bool called = false;
    for (int i = 0; i < kPerThreadSlots; ++i) {
      void* value = block[i];
      if (value != nullptr && table[i] != nullptr) {
        block[i] = nullptr;
        table[i](value);
        called = true;
      }
    }
    if (!called) break;
  }
  pthread_setspecific(per_thread_key, nullptr);
  for (CacheLine& line : stack_page_cache) {
    for (CacheEntry& entry : line.entries) {
      if (entry.value.load(std::memory_order_relaxed) == block) {
        entry.key.store(kBusyKey, std::memory_order_relaxed);
        entry.value.store(nullptr, std::memory_order_relaxed);
        entry.key.store(kFreeKey, std::memory_order_release);
      }
    }
  }
  std::free(block);
}

}  // namespace base
