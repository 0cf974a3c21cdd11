#include <gtest/gtest.h>

#include "BundlingTestSupport.h"
#include "platform/storekit/Store.h"

namespace measurement_test {
namespace {

using Groups = std::vector<std::vector<std::string>>;

// An ecommerce event whose encoding is larger than the default size limit of a bundle.
std::shared_ptr<GWLEvent> largeEvent(double timestamp) {
  platform::Array items;
  for (int item = 0; item < 8; ++item) {
    platform::Dictionary values{{"item_id", "item" + std::to_string(item)}};
    for (int custom = 0; custom < 27; ++custom) values["c" + std::to_string(custom)] = std::string(480, 'x');
    items.emplace_back(values);
  }
  return BundlingTest::event("view_item_list", timestamp, {{"items", items}});
}

TEST_F(BundlingTest, ABundleIsOneRunOfConsecutiveRowsOfOneHourWithinTheCountAndSizeLimits) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> settings;
    std::function<void(BundlingTest&, int64_t, int64_t)> store;
    Groups expected;
  };
  const double tenFiftyNine = kT0;
  const Case cases[] = {
      {"one clock hour",
       {},
       [&](BundlingTest& t, int64_t a, int64_t) {
         t.store("early", tenFiftyNine - 60, a);
         t.store("late", tenFiftyNine, a);
       },
       {{"early", "late"}}},
      {"10:59 and 11:00",
       {},
       [&](BundlingTest& t, int64_t a, int64_t) {
         t.store("before", tenFiftyNine, a);
         t.store("after", tenFiftyNine + 60, a);
       },
       {{"before"}, {"after"}}},
      {"a row ID gap",
       {},
       [&](BundlingTest& t, int64_t a, int64_t b) {
         t.store("a_one", tenFiftyNine, a);
         t.store("b_one", tenFiftyNine, b);
         t.store("a_two", tenFiftyNine, a);
       },
       {{"a_one"}, {"b_one"}, {"a_two"}}},
      {"the event count limit",
       {{kGWLSettingUploadMaxEventsPerBundle, "2"}},
       [&](BundlingTest& t, int64_t a, int64_t) {
         for (const char* name : {"one", "two", "three"}) t.store(name, tenFiftyNine, a);
       },
       {{"one", "two"}, {"three"}}},
      {"an event above the size limit",
       {},
       [&](BundlingTest& t, int64_t a, int64_t) {
         t.store("small", tenFiftyNine, a);
         t.store(largeEvent(tenFiftyNine), a);
         t.store("small_after", tenFiftyNine, a);
       },
       {{"small"}, {"view_item_list"}, {"small_after"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    onWorker([&] { ASSERT_TRUE(database()->reset()); });
    configure(c.settings);
    const int64_t a = storeMetadata();
    const int64_t b = storeMetadata([](GWLPBMeasurementBundle& metadata) { metadata.setOsVersion("18.1"); });
    c.store(*this, a, b);
    EXPECT_EQ(bundleAll(), static_cast<int>(c.expected.size()));
    EXPECT_EQ(groups(queued()), c.expected);
    EXPECT_EQ(rawEventCount(), 0);
    EXPECT_FALSE(onWorkerQueue([&] { return database()->queryRawEventsMetadataWithFingerprint(a) != nullptr; }))
        << "the metadata goes with its last raw event";
  }
  ASSERT_GT(largeEvent(kT0)->protoEvent()->protoBuffer()->size(), 65536u);
}

TEST_F(BundlingTest, TheSizeLimitIsOnTheEventsWireForm) {
  auto first = event("first_event", kT0, {{"text", std::string(300, 'a')}});
  auto second = event("second", kT0, {{"n", int64_t{7}}});
  const size_t together = first->protoEvent()->protoBuffer()->size() + second->protoEvent()->protoBuffer()->size();
  for (const size_t limit : {together, together + 1}) {
    SCOPED_TRACE(limit);
    onWorker([&] { ASSERT_TRUE(database()->reset()); });
    configure({{kGWLSettingUploadMaxSizeLimitBytes, std::to_string(limit)}});
    const int64_t fingerprint = storeMetadata();
    store(first, fingerprint);
    store(second, fingerprint);
    bundleAll();
    EXPECT_EQ(queued().size(), limit == together ? 2u : 1u) << "the sum must stay below the limit";
  }
}

TEST_F(BundlingTest, PurchasesGetQuantityMicrosAndTheSandboxMark) {
  platform::Store::Configuration store;
  store.directory = data_.root() + "/StoreKit";
  store.sandbox = true;
  platform::Store::setShared(platform::Store::create(store));

  const int64_t fingerprint = storeMetadata();
  this->store("_iap", kT0, fingerprint, {{"price", 1.99}, {"value", 2.01}, {"currency", "USD"}});
  this->store("_iap", kT0 + 1, fingerprint, {{"quantity", 2.5}, {"price", 1e300}, {"value", -0.0000005}});
  this->store("_iap", kT0 + 2, fingerprint, {{"quantity", "two"}, {"price", "1.99"}, {"value", int64_t{3}}});
  this->store(event("_iap", kT0 + 3, {}, "auto"), fingerprint);
  this->store(event("_iap", kT0 + 4, {{"sandbox", int64_t{0}}}, "auto"), fingerprint);
  EXPECT_TRUE(bundle());
  platform::Store::setShared(nullptr);

  auto bundles = queued();
  ASSERT_EQ(bundles.size(), 1u);
  auto events = bundles[0]->events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(intParam(*events[0], "quantity"), 1);
  EXPECT_EQ(intParam(*events[0], "price"), 1990000) << "decimal, not the double's 1989999";
  EXPECT_EQ(intParam(*events[0], "value"), 2010000) << "2.01 x 1e6 in doubles truncates to 2009999";
  EXPECT_DOUBLE_EQ(param(*events[1], "quantity")->doubleValue(), 2.5);
  EXPECT_EQ(intParam(*events[1], "price"), std::numeric_limits<int64_t>::max()) << "saturates";
  EXPECT_EQ(intParam(*events[1], "value"), 0);
  EXPECT_EQ(intParam(*events[2], "quantity"), 1) << "not a number";
  EXPECT_EQ(param(*events[2], "price")->stringValue(), "1.99") << "only numbers become micros";
  EXPECT_EQ(intParam(*events[2], "value"), 3000000);
  EXPECT_EQ(intParam(*events[0], "sandbox"), std::nullopt) << "the app's own purchase";
  EXPECT_EQ(intParam(*events[3], "sandbox"), 1);
  EXPECT_EQ(intParam(*events[4], "sandbox"), 0);
}

class DailyLimitsTest : public BundlingTest {
 protected:
  void storeRealtime(const std::string& name, double timestamp, int64_t fingerprint, const std::string& origin = "app",
                     const platform::Dictionary& parameters = {}) {
    auto made = event(name, timestamp, parameters, origin);
    made->setRealtime(true);
    store(made, fingerprint);
  }
  GWLDailyCounts counts() {
    return onWorkerQueue([&] { return *database()->dailyCounts(); });
  }
  static std::vector<bool> realtimeMarks(const GWLPBMeasurementBundle& bundle) {
    std::vector<bool> marks;
    for (const auto& event : bundle.events()) marks.push_back(intParam(*event, "_r") == 1);
    return marks;
  }
};

TEST_F(DailyLimitsTest, TheEleventhRealtimeEventOfADayLosesItsMarkWhileExemptNamesKeepTheirs) {
  const int64_t fingerprint = storeMetadata();
  for (int i = 0; i < 11; ++i) storeRealtime("rt", kT0, fingerprint);
  storeRealtime("_f", kT0, fingerprint);
  storeRealtime("_fx", kT0, fingerprint);
  storeRealtime("_iap", kT0, fingerprint, "auto");
  storeRealtime("_dcu", kT0, fingerprint);
  storeRealtime("_dcu", kT0, fingerprint);
  store("plain", kT0, fingerprint);
  EXPECT_TRUE(bundle());

  EXPECT_TRUE(printed(23104));

  auto bundles = queued();
  ASSERT_EQ(bundles.size(), 1u);
  std::vector<bool> expected(10, true);
  expected.insert(expected.end(), {false, true, true, true, true, false, false});
  EXPECT_EQ(realtimeMarks(*bundles[0]), expected);
  EXPECT_EQ(counts().realtimeCount(), 10) << "exempt names are not counted";
  EXPECT_EQ(counts().dcuRealtimeCount(), 1);
  EXPECT_TRUE(onWorkerQueue([&] { return *database()->containsRealtimeBundlesWithError(); }));

  // Debug mode limits nothing.
  monitor_->setSVTPDebugModeEnabled(true);
  EXPECT_EQ(storeMetadata(), fingerprint);
  storeRealtime("rt", kT0 + 1, fingerprint);
  storeRealtime("_dcu", kT0 + 1, fingerprint);
  EXPECT_TRUE(bundle());
  monitor_->setSVTPDebugModeEnabled(false);
  EXPECT_EQ(realtimeMarks(*queued()[1]), (std::vector<bool>{true, true}));
  EXPECT_EQ(counts().realtimeCount(), 10);
}

TEST_F(DailyLimitsTest, APublicConversionCountsOnceForTheDayUntilTheLimit) {
  configure({{kGWLSettingMaxConversionsPerDay, "1"}}, {{"signup", std::nullopt, false, true}});
  onWorker([&] {
    const int32_t today = database()->currentDayIndex();
    ASSERT_TRUE(database()->updateDailyCounts(GWLDailyCounts(today, 0, 5, 5, 0, 0, 0)));
  });
  const int64_t fingerprint = storeMetadata();
  const platform::Dictionary money{{"value", 5.0}, {"currency", "USD"}};
  store("signup", kT0, fingerprint, money);
  store("signup", kT0 + 1, fingerprint, money);
  const GWLDailyCounts before = counts();
  EXPECT_TRUE(bundle());
  EXPECT_TRUE(printed(23102));

  const GWLDailyCounts after = counts();
  EXPECT_EQ(after.conversionsCount(), 1);
  EXPECT_EQ(before.allEventsCount(), 5);
  EXPECT_EQ(after.allEventsCount(), 5);
  auto events = queued()[0]->events();
  EXPECT_EQ(intParam(*events[0], "_c"), 1);
  EXPECT_EQ(intParam(*events[1], "_c"), std::nullopt) << "over the limit: no longer a conversion";
  EXPECT_EQ(intParam(*events[0], "_r"), 1) << "a conversion is real-time within the real-time limit";
}

TEST_F(BundlingTest, BlockedEventsAreRejectedAndAPassWithNothingLeftDeletesTheRun) {
  configure({{kGWLSettingRedundantEngagementRemovalEnabled, "1"}},
            {{"blocked", std::nullopt, true}, {"_iap", std::nullopt, true}});
  const int64_t fingerprint = storeMetadata();
  store("blocked", kT0, fingerprint);
  store("in_app_purchase", kT0, fingerprint, {{"value", 1.0}, {"currency", "USD"}});
  store("_e", kT0, fingerprint, {{"_fr", int64_t{1}}, {"_et", int64_t{10}}});
  EXPECT_FALSE(bundle()) << "all rejected: the run goes, no bundle";
  EXPECT_EQ(rawEventCount(), 0);
  EXPECT_TRUE(queued().empty());
  auto printedNow = printedCodes();
  EXPECT_EQ(std::count(printedNow.begin(), printedNow.end(), 23099), 2);
  EXPECT_EQ(std::count(printedNow.begin(), printedNow.end(), 23100), 1);
}

TEST_F(BundlingTest, AFirstOpensEngagementLogTimeLeavesItsParameters) {
  const int64_t fingerprint = storeMetadata();
  store("_f", kT0, fingerprint, {{"_elt", int64_t{1767600000123}}, {"_fot", int64_t{1}}});
  store("other", kT0, fingerprint, {{"_elt", int64_t{5}}});
  EXPECT_TRUE(bundle());
  auto events = queued()[0]->events();
  EXPECT_EQ(events[0]->eltValue(), 1767600000123);
  EXPECT_EQ(param(*events[0], "_elt"), nullptr);
  EXPECT_NE(param(*events[0], "_fot"), nullptr);
  EXPECT_FALSE(events[1]->hasEltValue());
  EXPECT_EQ(intParam(*events[1], "_elt"), 5);
}

}  // namespace
}  // namespace measurement_test
