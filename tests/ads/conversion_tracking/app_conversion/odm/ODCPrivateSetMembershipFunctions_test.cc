#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "absl/strings/escaping.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  return absl::BytesToHexString(absl::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

TEST(ODCNormalizeEmailAddress, NormalisesOrRefuses) {
  struct Case {
    const char* input;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"user@example.com", "user@example.com"},
      {"User.Name@Example.COM", "user.name@example.com"},  // dots stay at other domains
      {" user@example.com", std::nullopt},                // lower-cased and split, but \S+ admits no space
      {"John.Q.Doe@LEGACY-WEBMAIL.example", "johnqdoe@webmail.example"},
      {"Jo1i5.0@webmail.example", "jollso@webmail.example"},
      {"Jo1i5.0@example.com", "jo1i5.0@example.com"},
      {"LIZ22@webmail.example", "llzzz@webmail.example"},
      {"a@b@example.com", std::nullopt},
      {"user@localhost", std::nullopt},
      {"no-at-sign.example", std::nullopt},
      {"@example.com", std::nullopt},
      {"", std::nullopt},
      {"\xC3\x89LODIE@EXAMPLE.COM", "\xC3\xA9lodie@example.com"},
      {"bad\xFF@example.com", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ODCNormalizeEmailAddress(c.input), c.expected) << c.input;
}

TEST(ODCNormalizePhoneNumber, NormalisesToE164OrRefuses) {
  struct Case {
    const char* input;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"(555) 123-4567", "+5551234567"},
      {"+1 (555) 123-4567", "+15551234567"},
      {"555.123/4567\t", "+5551234567"},
      {"+1\xC2\xA0" "555\xE2\x80\x83" "1234567", "+15551234567"},  // no-break space and em space
      {"+44 20 7946 0958", "+442079460958"},
      {"+0044 20 7946 0958", std::nullopt},  // an international prefix written as zeros
      {"0044 20 7946 0958", std::nullopt},
      {"+123456789012345", "+123456789012345"},  // fifteen digits
      {"+1234567890123456", std::nullopt},       // sixteen
      {"+1", std::nullopt},
      {"++15551234567", std::nullopt},
      {"555-CALL-NOW", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ODCNormalizePhoneNumber(c.input), c.expected) << c.input;
}

TEST(ODCPSMHashing, SaltsTheHashWithTheAppIDAlikeFromClearAndHashedInput) {
  const std::vector<uint8_t> hashed = ODCSHA256OfString("user@example.com");
  EXPECT_EQ(Hex(hashed), "b4c9a289323b21a01c3e940f150eb9b8c542587f1abfd8f0e1cc1ffc5e475514");

  const std::string psmInput = "9366b1db4a80fc12ef815eb042e325048a28e1cec00d57cf489176330aca2b94";
  EXPECT_EQ(Hex(ODCPSMInputFromString("user@example.com", "tabulo-app-1")), psmInput);
  ASSERT_TRUE(ODCPSMInputFromHashedInput(hashed, "tabulo-app-1"));
  EXPECT_EQ(Hex(*ODCPSMInputFromHashedInput(hashed, "tabulo-app-1")), psmInput);

  // Only the first 32 bytes count; fewer are refused.
  std::vector<uint8_t> longer = hashed;
  longer.push_back(0x7f);
  EXPECT_EQ(Hex(*ODCPSMInputFromHashedInput(longer, "tabulo-app-1")), psmInput);
  EXPECT_EQ(ODCPSMInputFromHashedInput(std::span(hashed).first(31), "tabulo-app-1"), std::nullopt);
}

TEST(ODCPSMRequestURL, PercentEncodesEveryQueryValue) {
  const GWLServiceEndpoint host{"https", "adgroups.example", std::nullopt};
  EXPECT_EQ(ODCPSMRequestURL(host, "/muf/psm/groupids", {{"version", "1.0"}, {"bundle_id", "com.halcyra.tabulo"}}),
            "https://adgroups.example/muf/psm/groupids?version=1.0&bundle_id=com.halcyra.tabulo");
  EXPECT_EQ(ODCPSMRequestURL(host, "/p", {{"bundle_id", "a b&retry_count=9#x"}, {"n", "-1"}}),
            "https://adgroups.example/p?bundle_id=a%20b%26retry_count%3D9%23x&n=-1");
  EXPECT_EQ(ODCPSMRequestURL({"https", "bad host", std::nullopt}, "/p", {}), std::nullopt);
}

}  // namespace
