// Rules of particular messages that the field tables alone do not show.
#include <gtest/gtest.h>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"

using wire_test::WireBytes;

namespace {

// A field with a descriptor default that is absent on the wire stays absent and
// reads 0: the default never reaches the message.
TEST(WireMessages, DescriptorDefaultsNeverReachTheMessage) {
  using S = GWLPBPsmSetting::Field;
  auto setting = GWLPBPsmSetting::initWithBuffer(WireBytes().varintField(1, 30).bytes());
  ASSERT_TRUE(setting);
  EXPECT_EQ(NANOGetInt32(setting, S::hash_prefix_bits_email), 30);
  for (int32_t field : {S::hash_prefix_bits_phone, S::signin_delay_days, S::session_hash_prefix_bits_email,
                        S::session_hash_prefix_bits_phone}) {
    EXPECT_FALSE(NANOHasField(setting, field)) << field;
    EXPECT_EQ(NANOGetInt32(setting, field), 0) << field;
  }
  EXPECT_EQ(setting->protoBuffer(), WireBytes().varintField(1, 30).bytes());

  auto batch = GWLPBMeasurementBatch::initWithBuffer(WireBytes().stringField(8, "eu").bytes());
  ASSERT_TRUE(batch);
  EXPECT_FALSE(NANOHasField(batch, GWLPBMeasurementBatch::Field::enum_tag9));
  EXPECT_EQ(NANOGetInt32(batch, GWLPBMeasurementBatch::Field::enum_tag9), 0);
  auto config = GWLPBMeasurementConfig::initWithBuffer(WireBytes().varintField(1, 3).bytes());
  EXPECT_FALSE(NANOHasField(config, GWLPBMeasurementConfig::Field::bool_tag8));
}

// The membership request declares request_string (index 3) under tag 6 and
// request_int64 (index 4) under tag 4; what the writer leaves unset is not sent.
TEST(WireMessages, MembershipRequestGoesOutInTagOrder) {
  using R = PSMPrivateMembershipBlindersRequest::Field;
  using Q = PSMEncryptedRequest::Field;
  auto parameters = PSMPrivateMembershipBlindersParameters::initWithMessageInfo();
  NANOSetInt32(parameters, PSMPrivateMembershipBlindersParameters::Field::hash_type, 2);
  NANOSetInt32(parameters, PSMPrivateMembershipBlindersParameters::Field::hashed_non_sensitive_id_prefix_bit_length, 14);
  std::vector<NANOValue> queries;
  for (uint8_t id : {0x02, 0x03}) {
    auto query = PSMEncryptedRequest::initWithMessageInfo();
    NANOSetBytes(query, Q::hashed_bucket_id, NANOData{0xAB});
    NANOSetBytes(query, Q::queried_encrypted_id, NANOData{id, 0x11});
    queries.emplace_back(query);
  }
  auto request = PSMPrivateMembershipBlindersRequest::initWithMessageInfo();
  NANOSetInt32(request, R::use_case, 3);
  NANOSetMessage(request, R::parameters, parameters);
  NANOSetArray(request, R::encrypted_request, queries);

  auto query = [](uint8_t id) { return WireBytes().bytesField(1, {0xAB}).bytesField(2, {id, 0x11}); };
  WireBytes expected = WireBytes()
                           .messageField(1, query(0x02))
                           .messageField(1, query(0x03))
                           .messageField(2, WireBytes().varintField(2, 2).varintField(3, 14))
                           .varintField(3, 3);
  EXPECT_EQ(request->protoBuffer(), expected.bytes());

  NANOSetString(request, R::request_string, "r");
  NANOSetInt64(request, R::request_int64, 99);
  expected.varintField(4, 99).stringField(6, "r");
  EXPECT_EQ(request->protoBuffer(), expected.bytes());
  auto decoded = PSMPrivateMembershipBlindersRequest::initWithBuffer(*request->protoBuffer());
  EXPECT_EQ(NANOGetString(decoded, R::request_string), "r");
  EXPECT_EQ(NANOGetInt64(decoded, R::request_int64), 99);
}

// Filter result bit sets are unsigned 64-bit words: bit 63 reads as 2^63 and
// goes out as a ten-byte varint.
TEST(WireMessages, ResultBitsAreUnsignedWords) {
  using D = GWLPBResultData::Field;
  auto results = GWLPBResultData::initWithMessageInfo();
  NANOSetArray(results, D::status, std::vector<NANOValue>{uint64_t{1} << 63, uint64_t{64}});
  std::vector<uint8_t> wire = *results->protoBuffer();
  EXPECT_EQ(wire, WireBytes().varintField(1, uint64_t{1} << 63).varintField(1, 64).bytes());
  EXPECT_EQ(wire.size(), 1u + 10u + 2u);
  auto decoded = GWLPBResultData::initWithBuffer(wire);
  EXPECT_EQ(NANOGetArray(decoded, D::status),
            (std::vector<NANOValue>{uint64_t{9223372036854775808u}, uint64_t{64}}));
}

}  // namespace
