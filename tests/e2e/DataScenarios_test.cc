// What an app logs through the library's public interface arrives at the
// collection service as it was logged.
#include <gtest/gtest.h>

#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/wire/GWLPBEvent.h"
#include "e2e/E2EHarness.h"

namespace e2e {
namespace {

class DataScenarios : public E2ETest {};

TEST_F(DataScenarios, EveryParameterKindArrivesAsLogged) {
  ASSERT_NO_FATAL_FAILURE(start());
  const double loggedAt = clock().now();
  CVNAnalytics::logEventWithName(
      "add_to_cart", GWLRawParameters{{"character", platform::Object(std::string("wizard"))},
                                   {"level", platform::Object(int64_t{7})},
                                   {"score", platform::Object(1234.5)},
                                   {"items", platform::Object(platform::Array{platform::Object(platform::Dictionary{
                                                 {"item_id", std::string("sword")}, {"quantity", int64_t{2}}})})}});
  const auto recorded = waitForBatches(1);
  const auto event = eventNamed(recorded, "add_to_cart");
  ASSERT_TRUE(event) << ::testing::PrintToString(eventNames(recorded));
  EXPECT_EQ(parameter(event->event, "character"), "text wizard");
  EXPECT_EQ(parameter(event->event, "level"), "int 7");
  EXPECT_EQ(parameter(event->event, "score"), "double 1234.5");
  EXPECT_EQ(parameter(event->event, "items"), "items [{item_id: text sword, quantity: int 2, }]");
  EXPECT_EQ(event->event->timestamp(), static_cast<int64_t>(loggedAt * 1000));
}

}  // namespace
}  // namespace e2e
