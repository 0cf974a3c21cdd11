// What one upload attempt puts in a batch: the device filter, the
// compatibility cut, consent and data controls of the moment, and the fields
// written at upload time, read back from the wire.
#include <gtest/gtest.h>

#include "UploadTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/wire/GWLPBSvtpSetting.h"
#include "platform/env/AppEnvironment.h"

namespace measurement_test {
namespace {

using Change = std::function<void(GWLPBMeasurementBundle&)>;

std::shared_ptr<GWLPBUserAttribute> npa(int64_t value) {
  auto attribute = GWLPBUserAttribute::initWithMessageInfo();
  attribute->setName("_npa");
  attribute->setIntValue(value);
  return attribute;
}

// A batch ends at the first bundle that differs from the first one in app,
// device or consent; the rest wait for the next attempt.
TEST_F(UploadTest, ABatchEndsWhereTheAppDeviceOrConsentDiffers) {
  struct Case {
    const char* name;
    Change first;
    Change second;
    size_t sent;
  };
  const Change none = [](GWLPBMeasurementBundle&) {};
  const std::vector<Case> cases = {
      {"same", none, none, 3},
      {"app ID", none, [](GWLPBMeasurementBundle& b) { b.setAppId("1:999:ios:other"); }, 1},
      {"advertising ID", [](GWLPBMeasurementBundle& b) { b.setResettableDeviceId("idfa-1"); },
       [](GWLPBMeasurementBundle& b) { b.setResettableDeviceId("idfa-2"); }, 1},
      {"signals", [](GWLPBMeasurementBundle& b) { b.setConsentSignals("G111"); },
       [](GWLPBMeasurementBundle& b) { b.setConsentSignals("G1-1"); }, 1},
      {"diagnostics", [](GWLPBMeasurementBundle& b) { b.setConsentDiagnostics("17777"); },
       [](GWLPBMeasurementBundle& b) { b.setConsentDiagnostics("18888"); }, 1},
      {"platform services", [](GWLPBMeasurementBundle& b) { b.setCorePlatformServices("ab"); },
       [](GWLPBMeasurementBundle& b) { b.setCorePlatformServices("abc"); }, 1},
      {"DMA flag", [](GWLPBMeasurementBundle& b) { b.setDmaRegion(true); },
       [](GWLPBMeasurementBundle& b) { b.setDmaRegion(false); }, 1},
      {"_npa", none, [](GWLPBMeasurementBundle& b) { b.setUserAttributes(std::vector{npa(1)}); }, 1},
      {"_npa 0 equals none", none, [](GWLPBMeasurementBundle& b) { b.setUserAttributes(std::vector{npa(0)}); }, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto previous = queuedIDs();
    onWorkerQueue([&] { return database()->deleteBundlesWithRowIDs(previous); });
    const auto consentOf = [](const Change& change) {
      return [change](GWLPBMeasurementBundle& b) {
        b.setConsentSignals("G111");
        b.setConsentDiagnostics("17777");
        b.setCorePlatformServices("ab");
        b.setDmaRegion(true);
        change(b);
      };
    };
    enqueue(makeBundle(consentOf(c.first)));
    enqueue(makeBundle(consentOf(c.second)));
    enqueue(makeBundle(consentOf(c.first)));
    auto batch = prepare();
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->bundleIDs.size(), c.sent);
    EXPECT_EQ(sentBundles(batch->body).size(), c.sent);
  }
}

TEST_F(UploadTest, TheDeviceFilterTakesTheLeadingRunOfOneDevice) {
  auto withIDs = [this](std::optional<std::string> idfa, std::optional<std::string> idfv) {
    auto bundle = makeBundle([&](GWLPBMeasurementBundle& b) {
      if (idfa) b.setResettableDeviceId(*idfa);
      if (idfv) b.setVendorDeviceId(*idfv);
    });
    return GWLQueuedBundle{bundle, 0};
  };
  std::vector<GWLQueuedBundle> bundles = {withIDs(std::nullopt, std::nullopt), withIDs("a", std::nullopt),
                                          withIDs(std::nullopt, "v"), withIDs("b", std::nullopt),
                                          withIDs("a", std::nullopt)};
  auto count = [&](const std::string& idfa, const std::string& idfv) {
    return onWorkerQueue([&] { return engine->filteredBundlesWithCompatibleAppID(kAppID, idfa, idfv, bundles); })
        .size();
  };
  EXPECT_EQ(count("a", ""), 3u) << "no ID, the same ID and a vendor ID pass; another advertising ID ends it";
  EXPECT_EQ(count("", "v"), 5u) << "the vendor filter ignores advertising IDs";
  EXPECT_EQ(count("", ""), 5u);
  EXPECT_EQ(onWorkerQueue([&] { return engine->filteredBundlesWithCompatibleAppID("other", "", "", bundles); })
                .size(),
            0u);
  EXPECT_EQ(count("a", "v"), 0u);
  EXPECT_TRUE(sampled("must not specify both resettableDeviceID"));
}

// A first open makes the current consent overwrite the stored consent of its
// bundle and of every later one; earlier bundles keep theirs.
TEST_F(UploadTest, AFirstOpenRefreshesConsentFromItsBundleOn) {
  const Change storedDenial = [](GWLPBMeasurementBundle& b) { b.setConsentSignals("G100"); };
  enqueue(makeBundle(storedDenial));
  enqueue(makeBundle(storedDenial, "_f"));
  enqueue(makeBundle(storedDenial));
  std::vector<GWLQueuedBundle> seen;
  auto batch = prepare(&seen);
  ASSERT_TRUE(batch);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].bundle->consentSignals(), "G100");
  EXPECT_EQ(seen[1].bundle->consentSignals(), "G111");
  EXPECT_EQ(seen[2].bundle->consentSignals(), "G111");
  EXPECT_EQ(batch->bundleIDs.size(), 1u) << "the refreshed bundles no longer match the first";
}

