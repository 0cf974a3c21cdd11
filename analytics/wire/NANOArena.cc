#include "analytics/wire/NANOArena.h"

#include <algorithm>
#include <new>

namespace {
constexpr size_t kSmallestBlock = 256;
constexpr size_t kLargestGrowth = size_t{1} << 20;
}  // namespace

struct NANOArena::Block {
  Block* next;
  size_t size;  // bytes after the header
};

NANOArena::NANOArena(size_t firstBlock) : nextBlock_(std::max(firstBlock, kSmallestBlock)) {}

NANOArena::~NANOArena() {
  while (blocks_) {
    Block* next = blocks_->next;
    ::operator delete(blocks_);
    blocks_ = next;
  }
}

void* NANOArena::allocateSlow(size_t size) {
  size_t blockSize = std::max(nextBlock_, size);
  // Blocks double up to a mebibyte, then grow by a mebibyte at a time.
  nextBlock_ = std::min(blockSize * 2, blockSize + kLargestGrowth);
  constexpr size_t header = (sizeof(Block) + 7) & ~size_t{7};
  auto* block = static_cast<Block*>(::operator new(header + blockSize));
  block->next = blocks_;
  block->size = blockSize;
  blocks_ = block;
  reserved_ += header + blockSize;
  char* start = reinterpret_cast<char*>(block) + header;
  cursor_ = start + size;
  end_ = start + blockSize;
  return start;
}
