// One bundling pass as a whole: consent transitions, engagement, what a failed
// pass leaves, damaged rows, and the wire form of the queued bundle.
#include <gtest/gtest.h>

#include <set>

#include "BundlingTestSupport.h"
#include "WireTagReader.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementInfo.h"
#include "analytics/wire/GWLPBOnDeviceMeasurementValue.h"
#include "platform/compression/Gzip.h"

namespace measurement_test {
namespace {

std::shared_ptr<GWLPBUserAttribute> userAttribute(const std::string& name, int64_t value) {
  auto attribute = GWLPBUserAttribute::initWithMessageInfo();
  attribute->setName(name);
  attribute->setIntValue(value);
  attribute->setSetTimestamp(1000);
  return attribute;
}

std::function<void(GWLPBMeasurementBundle&)> withSignals(const std::string& signals) {
  return [signals](GWLPBMeasurementBundle& metadata) { metadata.setConsentSignals(signals); };
}

TEST_F(BundlingTest, AnalyticsStorageTurningDeniedSnapshotsTheAggregatesAndTurningGrantedRestoresThem) {
  store("lvl", kT0, storeMetadata(withSignals("G111")));
  EXPECT_TRUE(bundle());
  EXPECT_EQ(settings_->previousBundledConsentSignals(), "G111");

  store("lvl", kT0 + 1, storeMetadata(withSignals("G110")));
  EXPECT_TRUE(bundle());
  EXPECT_EQ(settings_->previousBundledConsentSignals(), "G110");
  EXPECT_EQ(aggregates("lvl")->lifetimeCount(), 2);
  auto snapshot = onWorkerQueue([&] { return database()->eventAggregatesSnapshotWithName("lvl"); });
  ASSERT_NE(snapshot, nullptr);
  EXPECT_EQ(snapshot->lifetimeCount(), 1) << "taken before the denied bundle counted";

  store("lvl", kT0 + 2, storeMetadata(withSignals("G11d")));  // still denied: nothing moves
  EXPECT_TRUE(bundle());
  EXPECT_EQ(aggregates("lvl")->lifetimeCount(), 3);

  store("lvl", kT0 + 3, storeMetadata(withSignals("G111")));
  EXPECT_TRUE(bundle());
  EXPECT_EQ(aggregates("lvl")->lifetimeCount(), 2) << "restored to the granted count, then this event";
}

TEST_F(BundlingTest, WhileAnalyticsStorageIsDeniedBundlesCarryNoAudienceResultsAndNoStitchingToken) {
  configure({{kGWLSettingSessionStitchingTokenFeatureEnabled, "1"}});
  auto withToken = [](GWLPBMeasurementBundle& metadata) { metadata.setSessionStitchingToken("token"); };
  store("lvl", kT0, storeMetadata(withToken));
  EXPECT_TRUE(bundle());
  GWLConsentSettingsUtil::updateSettings({{"analytics_storage", "denied"}}, kGWLConsentSource1P);
  store("lvl", kT0 + 1, storeMetadata(withToken));
  EXPECT_TRUE(bundle());

  auto bundles = queued();
  ASSERT_EQ(bundles.size(), 2u);
  EXPECT_EQ(bundles[0]->audienceEvaluationResultsCount(), 1u);
  EXPECT_EQ(bundles[0]->sessionStitchingToken(), "token");
  EXPECT_EQ(bundles[1]->audienceEvaluationResultsCount(), 0u);
  EXPECT_FALSE(bundles[1]->hasSessionStitchingToken());
  EXPECT_EQ(audience().eventNames, std::vector<std::string>{"lvl"}) << "no event filters while denied";
}

TEST_F(BundlingTest, WithAdStorageDeniedPSMPropertiesAndOnDeviceInfoGoUnlessAPSMMeasurementEventIsInTheBundle) {
  GWLConsentSettingsUtil::updateSettings({{"ad_storage", "denied"}}, kGWLConsentSource1P);
  auto withPSM = [](GWLPBMeasurementBundle& metadata) {
    std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{userAttribute("_psm_h", 1), userAttribute("kept", 2)};
    metadata.setUserAttributes(attributes);
    auto info = GWLPBOnDeviceMeasurementInfo::initWithMessageInfo();
    info->setOdm1Value(*GWLPBOnDeviceMeasurementValue::initWithMessageInfo());
    metadata.setOnDeviceMeasurementInfo(*info);
  };
  store("lvl", kT0, storeMetadata(withPSM));
  EXPECT_TRUE(bundle());
  store("_fx", kT0 + 1, storeMetadata(withPSM), {{"_fxs", "psm_match"}});
  EXPECT_TRUE(bundle());

  auto bundles = queued();
  ASSERT_EQ(bundles.size(), 2u);
  EXPECT_EQ(property(*bundles[0], "_psm_h"), nullptr);
  EXPECT_NE(property(*bundles[0], "kept"), nullptr);
  EXPECT_FALSE(bundles[0]->hasOnDeviceMeasurementInfo());
  EXPECT_NE(property(*bundles[1], "_psm_h"), nullptr);
  EXPECT_TRUE(bundles[1]->hasOnDeviceMeasurementInfo());
}

TEST_F(BundlingTest, EngagementTimeGoesIntoLifetimeAndSessionEngagementAndASessionStartResetsTheSession) {
  int64_t fingerprint = storeMetadata();
  store("_e", kT0, fingerprint, {{"_et", int64_t{100}}});
  store("_e", kT0, fingerprint, {{"_et", int64_t{50}}});
  store("_e", kT0, fingerprint, {{"_et", int64_t{70}}, {"_fr", int64_t{1}}});  // foreground time counted elsewhere
  EXPECT_TRUE(bundle());
  auto first = queued()[0];
  EXPECT_EQ(property(*first, "_lte")->intValue(), 150);
  EXPECT_EQ(property(*first, "_se")->intValue(), 150);

  fingerprint = storeMetadata([](GWLPBMeasurementBundle& metadata) {
    std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{userAttribute("_se", 150)};
    metadata.setUserAttributes(attributes);
  });
  store("_s", kT0 + 1, fingerprint);
  store("_e", kT0 + 1, fingerprint, {{"_et", int64_t{30}}});
  EXPECT_TRUE(bundle());
  auto second = queued()[1];
  EXPECT_EQ(property(*second, "_lte")->intValue(), 180);
  EXPECT_EQ(property(*second, "_se")->intValue(), 30) << "the new session's engagement only";
  EXPECT_EQ(audience().sessionClears, 1);
  EXPECT_EQ(aggregates("_e")->currentSessionCount(), 1) << "session counts start again";
  EXPECT_EQ(aggregates("_e")->lifetimeCount(), 4);
  auto stored = onWorkerQueue([&] { return database()->userAttributeWithName("_se"); });
  EXPECT_EQ(stored->value().int64Value(), 30);

  // Sums saturate.
  fingerprint = storeMetadata();
  store("_e", kT0 + 2, fingerprint, {{"_et", std::numeric_limits<int64_t>::max()}});
  EXPECT_TRUE(bundle());
  EXPECT_EQ(property(*queued()[2], "_lte")->intValue(), std::numeric_limits<int64_t>::max());
}

TEST_F(BundlingTest, AFailedPassLeavesTheStoreAndTheSettingsAsTheyWere) {
  engine->setShouldUpdateNPAUserProperty(true);
  // A bundle ending at time 0 is refused by the queue.
  const int64_t fingerprint = storeMetadata(withSignals("G110"));
  auto realtime = event("rt", 0, {{"_et", int64_t{5}}});
  realtime->setRealtime(true);
  store(realtime, fingerprint);
  const GWLDailyCounts countsBefore = onWorkerQueue([&] { return *database()->dailyCounts(); });
  const int32_t indexBefore = onWorkerQueue([&] { return database()->queryAppMetadata()->lastBundleIndex(); });

  EXPECT_FALSE(bundle());
  EXPECT_TRUE(printed(23115));
  EXPECT_EQ(rawEventCount(), 1);
  EXPECT_EQ(aggregates("rt"), nullptr);
  const GWLDailyCounts countsAfter = onWorkerQueue([&] { return *database()->dailyCounts(); });
  EXPECT_EQ(countsAfter.realtimeCount(), countsBefore.realtimeCount());
  EXPECT_EQ(countsAfter.day(), countsBefore.day());
  EXPECT_EQ(onWorkerQueue([&] { return database()->queryAppMetadata()->lastBundleIndex(); }), indexBefore);
  EXPECT_EQ(onWorkerQueue([&] { return database()->userAttributeWithName("_lte"); }), nullptr);
  EXPECT_EQ(settings_->previousBundledConsentSignals(), std::nullopt) << "not written by a rolled-back pass";
  EXPECT_TRUE(engine->shouldUpdateNPAUserProperty()) << "the refresh is still due";
  EXPECT_TRUE(queued().empty());

  // Once the failing row is gone the next pass commits, and with it the settings.
  onWorker([&] { ASSERT_TRUE(database()->deleteRawEventsWithMaxRowID(std::numeric_limits<int64_t>::max())); });
  store("lvl", kT0, storeMetadata(withSignals("G110")));
  EXPECT_TRUE(bundle());
  EXPECT_EQ(settings_->previousBundledConsentSignals(), "G110");
  EXPECT_FALSE(engine->shouldUpdateNPAUserProperty());
  EXPECT_EQ(engine->steps->take().back(), "npa");
}

TEST_F(BundlingTest, AnUnreadableRowIsGivenUpAndWhatCameAfterItIsBundled) {
  const int64_t fingerprint = storeMetadata();
  for (const char* name : {"before", "flipped", "after"}) store(name, kT0, fingerprint);
  onWorker([&] {
    auto* store = database()->sqliteStore();
    auto rows = store->recordsForQuery("SELECT rowid, data FROM raw_events WHERE name = 'flipped'", {});
    ASSERT_TRUE(rows && rows->size() == 1);
    platform::Bytes data = *rows->front().at("data").bytesValue();
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(~byte);
    ASSERT_TRUE(store->updateRecord({{"data", data}}, "raw_events", "rowid", rows->front().at("rowid")));
  });
  EXPECT_EQ(bundleAll(), 2);
  EXPECT_EQ(groups(queued()), (std::vector<std::vector<std::string>>{{"before"}, {"after"}}));
  EXPECT_TRUE(printed(23109));
  EXPECT_EQ(rawEventCount(), 0);

  // Metadata that does not decode: its events go, later ones are bundled.
  const int64_t damaged = storeMetadata([](GWLPBMeasurementBundle& metadata) { metadata.setOsVersion("damaged"); });
  store("lost", kT0 + 1, damaged);
  store("kept", kT0 + 1, storeMetadata());
  onWorker([&] {
    ASSERT_TRUE(database()->sqliteStore()->updateRecord({{"metadata", platform::Bytes{0xff, 0xff, 0xff}}},
                                                        "raw_events_metadata", "metadata_fingerprint",
                                                        platform::Object(damaged)));
  });
  EXPECT_EQ(bundleAll(), 1);
  EXPECT_EQ(names(*queued()[2]), std::vector<std::string>{"kept"});
  EXPECT_TRUE(printed(23110));
  EXPECT_EQ(rawEventCount(), 0);
}

// ---------------------------------------------------------------------------
// The wire form, read without the codec.

TEST_F(BundlingTest, TheQueuedBundleCarriesTheFieldsBundlingSets) {
  configure({{kGWLSettingSessionStitchingTokenFeatureEnabled, "1"}});
  auto campaign = GWLPBAdCampaignInfo::initWithMessageInfo();
  campaign->setHbraid("braid");
  settings_->setAdCampaignInfoBuffer(platform::Object(*campaign->protoBuffer()));
  auto withToken = [](GWLPBMeasurementBundle& metadata) { metadata.setSessionStitchingToken("token"); };
  store("first", kT0 - 30, storeMetadata(withToken));
  EXPECT_TRUE(bundle());
  const int64_t fingerprint = storeMetadata(withToken);
  store("second", kT0, fingerprint);
  store("third", kT0 + 1.5, fingerprint);
  EXPECT_TRUE(bundle());

  auto rows = onWorkerQueue(
      [&] { return *database()->sqliteStore()->recordsForQuery("SELECT data FROM queue ORDER BY rowid", {}); });
  ASSERT_EQ(rows.size(), 2u);
  platform::Error error;
  auto bytes = platform::hvu_dataByInflatingGzippedData(*rows[1].at("data").bytesValue(), &error);
  ASSERT_TRUE(bytes.has_value()) << error.description;
  auto fields = topLevelFields(*bytes);

  const uint64_t t0 = static_cast<uint64_t>(kT0) * 1000;
  EXPECT_EQ(fields[2].size(), 2u) << "two events";
  EXPECT_EQ(fields[5], std::vector<uint64_t>{t0});
  EXPECT_EQ(fields[6], std::vector<uint64_t>{t0 + 1500});
  EXPECT_EQ(fields[26], std::vector<uint64_t>{t0 - 30000}) << "the previous bundle's start";
  EXPECT_EQ(fields[7], std::vector<uint64_t>{t0 - 30000}) << "the previous bundle's end";
  EXPECT_EQ(fields[23], std::vector<uint64_t>{3}) << "events bundled so far";
  EXPECT_EQ(fields[77], std::vector<uint64_t>{2}) << "the second delivery";
  EXPECT_EQ(fields[35], std::vector<uint64_t>{3}) << "the configuration's version";
  EXPECT_FALSE(fields[45].empty()) << "experiment IDs";
  EXPECT_EQ(fields[63].size(), 1u) << "the stitching token";
  EXPECT_EQ(fields[79], std::vector<uint64_t>{campaign->protoBuffer()->size()}) << "the campaign";
  EXPECT_EQ(fields[14].size(), 1u) << "the app ID";
}

}  // namespace
}  // namespace measurement_test

