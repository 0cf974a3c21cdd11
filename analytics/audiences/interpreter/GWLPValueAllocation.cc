#include "analytics/audiences/interpreter/GWLPValueAllocation.h"

#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define GWLP_BLOCK_CACHE_ENABLED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define GWLP_BLOCK_CACHE_ENABLED 0
#endif
#endif
#ifndef GWLP_BLOCK_CACHE_ENABLED
#define GWLP_BLOCK_CACHE_ENABLED 1
#endif

namespace {

constexpr size_t kClasses = GWLPBlockCache::kLargest / GWLPBlockCache::kGranule;

struct FreeBlock {
  FreeBlock* next;
};

// Trivially constructed and destroyed, so that reaching them needs no guard.
struct Lists {
  FreeBlock* heads[kClasses];
  uint32_t counts[kClasses];
};
thread_local Lists tLists;
thread_local bool tCleanupRegistered = false;
// Set once this thread's lists were given back: blocks freed later (by
// thread-local objects destroyed after them) go straight to the heap.
thread_local bool tCacheGone = false;

size_t classOf(size_t bytes) { return (bytes - 1) / GWLPBlockCache::kGranule; }
size_t classBytes(size_t index) { return (index + 1) * GWLPBlockCache::kGranule; }

struct Cleanup {
  ~Cleanup() {
    tCacheGone = true;
    for (size_t i = 0; i < kClasses; ++i) {
      while (FreeBlock* block = tLists.heads[i]) {
        tLists.heads[i] = block->next;
        ::operator delete(block);
      }
      tLists.counts[i] = 0;
    }
  }
};

void registerCleanup() {
  // Constructed on this thread's first kept block; destroyed when it ends.
  static thread_local Cleanup cleanup;
  (void)cleanup;
  tCleanupRegistered = true;
}

}  // namespace

void* GWLPBlockCache::allocate(size_t bytes) {
  if (!GWLP_BLOCK_CACHE_ENABLED || bytes == 0 || bytes > kLargest) return ::operator new(bytes);
  const size_t index = classOf(bytes);
  if (FreeBlock* block = tLists.heads[index]) {
    tLists.heads[index] = block->next;
    --tLists.counts[index];
    return block;
  }
  return ::operator new(classBytes(index));
}

void GWLPBlockCache::deallocate(void* block, size_t bytes) noexcept {
  if (!block) return;
  if (!GWLP_BLOCK_CACHE_ENABLED || bytes == 0 || bytes > kLargest || tCacheGone) {
    ::operator delete(block);
    return;
  }
  const size_t index = classOf(bytes);
  if (tLists.counts[index] >= kKept) {
    ::operator delete(block);
    return;
  }
  if (!tCleanupRegistered) registerCleanup();
  auto* freed = static_cast<FreeBlock*>(block);
  freed->next = tLists.heads[index];
  tLists.heads[index] = freed;
  ++tLists.counts[index];
}

size_t GWLPBlockCache::keptBlocks() {
  size_t kept = 0;
  for (size_t i = 0; i < kClasses; ++i) kept += tLists.counts[i];
  return kept;
}

bool GWLPBlockCache::enabled() { return GWLP_BLOCK_CACHE_ENABLED; }
