#include "base/per_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace base {
namespace {

// Each destructor call is recorded as (slot number, value).
std::vector<std::pair<int, int>>* calls = new std::vector<std::pair<int, int>>();
int values[8];

std::atomic<int> slot_a{0}, slot_b{0}, slot_c{0}, slot_refill{0}, slot_forever{0};

void RecordA(void* v) { calls->emplace_back(0, *static_cast<int*>(v)); }
void RecordB(void* v) { calls->emplace_back(1, *static_cast<int*>(v)); }
void RecordC(void* v) { calls->emplace_back(2, *static_cast<int*>(v)); }
// Stores a value into slot C while being destroyed: destroyed in the next pass.
void Refill(void* v) {
  calls->emplace_back(3, *static_cast<int*>(v));
  *PerThread::Slot(slot_c.load()) = &values[5];
}
// Refills its own slot every time: stopped after four passes.
void Forever(void* v) {
  calls->emplace_back(4, *static_cast<int*>(v));
  *PerThread::Slot(slot_forever.load()) = &values[6];
}

class PerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 8; ++i) values[i] = i;
    PerThread::Allocate(&slot_a, &RecordA);
    PerThread::Allocate(&slot_b, &RecordB);
    PerThread::Allocate(&slot_c, &RecordC);
    PerThread::Allocate(&slot_refill, &Refill);
    PerThread::Allocate(&slot_forever, &Forever);
    calls->clear();
  }
};

TEST_F(PerThreadTest, ThreadExitRunsEachDestructorOnce) {
  std::thread([] {
    *PerThread::Slot(slot_a.load()) = &values[1];
    *PerThread::Slot(slot_b.load()) = &values[2];
    *PerThread::Slot(slot_c.load()) = &values[3];
  }).join();
  EXPECT_EQ(*calls, (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}, {2, 3}}));
}

TEST_F(PerThreadTest, ValuesStoredByDestructorsAreDestroyedInLaterPasses) {
  std::thread([] { *PerThread::Slot(slot_refill.load()) = &values[4]; }).join();
  EXPECT_EQ(*calls, (std::vector<std::pair<int, int>>{{3, 4}, {2, 5}}));

  calls->clear();
  std::thread([] { *PerThread::Slot(slot_forever.load()) = &values[6]; }).join();
  EXPECT_EQ(calls->size(), 4u);  // at most four passes
}

TEST_F(PerThreadTest, HandlesAreStableAndNeverZero) {
  std::atomic<int> handle{0};
  PerThread::Allocate(&handle, nullptr);
  const int first = handle.load();
  EXPECT_NE(first, 0);
  EXPECT_EQ(first % static_cast<int>(sizeof(void*)), 0);
  PerThread::Allocate(&handle, nullptr);
  EXPECT_EQ(handle.load(), first);
}

TEST(PerThreadVarTest, EachThreadHasItsOwnValue) {
  static PerThreadVar<int> counter;
  ++*counter.Get();
  ++*counter.Get();
  int* main_value = counter.Get();
  int other = -1;
  int* other_value = nullptr;
  std::thread([&] {
    ++*counter.Get();
    other = *counter.Get();
    other_value = counter.Get();
  }).join();
  EXPECT_EQ(*main_value, 2);
  EXPECT_EQ(other, 1);
  EXPECT_NE(other_value, main_value);
}

// The same thread finds its block from any depth of its stack.
int DeepData(int depth, void** expected) {
  char pad[4096];
  pad[0] = static_cast<char>(depth);
  if (depth == 0) return PerThread::Data() == expected ? 1 + pad[0] : 0;
  return DeepData(depth - 1, expected) + (pad[0] == depth ? 0 : 100);
}

TEST(PerThreadDataTest, SameBlockAtEveryStackDepth) {
  void** block = PerThread::Data();
  EXPECT_EQ(DeepData(20, block), 1);
  void** other = nullptr;
  std::thread([&] { other = PerThread::Data(); }).join();
  EXPECT_NE(other, block);
}

TEST(PerThreadDeathTest, LimitsAreFatal) {
  EXPECT_DEATH(PerThread::Slot(0), "Allocate\\(\\) must be called before Data\\(\\)");
  EXPECT_DEATH(
      {
        std::vector<std::atomic<int>> handles(PerThread::kPerThreadSlots + 1);
        for (auto& h : handles) PerThread::Allocate(&h, nullptr);
      },
      "Check next_free_key < kPerThreadSlots failed: too many PerThread keys in use");
}

TEST(PerThreadDeathTest, AllFiveHundredTwelveSlotsAreUsable) {
  EXPECT_EXIT(
      {
        std::vector<std::atomic<int>> handles(PerThread::kPerThreadSlots - PerThread::AllocatedSlots());
        for (auto& h : handles) PerThread::Allocate(&h, nullptr);
        *PerThread::Slot(handles.back().load()) = &values[0];
        std::exit(PerThread::AllocatedSlots() == PerThread::kPerThreadSlots ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace base