TEST_F(UploadTest, DeniedAnalyticsStorageLeavesNoIdentifiersOnTheWire) {
  GWLConsentSettingsUtil::setConsentSettings(
      platform::Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "denied"}});
  enqueue(makeBundle([](GWLPBMeasurementBundle& b) {
    b.setConsentSignals("G111");
    b.setAppInstanceId("0123456789ABCDEF0123456789ABCDEF");
    b.setVendorDeviceId("idfv");
    b.setSessionStitchingToken("token");
    auto result = GWLPBAudienceLeafFilterResult::initWithMessageInfo();
    result->setAudienceId(3);
    b.setAudienceEvaluationResults(std::vector{result});
  }));
  auto batch = prepare();
  ASSERT_TRUE(batch);
  const auto bundles = sentBundles(batch->body);
  ASSERT_EQ(bundles.size(), 1u);
  EXPECT_EQ(text(bundles[0], tag::kConsentSignals), "G110");
  for (uint32_t denied : {tag::kAppInstanceID, tag::kVendorDeviceID, tag::kSessionStitchingToken,
                          tag::kAudienceResults}) {
    EXPECT_FALSE(has(bundles[0], denied)) << "tag " << denied;
  }
}

TEST_F(UploadTest, UploadTimeFieldsDataControlsAndChecksumAreOnTheWire) {
  configureDataControls({"os_version", "app_instance_id"}, {{kGWLSettingChecksumEnabled, "1"}});
  enqueue(makeBundle([](GWLPBMeasurementBundle& b) {
    b.setOsVersion("17.4.1");
    b.setAppInstanceId("0123456789ABCDEF0123456789ABCDEF");
  }));
  enqueue(makeBundle({}, "e", kT0 + 5));
  clock_->setNow(kT0 + 60.1234);
  auto batch = prepare(nullptr, std::string("eu"));
  ASSERT_TRUE(batch);
  const auto bundles = sentBundles(batch->body);
  ASSERT_EQ(bundles.size(), 2u);
  auto fields = topLevelFields(bundles[0]);
  EXPECT_EQ(fields[tag::kUploadTimestamp], std::vector<uint64_t>{static_cast<uint64_t>((kT0 + 60.1234) * 1000)});
  EXPECT_EQ(fields[tag::kUploadLibraryVersion],
            std::vector<uint64_t>{static_cast<uint64_t>(GWLIdentity::gaugewellLibraryVersion())});
  EXPECT_EQ(text(bundles[0], tag::kOSVersion), "17");
  EXPECT_FALSE(has(bundles[0], tag::kAppInstanceID));
  EXPECT_TRUE(has(bundles[0], tag::kEphemeralAppInstanceID));
  EXPECT_EQ(lengthDelimited(bundles[0], tag::kRedactedFields).size(), 2u);
  EXPECT_EQ(fields[tag::kChecksum].size(), 1u);
  EXPECT_EQ(batch->lastEventEndTimestampMillis, static_cast<int64_t>((kT0 + 5) * 1000));
  EXPECT_EQ(text(batch->body, tag::kBatchSubdomain), "eu");
  // The checksum is that of the bundle as encoded before it was set.
  auto decoded = GWLPBMeasurementBundle::initWithBuffer(bundles[0]);
  ASSERT_TRUE(decoded);
  const int64_t checksum = decoded->checksum();
  NANOClearField(decoded, GWLPBMeasurementBundle::Field::checksum);
  EXPECT_EQ(checksum, static_cast<int64_t>(gwl_64LSBMD5(*decoded->protoBuffer())));
  // The queue keeps the bytes it had.
  EXPECT_EQ(readQueue().front().bundle->osVersion(), "17.4.1");
}