namespace measurement_test {
namespace {

TEST_F(BundlingTest, EventsTheWritePipelineStoredAreBundledWithTheirMetadata) {
  onWorker([&] {
    engine->writeFilteredEventOnWorkerQueue(event("level_up", kT0, {{"level", int64_t{3}}}));
    engine->writeFilteredEventOnWorkerQueue(event("level_up", kT0 + 1, {{"level", int64_t{4}}}));
  });
  ASSERT_EQ(rawEventCount(), 2);
  EXPECT_EQ(bundleAll(), 1);
  auto bundles = queued();
  ASSERT_EQ(bundles.size(), 1u);
  EXPECT_EQ(names(*bundles[0]), (std::vector<std::string>{"level_up", "level_up"}));
  const std::string identityAppID = identity_->appID().value_or("");
  EXPECT_EQ(bundles[0]->appId(), identityAppID.empty() ? environment_->bundleIdentifier() : identityAppID)
      << "filled in at bundling";
  EXPECT_EQ(intParam(*bundles[0]->events()[1], "level"), 4);
  EXPECT_EQ(bundles[0]->events()[1]->previousTimestamp(), static_cast<int64_t>(kT0) * 1000)
      << "the aggregates' last fire time";
  EXPECT_EQ(rawEventCount(), 0);
}

}  // namespace
}  // namespace measurement_test
