// Upload tests: a started engine over a real database whose upload queue the
// test fills with bundles of its own, the consent of the moment granted, and
// the batch read back from its wire bytes with the independent tag reader.
#pragma once

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "BundlingTestSupport.h"
#include "WireTagReader.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/wire/GWLPBDataControl.h"

namespace measurement_test {

// Wire tags of the bundle fields the upload sets or removes.
namespace tag {
inline constexpr uint32_t kBatchBundles = 1;
inline constexpr uint32_t kBatchSubdomain = 8;
inline constexpr uint32_t kEvents = 2;
inline constexpr uint32_t kUploadTimestamp = 4;
inline constexpr uint32_t kOSVersion = 9;
inline constexpr uint32_t kAppID = 14;
inline constexpr uint32_t kUploadLibraryVersion = 18;
inline constexpr uint32_t kResettableDeviceID = 19;
inline constexpr uint32_t kAppInstanceID = 21;
inline constexpr uint32_t kVendorDeviceID = 27;
inline constexpr uint32_t kAudienceResults = 29;
inline constexpr uint32_t kRetryCount = 36;
inline constexpr uint32_t kChecksum = 47;
inline constexpr uint32_t kConsentSignals = 52;
inline constexpr uint32_t kSessionStitchingToken = 63;
inline constexpr uint32_t kRedactedFields = 64;
inline constexpr uint32_t kEphemeralAppInstanceID = 65;
}  // namespace tag

class UploadTest : public BundlingTest {
 protected:
  void SetUp() override {
    // The device's advertising identifier, read when the identity first refreshes.
    platformIdentity_->setIdentifier("idfa-current");
    BundlingTest::SetUp();
    GWLConsentSettingsUtil::setConsentSettings(
        platform::Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "granted"}});
    engine->network()->setReachabilityOverrideForTesting(true);
    monitor_->setVerboseLoggingEnabled(true);  // the upload's lines are mostly verbose
    codes();
  }

  // A bundle of this app with one event ending at `endSeconds` (kT0 when 0), then `change`.
  std::shared_ptr<GWLPBMeasurementBundle> makeBundle(const std::function<void(GWLPBMeasurementBundle&)>& change = {},
                                                     const std::string& eventName = "e", double endSeconds = 0) {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    bundle->setProtocolVersion(1);
    bundle->setPlatform("ios");
    bundle->setAppId(kAppID);
    const auto end = static_cast<int64_t>((endSeconds ? endSeconds : kT0) * 1000);
    bundle->setStartTimestamp(end);
    bundle->setEndTimestamp(end);
    auto event = GWLPBEvent::initWithMessageInfo();
    event->setName(eventName);
    event->setTimestamp(end);
    bundle->setEvents(std::vector<std::shared_ptr<GWLPBEvent>>{event});
    if (change) change(*bundle);
    return bundle;
  }
  void enqueue(const std::shared_ptr<GWLPBMeasurementBundle>& bundle) {
    EXPECT_TRUE(onWorkerQueue([&] { return database()->insertBundle(*bundle, false); }));
  }
  std::vector<GWLQueuedBundle> readQueue() {
    return onWorkerQueue([&] {
      return database()
          ->queryBundlesWithCountLimit(1000, std::numeric_limits<int32_t>::max())
          .value_or(std::vector<GWLQueuedBundle>{});
    });
  }
  std::vector<int64_t> queuedIDs() {
    std::vector<int64_t> ids;
    for (const auto& entry : readQueue()) ids.push_back(entry.rowID);
    return ids;
  }
  std::vector<int32_t> retryCounts() {
    std::vector<int32_t> counts;
    for (const auto& entry : readQueue()) counts.push_back(entry.bundle->retryCount());
    return counts;
  }

  // The batch one attempt would send from the queue as it stands; `queued`
  // (when given) receives the bundles as the attempt changed them.
  std::optional<GWLMeasurement::UploadBatch> prepare(std::vector<GWLQueuedBundle>* queued = nullptr,
                                                     const std::optional<std::string>& subdomain = std::nullopt) {
    auto entries = readQueue();
    auto batch = onWorkerQueue([&] { return engine->batchFromQueuedBundles(entries, subdomain); });
    if (queued) *queued = entries;
    return batch;
  }

  // The configuration in force with these data controls (and the settings).
  void configureDataControls(const std::vector<std::string>& names,
                             const std::map<std::string, std::string>& settings = {}) {
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    config->setAppId(kAppID);
    std::vector<std::shared_ptr<GWLPBDataControl>> controls;
    for (const auto& name : names) {
      auto control = GWLPBDataControl::initWithMessageInfo();
      control->setControlName(name);
      controls.push_back(control);
    }
    config->setDataControls(controls);
    onWorker([&] {
      EXPECT_TRUE(engine->engineRemoteConfig()->updateMeasurementConfig(config));
      engine->engineRemoteConfig()->replaceCachedValues(settings);
    });
  }

  // The wire bundles of a batch body.
  static std::vector<std::vector<uint8_t>> sentBundles(std::span<const uint8_t> body) {
    return lengthDelimited(body, tag::kBatchBundles);
  }
  // A string field of a wire bundle, or nullopt.
  static std::optional<std::string> text(const std::vector<uint8_t>& bundle, uint32_t fieldTag) {
    auto values = lengthDelimited(bundle, fieldTag);
    if (values.empty()) return std::nullopt;
    return std::string(values.front().begin(), values.front().end());
  }
  // Whether the last report that fed the health sample (levels 1, 2, 4, 5)
  // has this text (those reports are not printed).
  bool sampled(const std::string& text) { return lastSampledKey().find(text) != std::string::npos; }
  static bool has(const std::vector<uint8_t>& bundle, uint32_t fieldTag) {
    return topLevelFields(bundle).count(fieldTag) > 0;
  }
};

}  // namespace measurement_test