// A tagging server whose URL is not https gets nothing: the attempt counts as
// failed and the next one waits for the retry schedule, with the bundles kept.
TEST_F(UploadTest, ATaggingServerWithoutHTTPSIsRetriedOnTheScheduleAndSentNothing) {
  const auto previous = platform::AppEnvironment::shared();
  platform::AppEnvironment::setShared(environmentWith({{kGWLSVTPUploadEnabledInfoKey, true}}));
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setAppId(kAppID);
  auto svtp = GWLPBSvtpSetting::initWithMessageInfo();
  NANOSetString(svtp, GWLPBSvtpSetting::Field::upload_url, "http://tag.example.com/collect");
  NANOSetInt32(svtp, GWLPBSvtpSetting::Field::sample_percent, 100);
  NANOSetMessage(config, GWLPBMeasurementConfig::Field::svtp_setting, svtp);
  onWorker([&] { EXPECT_TRUE(engine->engineRemoteConfig()->updateMeasurementConfig(config)); });
  ASSERT_TRUE(onWorkerQueue([&] { return engine->engineRemoteConfig()->SVTPUploadEnabled(); }));
  enqueue(makeBundle());
  const auto queued = queuedIDs();
  settings_->setLastFailedUploadTimestamp(0);
  engine->realUploads = true;
  codes();

  onWorker([&] { engine->GWLMeasurement::uploadData(); });
  drain();
  const auto logged = codes();
  EXPECT_NE(std::find(logged.begin(), logged.end(), 23263), logged.end());
  EXPECT_FALSE(engine->isNetworkRequestPending());
  EXPECT_EQ(settings_->lastFailedUploadTimestamp(), clock_->now());
  EXPECT_EQ(queuedIDs(), queued);
  EXPECT_EQ(retryCounts(), std::vector<int32_t>{0}) << "nothing was sent, so nothing is a retry";
  const std::optional<double> next = engine->alarm()->scheduledTimestamp();
  ASSERT_TRUE(next);
  // The retry schedule: the retry interval after the newest data, not at once.
  EXPECT_DOUBLE_EQ(*next, onWorkerQueue([&] { return engine->nextUploadingTime(); }));
  EXPECT_GE(*next, kT0 + 1800);
  engine->realUploads = false;
  platform::AppEnvironment::setShared(previous);
}

}  // namespace
}  // namespace measurement_test
