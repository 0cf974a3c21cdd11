// GWLPValueAllocation: where script values, scopes and their reference counts
// live. A run makes and drops many small values (numbers, texts, maps, child
// scopes) per event; each thread keeps a few freed blocks of every small size
// and hands them out again, instead of going to the general allocator for
// every value.
//
// Blocks are ordinary heap blocks: one freed on another thread than the one
// that took it simply joins that thread's lists. A thread's kept blocks are
// returned to the heap when it ends. Under the address and thread sanitizers
// every block comes from and goes back to the heap, so that they see each
// value's own allocation.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

class GWLPBlockCache {
 public:
  // Blocks up to this size are kept, in classes of kGranule bytes.
  static constexpr size_t kGranule = 16;
  static constexpr size_t kLargest = 256;
  // Blocks kept per class and thread.
  static constexpr size_t kKept = 32;

  // A block of at least `bytes` bytes, aligned as the heap aligns.
  static void* allocate(size_t bytes);
  // Gives back a block that allocate(`bytes`) answered.
  static void deallocate(void* block, size_t bytes) noexcept;
  // Blocks this thread keeps now, and whether blocks are kept at all (not
  // under the sanitizers).
  static size_t keptBlocks();
  static bool enabled();
};

// A standard allocator over GWLPBlockCache, for std::allocate_shared.
template <typename T>
struct GWLPValueAllocator {
  using value_type = T;
  GWLPValueAllocator() = default;
  template <typename U>
  GWLPValueAllocator(const GWLPValueAllocator<U>&) {}

  T* allocate(size_t count) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "cached blocks have the heap's alignment");
    return static_cast<T*>(GWLPBlockCache::allocate(count * sizeof(T)));
  }
  void deallocate(T* block, size_t count) noexcept { GWLPBlockCache::deallocate(block, count * sizeof(T)); }

  template <typename U>
  bool operator==(const GWLPValueAllocator<U>&) const {
    return true;
  }
};

// std::make_shared for values and scopes: the value and its reference counts
// in one block from the cache.
template <typename T, typename... Args>
std::shared_ptr<T> GWLPMakeShared(Args&&... args) {
  return std::allocate_shared<T>(GWLPValueAllocator<T>(), std::forward<Args>(args)...);
}
