#include "platform/util/Random.h"

#include <gtest/gtest.h>

#include <deque>

namespace platform {
namespace {

// Answers a fixed script of values, so the rejection of biased draws shows.
class ScriptedRandom : public Random {
 public:
  explicit ScriptedRandom(std::deque<uint64_t> values) : values_(std::move(values)) {}
  uint64_t nextUInt64() override {
    uint64_t v = values_.front();
    values_.pop_front();
    return v;
  }
  size_t remaining() const { return values_.size(); }

 private:
  std::deque<uint64_t> values_;
};

TEST(Random, SeededSequencesRepeatAndDifferBySeed) {
  SeededRandom a(42), b(42), c(43);
  for (int i = 0; i < 100; ++i) {
    uint64_t va = a.nextUInt64();
    EXPECT_EQ(va, b.nextUInt64());
    EXPECT_NE(va, c.nextUInt64());
  }
  // Bytes come low byte first, so seeded fixtures are the same on every machine.
  SeededRandom d(7), e(7);
  uint64_t word = d.nextUInt64();
  auto bytes = e.bytes(11);
  ASSERT_EQ(bytes.size(), 11u);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(bytes[k], static_cast<uint8_t>(word >> (8 * k)));
}

TEST(Random, UniformRejectsTheDrawsThatWouldBiasLowValues) {
  // For n = 2^63 + 1, 2^64 mod n = 2^63 - 1: every draw below that would make
  // the low remainders twice as likely, so it must be drawn again.
  const uint64_t n = (uint64_t{1} << 63) + 1;
  ScriptedRandom r({5, (uint64_t{1} << 63) - 2, (uint64_t{1} << 63) + 7});
  EXPECT_EQ(r.uniform(n), 6u);  // (2^63 + 7) mod n
  EXPECT_EQ(r.remaining(), 0u);

  ScriptedRandom three({0, 4});  // 2^64 mod 3 = 1: only the draw 0 is surplus
  EXPECT_EQ(three.uniform(3), 1u);
  ScriptedRandom zero({});
  EXPECT_EQ(zero.uniform(0), 0u);
  EXPECT_EQ(zero.uniform(1), 0u) << "n = 1 draws nothing it rejects";
}

TEST(Random, UniformAndDoubleStayInRange) {
  SeededRandom r(1);
  for (uint64_t n : {uint64_t{1}, uint64_t{2}, uint64_t{7}, uint64_t{1000}, (uint64_t{1} << 63) + 1, UINT64_MAX}) {
    for (int i = 0; i < 200; ++i) EXPECT_LT(r.uniform(n), n);
  }
  ScriptedRandom edges({0, UINT64_MAX});
  EXPECT_EQ(edges.nextDouble(), 0.0);
  EXPECT_LT(edges.nextDouble(), 1.0);
  // Every value of a small range turns up, in roughly equal shares.
  int counts[6] = {};
  for (int i = 0; i < 6000; ++i) ++counts[r.uniform(6)];
  for (int c : counts) EXPECT_NEAR(c, 1000, 150);
}

}  // namespace
}  // namespace platform
