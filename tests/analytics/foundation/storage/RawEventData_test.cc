#include <gtest/gtest.h>

#include <vector>

#include "../values/ValuesTestSupport.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLEvent.h"

namespace {

using foundation_test::kDefaultLimits;

class RawEventDataTest : public foundation_test::LibraryMonitorTest {};

TEST_F(RawEventDataTest, RefusesMissingEventsAndNegativeRows) {
  auto event = GWLEvent::initWithOrigin("app", false, "tap", 1, 0, platform::Dictionary{}, kDefaultLimits);
  auto row = GWLRawEventData::initWithRawEvent(event, 0, -9);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->rawEvent(), event);
  EXPECT_EQ(row->metadataFingerprint(), -9);
  EXPECT_FALSE(GWLRawEventData::initWithRawEvent(nullptr, 1, 1));
  EXPECT_FALSE(GWLRawEventData::initWithRawEvent(event, -1, 1));
  EXPECT_EQ(reports(), (std::vector<foundation_test::Report>{
                           {4, 28000, "Failed to create raw event data. Received invalid raw event."},
                           {4, 28001, "Failed to create raw event data. Received invalid row ID. Row ID: -1"}}));
}

}  // namespace
