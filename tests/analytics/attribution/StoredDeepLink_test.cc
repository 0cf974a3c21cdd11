// The stored launch link: its keys, its expiry, the coarse click time, and
// the engine's report of it as a campaign.
#include <gtest/gtest.h>

#include <limits>

#include "DeepLinksTestSupport.h"
#include "analytics/attribution/GWLStoredDeepLink.h"

namespace deeplink_test {
namespace {

constexpr double kDefaultTTL = 604800;

TEST(CoarseClickTimestamp, StartOfTheHourBeforeTheClick) {
  const struct {
    int64_t click;
    int64_t coarse;
  } cases[] = {
      {1'700'000'000'000, 1'699'995'600'000},
      {5'400'000, 0},
      {3'600'000, 0},
      {3'599'999, -3'600'000},
      {0, -3'600'000},
      {-1, -3'600'000},  // the division truncates toward zero
      {-3'600'001, -7'200'000},
      {std::numeric_limits<int64_t>::max(), 9'223'372'036'850'400'000},
      {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::min()},  // saturates
  };
  for (const auto& c : cases) EXPECT_EQ(GWLCoarseClickTimestampMillis(c.click), c.coarse) << c.click;
}

class StoredDeepLinkTest : public DeepLinksTest {
 protected:
  void store(const std::string& url, const std::optional<std::string>& referrer = std::nullopt) {
    GWLStoreDeepLink(*defaults_, url, referrer, *setup_.clock);
  }
  void report(std::optional<int64_t> clickMs) {
    engine_->onWorkerQueue([&] { deepLinks_->reportStoredCampaignEventOnWorkerQueue(clickMs); });
  }
  bool anyKeyLeft() {
    return defaults_->objectForKey(kGWLStoredDeepLinkKey) || defaults_->objectForKey(kGWLStoredDeepLinkTimestampKey) ||
           defaults_->objectForKey(kGWLStoredDeepLinkReferrerKey);
  }
};

TEST_F(StoredDeepLinkTest, KeysAreWrittenAndClearedTogether) {
  store("tabulo://open?utm_source=a", "https://ref.example/");
  EXPECT_EQ(defaults_->stringForKey(kGWLStoredDeepLinkKey), "tabulo://open?utm_source=a");
  EXPECT_EQ(defaults_->objectForKey(kGWLStoredDeepLinkTimestampKey), platform::Object(kNow));
  EXPECT_EQ(defaults_->stringForKey(kGWLStoredDeepLinkReferrerKey), "https://ref.example/");
  EXPECT_TRUE(deepLinks_->hasStoredDeepLink());
  // A newer link replaces the older; no referrer removes the old one.
  setup_.clock->advance(5);
  store("tabulo://second");
  EXPECT_EQ(defaults_->stringForKey(kGWLStoredDeepLinkKey), "tabulo://second");
  EXPECT_EQ(defaults_->objectForKey(kGWLStoredDeepLinkTimestampKey), platform::Object(kNow + 5));
  EXPECT_FALSE(defaults_->objectForKey(kGWLStoredDeepLinkReferrerKey));
  GWLClearStoredDeepLink(*defaults_);
  EXPECT_FALSE(anyKeyLeft());
  EXPECT_FALSE(deepLinks_->hasStoredDeepLink());
}

TEST_F(StoredDeepLinkTest, ExpiresOnlyBeyondTheTTL) {
  EXPECT_FALSE(GWLIsStoredDeepLinkOlderThan(*defaults_, 0, *setup_.clock));  // nothing stored
  const struct {
    double age;
    bool older;
  } cases[] = {{0, false}, {kDefaultTTL - 1, false}, {kDefaultTTL, false}, {kDefaultTTL + 1, true},
               {-kDefaultTTL - 1, true}};  // a clock set back counts too
  for (const auto& c : cases) {
    defaults_->setObject(platform::Object("tabulo://open"), kGWLStoredDeepLinkKey);
    defaults_->setObject(platform::Object(kNow - c.age), kGWLStoredDeepLinkTimestampKey);
    EXPECT_EQ(GWLIsStoredDeepLinkOlderThan(*defaults_, kDefaultTTL, *setup_.clock), c.older) << c.age;
    // Switching collection off clears only an expired link.
    EXPECT_EQ(deepLinks_->clearExpiredStoredDeepLink(*engine_->remoteConfig()), c.older) << c.age;
    EXPECT_EQ(deepLinks_->hasStoredDeepLink(), !c.older) << c.age;
  }
  // The TTL is the configuration's.
  engine_->remoteConfig()->replaceCachedValues({{"measurement.attribution.cache.ttl", "86400000"}});
  defaults_->setObject(platform::Object(kNow - 86401), kGWLStoredDeepLinkTimestampKey);
  EXPECT_TRUE(deepLinks_->clearExpiredStoredDeepLink(*engine_->remoteConfig()));
  // A stored time that is no number counts as none.
  defaults_->setObject(platform::Object("yesterday"), kGWLStoredDeepLinkTimestampKey);
  EXPECT_FALSE(GWLIsStoredDeepLinkOlderThan(*defaults_, 1, *setup_.clock));
}

TEST_F(StoredDeepLinkTest, ExpiredLinkIsTheNotSetCampaign) {
  store("tabulo://open?utm_source=mail&hbraid=B");
  setup_.clock->advance(kDefaultTTL + 1);
  report(std::nullopt);
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name(), "_cmpx");
  EXPECT_EQ(parameter(*events[0], "source"), platform::Object("(not set)"));
  EXPECT_EQ(parameter(*events[0], "medium"), platform::Object("(not set)"));
  EXPECT_EQ(parameter(*events[0], "_cc"), platform::Object(int64_t{1}));
  EXPECT_TRUE(parameter(*events[0], "hbraid").isNull());
  EXPECT_DOUBLE_EQ(events[0]->timestamp(), kNow);  // the time it was stored
  EXPECT_FALSE(storedCampaignInfo());
  EXPECT_FALSE(anyKeyLeft());
}

TEST_F(StoredDeepLinkTest, FreshLinkCarriesItsCoarseClickAndReferrer) {
  store("tabulo://open?utm_source=mail&hbraid=B", "https://www.halcyra.com/search");
  setup_.clock->advance(kDefaultTTL);
  report(std::nullopt);
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name(), "_cmp");
  EXPECT_EQ(events[0]->origin(), "hs");
  EXPECT_EQ(parameter(*events[0], "_cc"), platform::Object(int64_t{1'699'995'600'000}));
  EXPECT_EQ(parameter(*events[0], "source"), platform::Object("mail"));
  EXPECT_TRUE(parameter(*events[0], "_ref").isNull());
  EXPECT_TRUE(parameter(*events[0], "click_timestamp").isNull());
  ASSERT_TRUE(storedCampaignInfo());
  EXPECT_EQ(storedCampaignInfo()->hbraid(), "B");
  EXPECT_FALSE(anyKeyLeft());
  // Reported once: nothing is left to report.
  report(std::nullopt);
  EXPECT_TRUE(engine_->takeEvents().empty());
}

TEST_F(StoredDeepLinkTest, AtFirstOpenTheClickTimeIsJustBeforeIt) {
  store("tabulo://open?utm_campaign=launch");
  setup_.clock->advance(2.5);
  const int64_t firstOpenMs = static_cast<int64_t>((kNow + 2.5) * 1000);
  persistedConfig_->setFirstOpenTimestampMilliseconds(firstOpenMs);
  report(firstOpenMs - 1);
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(parameter(*events[0], "click_timestamp"), platform::Object(firstOpenMs - 1));
  EXPECT_EQ(parameter(*events[0], "campaign"), platform::Object("launch"));
  EXPECT_DOUBLE_EQ(events[0]->timestamp(), kNow + 2.5);  // stored earlier, raised to first open
}

TEST_F(StoredDeepLinkTest, NothingToReportWithoutALinkString) {
  report(std::nullopt);
  defaults_->setObject(platform::Object(""), kGWLStoredDeepLinkKey);
  report(std::nullopt);
  defaults_->setObject(platform::Object(int64_t{7}), kGWLStoredDeepLinkKey);
  report(std::nullopt);
  EXPECT_TRUE(engine_->takeEvents().empty());
}

}  // namespace
}  // namespace deeplink_test
