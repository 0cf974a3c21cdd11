// Encoded messages of every family: decoded, read by index, encoded back byte
// for byte, and compared with what protoc reads from the same bytes through
// the generated proto2 file. Each fixtures/<Message>.hex holds the bytes that
// `protoc --encode=tabulo.wire.<Message>` makes of fixtures/<Message>.txtpb.
#include <gtest/gtest.h>

#include <ostream>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"

using wire_test::protocDecode;
using wire_test::readHexFixture;
using wire_test::textFormat;

namespace {

struct Fixture {
  const char* name;  // fixture file and message name
  const NANOMessageType* type;
};

// Test listings show the case's name, not its bytes (which hold pointers).
void PrintTo(const Fixture& c, std::ostream* out) { *out << c.name; }

class WireFixtureTest : public testing::TestWithParam<Fixture> {};

TEST_P(WireFixtureTest, DecodesEncodesBackAndAgreesWithProtoc) {
  const Fixture& fixture = GetParam();
  std::vector<uint8_t> bytes = readHexFixture(fixture.name);
  ASSERT_FALSE(bytes.empty());
  auto message = NANOMessageBase::initWithBuffer(*fixture.type, bytes);
  ASSERT_TRUE(message);
  EXPECT_STREQ(message->messageID(), fixture.name);

  auto encoded = message->protoBuffer();
  ASSERT_TRUE(encoded);
  EXPECT_EQ(*encoded, bytes);

  // A deep copy carries every field too.
  auto copy = NANOMessageBase::initWithMessageInfo(*fixture.type, message->messageInfo());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->protoBuffer(), bytes);

  std::string protoc = protocDecode(fixture.name, bytes);
  EXPECT_EQ(textFormat(*message->messageInfo()), protoc);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, WireFixtureTest,
    testing::Values(Fixture{"PrivateMembershipBlindersRequest", &PSMPrivateMembershipBlindersRequest::type()},
                    Fixture{"PrivateMembershipBlindersResponse", &PSMPrivateMembershipBlindersResponse::type()},
                    Fixture{"MeasurementBundle", &GWLPBMeasurementBundle::type()},
                    Fixture{"AudienceLeafFilterResult", &GWLPBAudienceLeafFilterResult::type()},
                    Fixture{"ExperimentResponse", &GWLPBExperimentResponse::type()},
                    Fixture{"SkAdNetworkConversionValueResponse", &GWLPBSkAdNetworkConversionValueResponse::type()},
                    Fixture{"MeasurementConfig", &GWLPBMeasurementConfig::type()},
                    Fixture{"Audience", &GWLPBAudience::type()}, Fixture{"Program", &GWLPBProgram::type()}),
    [](const testing::TestParamInfo<Fixture>& info) { return std::string(info.param.name); });

// Fields whose index differs from their tag are read by index.
TEST(WireFixtures, IndexesNotTagsAddressTheFields) {
  auto bundle = GWLPBMeasurementBundle::initWithBuffer(readHexFixture("MeasurementBundle"));
  ASSERT_TRUE(bundle);
  using B = GWLPBMeasurementBundle::Field;
  EXPECT_EQ(NANOGetInt64(bundle, B::previous_bundle_start_timestamp), 1699999999000);  // index 6, tag 26
  EXPECT_EQ(NANOGetInt64(bundle, B::previous_bundle_end_timestamp), 1699999999500);    // index 7, tag 7
  EXPECT_EQ(NANOGetString(bundle, B::vendor_device_id), "V-1");                        // index 20, tag 27
  EXPECT_TRUE(NANOHasField(bundle, B::limited_ad_tracking));                          // index 21, tag 20
  EXPECT_FALSE(NANOGetBool(bundle, B::limited_ad_tracking));
  EXPECT_EQ(NANOGetInt64(bundle, B::int64_tag22), -5);
  EXPECT_EQ(NANOGetInt32(bundle, B::time_zone_offset_minutes), -120);
  EXPECT_EQ(NANOGetInt32(bundle, B::retry_count), 2);
  auto ids = NANOGetArray(bundle, B::experiment_ids);
  ASSERT_TRUE(ids);
  ASSERT_EQ(ids->size(), 2u);
  EXPECT_EQ(std::get<uint32_t>((*ids)[1]), 4294967295u);

  auto events = NANOGetMessageArray<GWLPBEvent>(bundle, B::events);
  ASSERT_TRUE(events);
  ASSERT_EQ(events->size(), 2u);
  EXPECT_EQ(NANOGetString((*events)[0], GWLPBEvent::Field::name), "_e");
  EXPECT_EQ(NANOGetInt64((*events)[1], GWLPBEvent::Field::elt_value), 12);
  EXPECT_FALSE(NANOHasField((*events)[1], GWLPBEvent::Field::previous_timestamp));

  auto request = PSMPrivateMembershipBlindersRequest::initWithBuffer(readHexFixture("PrivateMembershipBlindersRequest"));
  ASSERT_TRUE(request);
  using R = PSMPrivateMembershipBlindersRequest::Field;
  EXPECT_EQ(NANOGetString(request, R::request_string), "r");  // index 3, tag 6
  EXPECT_EQ(NANOGetInt64(request, R::request_int64), 99);     // index 4, tag 4
  auto parameters = NANOGetMessage<PSMPrivateMembershipBlindersParameters>(request, R::parameters);
  ASSERT_TRUE(parameters);
  EXPECT_EQ(NANOGetInt32(parameters, PSMPrivateMembershipBlindersParameters::Field::hash_type), 2);
}

}  // namespace
