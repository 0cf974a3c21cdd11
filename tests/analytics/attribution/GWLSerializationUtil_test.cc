#include "analytics/attribution/GWLSerializationUtil.h"

#include <gtest/gtest.h>

#include <string>

#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace {

using namespace private_membership::blinders;

// Wire pieces written by hand: a field key, and a length-delimited field.
std::string Key(int tag, int wireType) { return std::string(1, static_cast<char>((tag << 3) | wireType)); }
std::string Varint(int tag, uint8_t value) { return Key(tag, 0) + std::string(1, static_cast<char>(value)); }
std::string Len(int tag, const std::string& body) {
  return Key(tag, 2) + std::string(1, static_cast<char>(body.size())) + body;
}


PrivateMembershipBlindersRequest ExampleRequest() {
  PrivateMembershipBlindersRequest request;
  request.use_case = 3;
  request.parameters = {14, 2, 0};
  request.encrypted_request.push_back({"app", "\xB1\xB2", std::string(33, '\x07')});
  return request;
}

TEST(GWLSerializationUtil, EncodesTheExampleRequestByteForByte) {
  const std::string expected = std::string("\x0a\x2c\x0a\x02\xB1\xB2\x12\x21", 8) + std::string(33, '\x07') +
                               std::string("\x1a\x03" "app" "\x12\x04\x10\x02\x18\x0e\x18\x03", 13);
  const std::string encoded = SerializeBlindersRequest(ExampleRequest());
  ASSERT_EQ(encoded.size(), 54u);
  EXPECT_EQ(encoded, expected);
}

TEST(GWLSerializationUtil, WritesOnlyFieldsThatCarrySomething) {
  struct Case {
    const char* name;
    PrivateMembershipBlindersRequest request;
    std::string expected;
  };
  PrivateMembershipBlindersRequest noRecords = ExampleRequest();
  noRecords.encrypted_request.clear();
  PrivateMembershipBlindersRequest zeroParameters;
  PrivateMembershipBlindersRequest dummy;
  dummy.encrypted_request.push_back({"", "\x01", "\x02"});
  PrivateMembershipBlindersRequest unwritten;
  unwritten.extra_bytes = "never";
  unwritten.parameters.max_hash_prefixes_count = 4;
  PrivateMembershipBlindersRequest negative;
  negative.extra_number = -1;
  const Case cases[] = {
      {"no records: no tag 1, parameters still there", noRecords,
       Len(2, Varint(2, 2) + Varint(3, 14)) + Varint(3, 3)},
      {"zero parameters: an empty tag 2", zeroParameters, std::string("\x12\x00", 2)},
      {"empty query tag: no inner tag 3", dummy,
       Len(1, Len(1, "\x01") + Len(2, "\x02")) + std::string("\x12\x00", 2)},
      {"extra bytes and maximum count are never written", unwritten, std::string("\x12\x00", 2)},
      {"extra number sign-extended to 64 bits", negative,
       std::string("\x12\x00\x20\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 13)},
  };
  for (const Case& c : cases) EXPECT_EQ(SerializeBlindersRequest(c.request), c.expected) << c.name;
}

TEST(GWLSerializationUtil, ReadsAbsentResponseFieldsAsTheRecordDefaults) {
  // Part 1: only doubly encrypted ids. Part 2: metadata with tag 2 = 8 alone
  // and a tag 6 number. Part 3: a bucket whose metadata item lacks tag 3.
  const std::string part1 = Len(1, Len(1, "e1") + Len(2, "d1")) + Len(1, Len(2, "d2"));
  const std::string part2 = Len(7, Varint(2, 8)) + Varint(6, 5);
  const std::string part3 = Len(2, Len(1, "k") + Len(2, "v") + Len(3, Len(1, "p"))) +
                            Len(5, Len(1, "binned")) + Len(7, Varint(2, 0) + Varint(3, 1));
  const std::string wire = Len(1, part1) + Len(1, part2) + Len(1, part3);

  auto response = DeserializeBlindersResponse(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
  ASSERT_TRUE(response.ok()) << response.status();
  ASSERT_EQ(response->encrypted_response.size(), 3u);

  const EncryptedResponse& first = response->encrypted_response[0];
  EXPECT_EQ(first.doubly_encrypted_id, (std::vector<DoublyEncryptedId>{{"e1", "d1"}, {"", "d2"}}));
  EXPECT_EQ(first.encrypted_bucket, EncryptedBucket{});
  EXPECT_EQ(first.binned_encrypted_bucket, EncryptedBucket{});
  EXPECT_EQ(first.response_metadata, (EncryptedResponseMetadata{0, 1}));

  const EncryptedResponse& second = response->encrypted_response[1];
  EXPECT_EQ(second.response_metadata, (EncryptedResponseMetadata{8, 0}));
  EXPECT_EQ(second.extra_number, 0);

  const EncryptedResponse& third = response->encrypted_response[2];
  EXPECT_EQ(third.encrypted_bucket.encrypted_id, std::vector<std::string>{"k"});
  EXPECT_EQ(third.encrypted_bucket.encrypted_value, std::vector<std::string>{"v"});
  ASSERT_EQ(third.encrypted_bucket.metadata.size(), 1u);
  EXPECT_EQ(third.encrypted_bucket.metadata[0].primary_bytes, "p");
  EXPECT_EQ(third.encrypted_bucket.metadata[0].secondary_bytes, std::optional<std::string>(""));
  EXPECT_EQ(third.encrypted_bucket.metadata[0].tertiary_bytes, std::nullopt);
  EXPECT_EQ(third.binned_encrypted_bucket.encrypted_id, std::vector<std::string>{"binned"});
  EXPECT_EQ(third.response_metadata, (EncryptedResponseMetadata{0, 1}));
}

TEST(GWLSerializationUtil, RefusesBytesThatDoNotDecodeAndTakesEmptyBytesAsAnEmptyResponse) {
  const std::string truncated = "\x0a\x10\x0a";  // a length prefix promising more than there is
  auto failed = DeserializeBlindersResponse(reinterpret_cast<const uint8_t*>(truncated.data()), truncated.size());
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().code(), absl::StatusCode::kInvalidArgument);
  EXPECT_EQ(failed.status().message(), "Failed to deserialize PSM Response.");
  EXPECT_NE(blinders::SourceLocationOf(failed.status()), "");

  auto empty = DeserializeBlindersResponse(nullptr, 0);
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->encrypted_response.empty());
}

TEST(GWLSerializationUtil, AgreesWithTheServerSideCodecs) {
  PrivateMembershipBlindersRequest request = ExampleRequest();
  request.encrypted_request.push_back({"", "\x00\x01", std::string(33, '\x03')});
  request.extra_number = 9;
  auto decoded = tabulo::psm_double::DeserializeBlindersRequest(SerializeBlindersRequest(request));
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(*decoded, request);

  PrivateMembershipBlindersResponse response;
  EncryptedResponse part;
  part.doubly_encrypted_id = {{"a", "b"}, {"c", "d"}};
  part.encrypted_bucket = {{"k1", "k2"}, {"v1", ""}, {{"m1", "s1", std::nullopt}, {"m2", "", std::nullopt}}};
  part.binned_encrypted_bucket = {{"b1"}, {"w1"}, {}};
  part.response_metadata = {4, 3};
  response.encrypted_response = {part, EncryptedResponse{}};
  const std::string wire = tabulo::psm_double::SerializeBlindersResponse(response);
  auto back = DeserializeBlindersResponse(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, response);
}

}  // namespace
