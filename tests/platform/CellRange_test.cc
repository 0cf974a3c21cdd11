#include "platform/grid/CellRange.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CellRange, CodedFormRoundTripsAndKeepsCornersAsGiven) {
  for (CellRange range : {CellRange({1, 1}, {2, 3}), CellRange({4, 4}, {3, 2}), CellRange({0, 0}, {0, 0})}) {
    EXPECT_EQ(CellRange::decode(range.encode()), range);
  }
  CellRange reversed({4, 5}, {1, 2});
  EXPECT_EQ(reversed.topRow(), 1);
  EXPECT_EQ(reversed.bottomRow(), 4);
  EXPECT_EQ(reversed.leftColumn(), 2);
  EXPECT_EQ(reversed.rightColumn(), 5);
  EXPECT_EQ(reversed.from(), (Location{4, 5}));
}

TEST(CellRange, DecodeRefusesOtherShapes) {
  Dictionary corner{{"row", 1}, {"column", 2}};
  const Object refused[] = {
      Object(),
      Object("range"),
      Dictionary{{"from", corner}},
      Dictionary{{"from", corner}, {"to", Dictionary{{"row", 1}}}},
      Dictionary{{"from", corner}, {"to", Dictionary{{"row", -1}, {"column", 0}}}},
      Dictionary{{"from", corner}, {"to", Dictionary{{"row", 1.0}, {"column", 0}}}},
      Dictionary{{"from", corner}, {"to", Dictionary{{"row", true}, {"column", 0}}}},
      Dictionary{{"from", corner}, {"to", Array{1, 2}}},
  };
  for (const Object& coded : refused) EXPECT_FALSE(CellRange::decode(coded)) << coded.description();
  Dictionary extra{{"from", corner}, {"to", corner}, {"note", "ignored"}};
  EXPECT_EQ(CellRange::decode(extra), CellRange({1, 2}, {1, 2}));
}

}  // namespace
}  // namespace platform
