// The typed accessors of the message classes: values of the field's own type,
// copies in and out, and the same refusals and logs as the index accessors.
#include <gtest/gtest.h>

#include "WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"
#include "platform/core/Log.h"

using wire_test::WireBytes;

namespace {

TEST(TypedAccessors, ScalarsKeepTheirTypesAndAbsenceIsDistinct) {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  EXPECT_FALSE(bundle->hasEndTimestamp());
  EXPECT_EQ(bundle->endTimestamp(), 0);
  bundle->setEndTimestamp(0);  // an int for an int64 field
  EXPECT_TRUE(bundle->hasEndTimestamp());
  bundle->setTrackingAuthorizationStatus(-1);  // an enum keeps its 32-bit pattern
  EXPECT_EQ(bundle->trackingAuthorizationStatus(), -1);
  bundle->setLimitedAdTracking(true);
  bundle->setExperimentIds(std::vector<uint32_t>{4000000000u});
  EXPECT_EQ(bundle->experimentIds(), std::vector<uint32_t>{4000000000u});
  // Index order and tag order differ in the bundle; the typed accessors follow the index.
  bundle->setPreviousBundleStartTimestamp(26);
  EXPECT_EQ(NANOGetInt64(bundle, GWLPBMeasurementBundle::Field::previous_bundle_start_timestamp), 26);
  bundle->clearEndTimestamp();
  EXPECT_FALSE(bundle->hasEndTimestamp());

  auto param = GWLPBEventParam::initWithMessageInfo();
  param->setFloatValue(0.5f);  // carried only, but typed like the rest
  EXPECT_EQ(param->floatValue(), 0.5f);
  EXPECT_EQ(param->protoBuffer(), WireBytes().tag(4, 5).raw({0, 0, 0, 0x3F}).bytes());
}

TEST(TypedAccessors, TextThatIsNotUTF8IsRefusedAsByIndex) {
  auto event = GWLPBEvent::initWithMessageInfo();
  event->setName("_e");
  platform::log::ScopedCapture capture;
  event->setName("\xFF");
  EXPECT_EQ(event->name(), "_e");
  EXPECT_EQ(capture.sink().lines(),
            std::vector<std::string>{
                "<ERROR> Invalid string value. String fields expect UTF-8 text. Message: Event, field ID: 1"});
}

TEST(TypedAccessors, MessagesAndListsAreCopiedInAndOut) {
  auto param = GWLPBEventParam::initWithMessageInfo();
  param->setName("quantity");
  auto event = GWLPBEvent::initWithMessageInfo();
  event->setParams(std::vector<std::shared_ptr<GWLPBEventParam>>{param, param});
  param->setName("changed after setting");
  std::vector<std::shared_ptr<GWLPBEventParam>> params = event->params();
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params[1]->name(), "quantity");
  params[1]->setName("changed after getting");
  EXPECT_EQ(event->params()[1]->name(), "quantity");
  EXPECT_EQ(event->paramsCount(), 2u);

  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  auto campaign = GWLPBAdCampaignInfo::initWithMessageInfo();
  campaign->setVrtSource("s");
  bundle->setAdCampaignInfo(*campaign);
  campaign->setVrtSource("t");
  EXPECT_EQ(bundle->adCampaignInfo()->vrtSource(), "s");

  // A list that is cleared or set empty is empty, and still there.
  event->setParams(std::vector<std::shared_ptr<GWLPBEventParam>>{});
  EXPECT_EQ(event->paramsCount(), 0u);
  EXPECT_TRUE(NANOHasField(event, GWLPBEvent::Field::params));
}

TEST(TypedAccessors, ANullListElementEmptiesTheList) {
  auto event = GWLPBEvent::initWithMessageInfo();
  event->setParams(std::vector<std::shared_ptr<GWLPBEventParam>>{GWLPBEventParam::initWithMessageInfo()});
  platform::log::ScopedCapture capture;
  event->setParams(std::vector<std::shared_ptr<GWLPBEventParam>>{GWLPBEventParam::initWithMessageInfo(), nullptr});
  EXPECT_EQ(event->paramsCount(), 0u);
  EXPECT_TRUE(capture.sink().contains("<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: (null)"));
}

}  // namespace
