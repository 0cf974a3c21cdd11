#include "analytics/audiences/interpreter/GWLPValueAllocation.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"

namespace {

// A freed block of a size class comes back for the next value of that class;
// values of every size keep their contents while blocks are reused; at most
// kKept blocks of a class are kept.
TEST(GWLPValueAllocationTest, FreedBlocksServeTheNextValuesAndAreBounded) {
  if (!GWLPBlockCache::enabled()) GTEST_SKIP() << "blocks are not kept under the sanitizers";
  void* block = GWLPBlockCache::allocate(40);
  GWLPBlockCache::deallocate(block, 40);
  EXPECT_EQ(GWLPBlockCache::allocate(33), block) << "same 16-byte class";
  GWLPBlockCache::deallocate(block, 33);

  std::vector<std::shared_ptr<GWLPStringValue>> texts;
  for (int round = 0; round < 3; ++round) {
    for (size_t length = 0; length < 300; length += 7) texts.push_back(GWLPStringValue::make(std::string(length, 'x')));
    for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(texts[i]->value(), std::string(i * 7, 'x'));
    texts.clear();
  }

  std::vector<void*> blocks;
  for (size_t i = 0; i < 3 * GWLPBlockCache::kKept; ++i) blocks.push_back(GWLPBlockCache::allocate(64));
  const size_t before = GWLPBlockCache::keptBlocks();
  for (void* each : blocks) GWLPBlockCache::deallocate(each, 64);
  EXPECT_LE(GWLPBlockCache::keptBlocks() - before, GWLPBlockCache::kKept);
  // Beyond the largest class blocks go straight back to the heap.
  const size_t kept = GWLPBlockCache::keptBlocks();
  GWLPBlockCache::deallocate(GWLPBlockCache::allocate(GWLPBlockCache::kLargest + 1), GWLPBlockCache::kLargest + 1);
  EXPECT_EQ(GWLPBlockCache::keptBlocks(), kept);
}

// Values made on one thread and dropped on another, by threads that then
// end: each block joins the list of the thread that frees it, and an ending
// thread gives its blocks back (the leak checker and the sanitizers see the
// rest).
TEST(GWLPValueAllocationTest, ValuesCrossThreadsAndThreadsGiveTheirBlocksBack) {
  std::vector<GWLPValueRef> made;
  std::thread maker([&] {
    for (int i = 0; i < 100; ++i) {
      made.push_back(GWLPNumberValue::make(0.5 + i));
      made.push_back(GWLPStringValue::make("text " + std::to_string(i)));
    }
  });
  maker.join();
  size_t keptByDropper = 0;
  std::thread dropper([&] {
    made.clear();
    keptByDropper = GWLPBlockCache::keptBlocks();
    auto reused = GWLPNumberValue::make(1.5);
    EXPECT_EQ(reused->value(), 1.5);
  });
  dropper.join();
  if (GWLPBlockCache::enabled()) {
    EXPECT_GT(keptByDropper, 0u);
  } else {
    EXPECT_EQ(keptByDropper, 0u);
  }
}

}  // namespace
