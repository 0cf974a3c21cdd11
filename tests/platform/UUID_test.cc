#include "platform/util/UUID.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace platform {
namespace {

TEST(UUID, RandomUUIDsAreVersion4InUpperCaseTextAndDiffer) {
  SeededRandom random(11);
  const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string uuid = randomUUIDString(random);
    EXPECT_TRUE(std::regex_match(uuid, form)) << uuid;
    EXPECT_TRUE(isUUIDString(uuid));
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(UUID, RecognisesOnlyTheCanonicalTextForm) {
  EXPECT_TRUE(isUUIDString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"));
  EXPECT_TRUE(isUUIDString("00000000-0000-0000-0000-000000000000"));
  EXPECT_FALSE(isUUIDString(""));
  EXPECT_FALSE(isUUIDString("E621E1F8C36C495A93FC0C247A3E6E5F"));
  EXPECT_FALSE(isUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5"));
  EXPECT_FALSE(isUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5G"));
  EXPECT_FALSE(isUUIDString("E621E1F8-C36C-495A-93FC0-C247A3E6E5F"));
}

}  // namespace
}  // namespace platform
