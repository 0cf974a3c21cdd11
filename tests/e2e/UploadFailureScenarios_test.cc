// An upload the service fails, or whose connection it drops, is sent again
// at the time the retry schedule (or the service's back-off) says, and its
// events arrive once.
#include <gtest/gtest.h>

#include <algorithm>

#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "e2e/E2EHarness.h"

namespace e2e {
namespace {

struct FailureCase {
  const char* name;
  int status;             // the status of the failed answer; 0: the connection is dropped
  double retryAfter;      // seconds from the failure to the next attempt, about
};

// The retry interval after a failure, and the hold after a back-off status.
constexpr double kRetry = 1800;
constexpr double kBackoff = 43200;

// Test names and messages show the case by its name.
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class UploadFailureScenarios : public E2ETest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UploadFailureScenarios, TheFailedUploadIsSentAgainOnScheduleAndItsEventsArriveOnce) {
  const FailureCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(start());
  const size_t attemptsBefore = uploadAttempts();
  if (c.status) {
    failNext(c.status);
  } else {
    dropNext();
  }
  CVNAnalytics::logEventWithName("level_up", GWLRawParameters{{"level", platform::Object(int64_t{3})}});
  for (int second = 0; second < 30 && uploadAttempts() == attemptsBefore; ++second) advance(1);
  ASSERT_EQ(uploadAttempts(), attemptsBefore + 1) << "the first attempt";
  EXPECT_TRUE(batches().empty()) << "the service recorded nothing";

  advance(c.retryAfter - 100);
  EXPECT_EQ(uploadAttempts(), attemptsBefore + 1) << "no attempt before the retry is due";
  const auto recorded = waitForEvent("level_up", 1, 200);
  ASSERT_FALSE(recorded.empty());
  EXPECT_TRUE(eventNamed({recorded.front()}, "level_up")) << "the retry is the next upload the service accepted";
  const auto names = eventNames(recorded);
  EXPECT_EQ(std::count(names.begin(), names.end(), "level_up"), 1) << describeEvents(recorded);
  const auto levelUp = eventNamed(recorded, "level_up");
  ASSERT_TRUE(levelUp);
  EXPECT_EQ(parameter(levelUp->event, "level"), "int 3");
  EXPECT_EQ(levelUp->bundle->retryCount(), 1) << "the bundle counts its failed attempt";
}

INSTANTIATE_TEST_SUITE_P(Failures, UploadFailureScenarios,
                         ::testing::Values(FailureCase{"ServiceUnavailable", 503, kBackoff},
                                           FailureCase{"CannotAcceptTraffic", 429, kBackoff},
                                           FailureCase{"ServerError", 500, kRetry},
                                           FailureCase{"DroppedConnection", 0, kRetry}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
