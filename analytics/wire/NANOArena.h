// NANOArena — the bump allocator that holds a decoded or copied message tree.
//
// A message object made by initWithBuffer or initWithMessageInfo(record) keeps
// its whole record tree (records, lists, string bytes) in one arena: every
// piece is carved from a few large blocks and nothing is freed on its own; the
// tree goes in one step when the arena goes. Setters on such a message take
// their new pieces from the same arena and leave the replaced ones there (a
// string whose new value fits its old buffer is rewritten in place), so an
// arena only grows while its message lives.
//
// Not thread-safe: an arena belongs to one message object, which is used by
// one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class NANOArena {
 public:
  // `firstBlock`: how many bytes the first block should hold (a hint; the
  // arena grows by blocks of increasing size as needed).
  explicit NANOArena(size_t firstBlock = 0);
  ~NANOArena();
  NANOArena(const NANOArena&) = delete;
  NANOArena& operator=(const NANOArena&) = delete;

  // `size` bytes aligned to 8, uninitialised; never null (allocation failure
  // ends the process, as new does).
  void* allocate(size_t size) {
    size = (size + 7) & ~size_t{7};
    if (size <= static_cast<size_t>(end_ - cursor_)) {
      void* p = cursor_;
      cursor_ += size;
      return p;
    }
    return allocateSlow(size);
  }

  // Bytes taken from the system so far (for tests and benchmarks).
  size_t reservedBytes() const { return reserved_; }

 private:
  struct Block;
  void* allocateSlow(size_t size);

  char* cursor_ = nullptr;
  char* end_ = nullptr;
  Block* blocks_ = nullptr;
  size_t nextBlock_;
  size_t reserved_ = 0;
};
