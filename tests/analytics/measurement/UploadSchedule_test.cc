#include <gtest/gtest.h>

#include <vector>

#include "analytics/measurement/GWLUploadSchedule.h"

namespace {

constexpr double kT = 1'700'000'000;

GWLUploadScheduleInputs at(double now, double newest) {
  GWLUploadScheduleInputs in;
  in.now = now;
  in.newestDataTimestamp = newest;
  return in;
}

TEST(UploadSchedule, NextTimeTable) {
  struct Case {
    const char* what;
    GWLUploadScheduleInputs in;
    double expected;
  };
  auto success = [](GWLUploadScheduleInputs in, double s, double interval = 3600) {
    in.lastSuccessfulUploadTimestamp = s;
    in.interval = interval;
    return in;
  };
  auto debug = [](GWLUploadScheduleInputs in) {
    in.debugMode = true;
    in.interval = 10;
    return in;
  };
  const std::vector<Case> cases{
      {"no data", at(kT, 0), 0},
      {"never uploaded: newest + initial delay", at(kT + 5, kT), kT + 15},
      {"success within the interval: success + interval", success(at(kT + 100, kT + 50), kT), kT + 3600},
      {"real-time event waiting", success(at(kT + 5, kT + 4), kT, 10), kT + 10},
      {"success older than the interval: initial delay", success(at(kT + 4000, kT + 3990), kT), kT + 4005},
      {"debug mode: at most debug interval after newest", debug(success(at(kT + 5, kT + 3), kT)), kT + 4},
      {"debug mode never later than the regular time", debug(success(at(kT + 0.5, kT + 0.5), kT - 9)), kT + 1},
      {"newest in the future is mirrored into the past", at(kT, kT + 100), kT - 100 + 15},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(GWLNextUploadingTime(c.in), c.expected) << c.what;
}

// Data at t, never uploaded; each attempt fails when it runs. The gaps double
// from the retry interval, and after six retries nothing is scheduled.
TEST(UploadSchedule, FailuresBackOffExponentiallyThenStop) {
  GWLUploadScheduleInputs in = at(kT, kT);
  double attempt = GWLNextUploadingTime(in);
  ASSERT_DOUBLE_EQ(attempt, kT + 15);
  std::vector<double> gaps;
  for (int i = 0; i < 7; ++i) {
    in.now = attempt;
    in.lastFailedUploadTimestamp = attempt;
    const double next = GWLNextUploadingTime(in);
    if (next == 0) break;
    gaps.push_back(next - attempt);
    attempt = next;
  }
  EXPECT_EQ(gaps, (std::vector<double>{1800, 3600, 7200, 14400, 28800, 57600}));

  // New data after the last failure starts over.
  in.newestDataTimestamp = attempt + 10;
  in.now = attempt + 10;
  EXPECT_DOUBLE_EQ(GWLNextUploadingTime(in), attempt + 25);
}

TEST(UploadSchedule, FailureOlderThanTheDataDoesNotDelay) {
  GWLUploadScheduleInputs in = at(kT + 20, kT + 10);
  in.lastFailedUploadTimestamp = kT;
  EXPECT_DOUBLE_EQ(GWLNextUploadingTime(in), kT + 25);
  // Debug mode does not shorten a retry.
  in.lastFailedUploadTimestamp = kT + 30;
  in.debugMode = true;
  EXPECT_DOUBLE_EQ(GWLNextUploadingTime(in), kT + 25 + 1800);
}

}  // namespace
