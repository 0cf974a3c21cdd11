#include "ads/conversion_tracking/app_conversion/odm/on_device_measurement_v2_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "privacy/blinders/cpp/crypto/status_util.h"
#include "privacy/private_membership/testing/server_double.h"
#include "security/util/sha256.h"

namespace {

using ads::conversion_tracking::app_conversion::odm::OdmUnencryptedMetadata;
using ads::conversion_tracking::app_conversion::odm::OnDeviceMeasurementV2Client;
using private_membership::blinders::PrivateMembershipBlindersIdValuePairMetadata;
using private_membership::blinders::testing::ServerDouble;
using private_membership::blinders::testing::ServerEntry;
using private_membership::blinders::testing::ServerOptions;
using tabulo::psm_double::SerializeOdmUnencryptedMetadata;

constexpr const char* kMatchingID = "match-1";
constexpr const char* kDate = "2024-05-01";
constexpr const char* kBundleID = "com.halcyra.tabulo";
constexpr int32_t kPrefixLength = 12;
constexpr int32_t kUseCase = 35;

std::string WebSafe(const std::string& bytes) { return absl::WebSafeBase64Escape(bytes); }

std::unique_ptr<OnDeviceMeasurementV2Client> MakeClient(const std::string& date = kDate,
                                                        const std::string& bundleID = kBundleID) {
  auto client = OnDeviceMeasurementV2Client::Create(WebSafe(kMatchingID), date, bundleID, kPrefixLength,
                                                    &ODCDeserializeUnencryptedMetadata);
  EXPECT_TRUE(client.ok()) << client.status();
  return client.ok() ? std::move(*client) : nullptr;
}

struct Entry {
  std::string value;  // empty: a member without a value
  OdmUnencryptedMetadata metadata;
  std::optional<std::string> group = "g";
  std::optional<std::string> primary = std::nullopt;  // replaces the encoded metadata
};

// The values the client keeps from a server holding `entries` under its own query id.
std::vector<std::string> Matched(const std::vector<Entry>& entries, ServerOptions options = {}) {
  const std::string sensitive = ODCHashJoinedStrings(kMatchingID, kDate, kBundleID);
  std::vector<ServerEntry> held;
  for (const Entry& entry : entries) {
    PrivateMembershipBlindersIdValuePairMetadata metadata;
    metadata.primary_bytes = entry.primary.value_or(SerializeOdmUnencryptedMetadata(
        entry.metadata.order_key, entry.metadata.kind, entry.metadata.preferred));
    metadata.secondary_bytes = entry.group;
    held.push_back({kMatchingID, sensitive, entry.value, metadata});
  }
  ServerDouble server(held, options);
  auto client = MakeClient();
  auto request = client->CreateRequest(kUseCase);
  EXPECT_TRUE(request.ok());
  auto response = server.Answer(*request);
  EXPECT_TRUE(response.ok());
  auto values = client->ProcessResponse(*response);
  EXPECT_TRUE(values.ok()) << values.status();
  std::vector<std::string> sorted = values.ok() ? *values : std::vector<std::string>{};
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

TEST(ODCHashJoinedStrings, HashesTheThreeJoinedByColons) {
  EXPECT_EQ(absl::BytesToHexString(ODCHashJoinedStrings("", "", "")),
            "71546855d6279ef70d20909b292c42c2dcb02cd06bde01485da52d13e304ebf4");
  security::SHA256 hash;
  hash.Update("a:b:c:d:e", 9);
  EXPECT_EQ(ODCHashJoinedStrings("a:b", "c", "d:e"), hash.Digest());
  EXPECT_EQ(ODCHashJoinedStrings(std::string("\0x", 2), "", "").size(), 32u);
}

TEST(OnDeviceMeasurementV2Client, CreateRefusesWhatItCannotQuery) {
  for (const char* matchingID : {"a+b", "a/b", "a!"}) {
    auto client = OnDeviceMeasurementV2Client::Create(matchingID, kDate, kBundleID, kPrefixLength,
                                                      &ODCDeserializeUnencryptedMetadata);
    ASSERT_FALSE(client.ok()) << matchingID;
    EXPECT_EQ(client.status().code(), absl::StatusCode::kInternal);
    EXPECT_EQ(client.status().message(), "matching_id_unescape_error");
    EXPECT_NE(blinders::SourceLocationOf(client.status()), "");
  }
  // The blinders client's own refusal comes back unchanged.
  auto negative = OnDeviceMeasurementV2Client::Create(WebSafe(kMatchingID), kDate, kBundleID, -1,
                                                      &ODCDeserializeUnencryptedMetadata);
  ASSERT_FALSE(negative.ok());
  EXPECT_EQ(negative.status().code(), absl::StatusCode::kInvalidArgument);
}

TEST(OnDeviceMeasurementV2Client, QueriesTheDecodedIDUnderTheDateAndBundle) {
  // Only the client of the matching ID, date and bundle the server holds is a member.
  const std::vector<Entry> entries = {{"v", {1, 1, 0}}};
  EXPECT_EQ(Matched(entries), std::vector<std::string>{"v"});
  for (auto [date, bundleID] : {std::pair{"2024-05-02", kBundleID}, std::pair{kDate, "com.example.other"}}) {
    auto own = MakeClient();
    auto other = MakeClient(date, bundleID);
    auto ownRequest = own->CreateRequest(kUseCase);
    auto otherRequest = other->CreateRequest(kUseCase);
    ASSERT_TRUE(ownRequest.ok() && otherRequest.ok());
    // The bucket comes from the non-sensitive id alone, which neither changes.
    ASSERT_EQ(ownRequest->encrypted_request.size(), 1u);
    EXPECT_EQ(ownRequest->encrypted_request[0].hashed_bucket_id, otherRequest->encrypted_request[0].hashed_bucket_id);
    EXPECT_EQ(ownRequest->encrypted_request[0].query_tag, "");
    EXPECT_EQ(ownRequest->use_case, kUseCase);
    EXPECT_EQ(ownRequest->parameters.hashed_non_sensitive_id_prefix_bit_length, kPrefixLength);
    EXPECT_EQ(ownRequest->parameters.hash_type, 2);
    EXPECT_NE(ODCHashJoinedStrings(kMatchingID, date, bundleID), ODCHashJoinedStrings(kMatchingID, kDate, kBundleID));
    ServerDouble server({{kMatchingID, ODCHashJoinedStrings(kMatchingID, kDate, kBundleID), "v",
                          PrivateMembershipBlindersIdValuePairMetadata{"", "g", std::nullopt}}},
                        ServerOptions{});
    auto response = server.Answer(*otherRequest);
    ASSERT_TRUE(response.ok());
    auto values = other->ProcessResponse(*response);
    ASSERT_TRUE(values.ok());
    EXPECT_TRUE(values->empty()) << date << " " << bundleID;
  }
}

TEST(OnDeviceMeasurementV2Client, KeepsTheHighestRankedValueOfEachGroup) {
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"kind 1 beats kind 2 at an equal order key", {{"stored", {5, 2, 0}}, {"new", {5, 1, 0}}}, {"new"}},
      {"an equal rank keeps the first", {{"stored", {5, 2, 0}}, {"new", {5, 2, 0}}}, {"stored"}},
      {"preferred beats a greater order key", {{"stored", {5, 2, 0}}, {"new", {4, 1, 1}}}, {"new"}},
      {"a greater order key beats preferred", {{"stored", {4, 1, 1}}, {"new", {5, 2, 0}}}, {"new"}},
      {"each group keeps its own", {{"a", {1, 0, 0}, "g1"}, {"b", {1, 0, 0}, "g2"}, {"c", {0, 0, 0}, "g1"}},
       {"a", "b"}},
      {"an empty group key is a key", {{"a", {1, 0, 0}, ""}, {"b", {2, 0, 0}, ""}}, {"b"}},
      {"a first entry without a group key stops the walk", {{"a", {1, 0, 0}, std::nullopt}, {"b", {1, 0, 0}, "g"}},
       {}},
      {"a later entry without a group key stops there", {{"a", {1, 0, 0}, "g1"}, {"b", {9, 0, 0}, std::nullopt},
       {"c", {1, 0, 0}, "g2"}}, {"a"}},
      {"unreadable metadata skips only its entry", {{"a", {9, 0, 0}, "g", "\x08"}, {"b", {1, 0, 0}, "g"}}, {"b"}},
      // A member without a value lends its metadata to no value: "a" ranks 1
      // and "b" 5, whatever the valueless member's 9.
      {"values keep the metadata of their own entries", {{"", {9, 1, 1}, "g"}, {"a", {1, 2, 0}, "g"},
       {"b", {5, 2, 0}, "g"}}, {"b"}},
      {"no entry, no value", {}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Matched(c.entries), c.expected) << c.name;
}

TEST(OnDeviceMeasurementV2Client, ABucketWithoutMetadataOrADeserializerYieldsNothing) {
  ServerOptions noMetadata;
  noMetadata.with_metadata = false;
  EXPECT_TRUE(Matched({{"a", {1, 0, 0}}}, noMetadata).empty());

  auto client = OnDeviceMeasurementV2Client::Create(WebSafe(kMatchingID), kDate, kBundleID, kPrefixLength, nullptr);
  ASSERT_TRUE(client.ok());
  auto request = (*client)->CreateRequest(kUseCase);
  ServerDouble server({{kMatchingID, ODCHashJoinedStrings(kMatchingID, kDate, kBundleID), "a",
                        PrivateMembershipBlindersIdValuePairMetadata{"", "g", std::nullopt}}},
                      ServerOptions{});
  auto values = (*client)->ProcessResponse(*server.Answer(*request));
  ASSERT_TRUE(values.ok());
  EXPECT_TRUE(values->empty());
}

TEST(OnDeviceMeasurementV2Client, AResponseTheBlindersClientRefusesIsItsStatus) {
  auto client = MakeClient();
  auto request = client->CreateRequest(kUseCase);
  ASSERT_TRUE(request.ok());
  ServerOptions options;
  options.faults.invalid_doubly_encrypted_id = true;
  ServerDouble server({}, options);
  auto response = server.Answer(*request);
  ASSERT_TRUE(response.ok());
  EXPECT_FALSE(client->ProcessResponse(*response).ok());
}

TEST(ODCDeserializeUnencryptedMetadata, ReadsTheThreeFieldsOrFails) {
  struct Case {
    std::string bytes;
    std::optional<OdmUnencryptedMetadata> expected;
  };
  const Case cases[] = {
      {SerializeOdmUnencryptedMetadata(5, 1, 1), OdmUnencryptedMetadata{5, 1, 1}},
      {SerializeOdmUnencryptedMetadata(-7, -1, 2), OdmUnencryptedMetadata{-7, -1, 2}},
      {"", OdmUnencryptedMetadata{0, 0, 0}},
      {SerializeOdmUnencryptedMetadata(0, 2, 0), OdmUnencryptedMetadata{0, 2, 0}},
      {"\x08", std::nullopt},          // a varint cut short
      {"\x0a\x05" "ab", std::nullopt},  // a length beyond the end
  };
  for (const Case& c : cases) {
    auto metadata = ODCDeserializeUnencryptedMetadata(c.bytes);
    if (c.expected) {
      ASSERT_TRUE(metadata.ok()) << absl::BytesToHexString(c.bytes);
      EXPECT_EQ(*metadata, *c.expected);
    } else {
      ASSERT_FALSE(metadata.ok()) << absl::BytesToHexString(c.bytes);
      EXPECT_EQ(metadata.status().code(), absl::StatusCode::kInternal);
      EXPECT_EQ(metadata.status().message(), "Failed to deserialize the unencrypted Metadata.");
    }
  }
}

TEST(ODCMVsFromProcessedResponse, EncodesTheValuesInOrder) {
  EXPECT_EQ(ODCMVsFromProcessedResponse({}), "");
  EXPECT_EQ(ODCMVsFromProcessedResponse({"ab", ""}), std::string("\x0a\x02" "ab" "\x0a\x00", 6));
}

}  // namespace
