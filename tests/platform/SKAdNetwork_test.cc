#include "platform/storekit/SKAdNetwork.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/TestSupport.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/Paths.h"

namespace platform {
namespace {

std::optional<Error> update(SKAdNetwork& network, int64_t fine, SKAdNetworkCoarseConversionValue coarse, bool lock) {
  std::optional<Error> answer = Error("unanswered", -1);
  network.updatePostbackConversionValue(fine, coarse, lock, [&](std::optional<Error> error) { answer = error; });
  return answer;
}

TEST(SKAdNetwork, RecordsTheLastUpdateInTheAppContainer) {
  testing::ScratchDirectory scratch;
  auto paths = Paths::open(scratch / "data");
  ASSERT_TRUE(paths);
  Paths::setCurrent(paths);
  auto clock = std::make_shared<ManualClock>(1'700'000'000.5);
  SKAdNetwork network({}, clock);

  Error error;
  EXPECT_FALSE(network.lastUpdate(&error));
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);

  EXPECT_EQ(update(network, 12, SKAdNetworkCoarseConversionValue::kMedium, false), std::nullopt);
  EXPECT_EQ(update(network, 63, SKAdNetworkCoarseConversionValue::kHigh, true), std::nullopt);
  const Dictionary expected = {{kSKAdNetworkRecordFineValueKey, 63},
                               {kSKAdNetworkRecordCoarseValueKey, "high"},
                               {kSKAdNetworkRecordLockWindowKey, true},
                               {kSKAdNetworkRecordUpdateDateKey, Date{1'700'000'000.5}}};
  EXPECT_EQ(network.lastUpdate(), expected);
  struct stat info {};
  EXPECT_EQ(::stat((paths->applicationSupportDirectory() + "/" + kSKAdNetworkRecordFileName).c_str(), &info), 0);

  // Values the ad network does not take are refused; the record stays.
  for (int64_t fine : {int64_t{64}, int64_t{-1}}) {
    std::optional<Error> refused = update(network, fine, SKAdNetworkCoarseConversionValue::kLow, false);
    ASSERT_TRUE(refused) << fine;
    EXPECT_EQ(refused->domain, kSKANErrorDomain);
    EXPECT_EQ(refused->code, kSKANErrorInvalidConversionValue);
  }
  EXPECT_EQ(network.lastUpdate(), expected);
  EXPECT_STREQ(SKAdNetworkCoarseConversionValueName(SKAdNetworkCoarseConversionValue::kLow), "low");

  // A record that cannot be written is reported, not taken.
  SKAdNetwork unwritable(scratch / "no-such-directory/record.plist", clock);
  std::optional<Error> failed = update(unwritable, 1, SKAdNetworkCoarseConversionValue::kLow, false);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->domain, kPOSIXErrorDomain);
  Paths::setCurrent(nullptr);

  // Without a data directory there is nowhere to record.
  SKAdNetwork nowhere({}, clock);
  EXPECT_TRUE(update(nowhere, 1, SKAdNetworkCoarseConversionValue::kLow, false));
}

TEST(SKAdNetwork, RecordsEachRegistrationBesideTheUpdates) {
  testing::ScratchDirectory scratch;
  auto clock = std::make_shared<ManualClock>(1'700'000'000.5);
  SKAdNetwork network(scratch / "record.plist", clock);
  EXPECT_FALSE(network.lastRegistration());

  network.registerAppForAdNetworkAttribution();
  clock->advance(10);
  network.registerAppForAdNetworkAttribution();
  EXPECT_EQ(network.lastRegistration(), (Dictionary{{kSKAdNetworkRegistrationDateKey, Date{1'700'000'010.5}},
                                                    {kSKAdNetworkRegistrationCountKey, 2}}));
  EXPECT_FALSE(network.lastUpdate()) << "a registration is no conversion value";

  // A registration that cannot be recorded is logged; nothing else happens.
  log::ScopedCapture capture;
  SKAdNetwork unwritable(scratch / "no-such-directory/record.plist", clock);
  unwritable.registerAppForAdNetworkAttribution();
  EXPECT_TRUE(capture.sink().contains("could not be recorded"));
  EXPECT_FALSE(unwritable.lastRegistration());
}

}  // namespace
}  // namespace platform
