#include "platform/env/SystemVersion.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SystemVersion, ComparesNumericComponents) {
  const struct {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      {"16.1", "16.1", 0},       {"16.1", "16.1.0", 0},     {"16.01", "16.1", 0},
      {"16.10", "16.9", 1},      {"16.0.9", "16.1", -1},    {"17", "16.1", 1},
      {"9.9", "16.1", -1},       {"16.1.1", "16.1", 1},     {"16.1 beta", "16.1", 0},
      {"", "0", 0},              {"x.y", "0.0", 0},         {"16.", "16", 0},
      {"99999999999999999999999", "18446744073709551615", 0},  // held at the largest value
  };
  for (const auto& c : cases) {
    const int order = compareSystemVersions(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(isSystemVersionAtLeast(c.a, c.b), c.order >= 0) << c.a << " vs " << c.b;
  }
}

}  // namespace
}  // namespace platform
