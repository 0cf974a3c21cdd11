// The configuration fetch: its answers, the one transaction that stores and
// applies a new configuration, and the conditional request headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "UploadTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/wire/GWLPBAudience.h"

namespace measurement_test {
namespace {

std::vector<uint8_t> configBody(const std::string& appID, const std::string& blocked, size_t audiences = 0) {
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  config->setAppId(appID);
  auto entry = GWLPBEventConfig::initWithMessageInfo();
  entry->setEventName(blocked);
  entry->setBlocklisted(true);
  config->setEventConfig(std::vector{entry});
  std::vector<std::shared_ptr<GWLPBAudience>> definitions;
  for (size_t i = 0; i < audiences; ++i) {
    definitions.push_back(GWLPBAudience::initWithMessageInfo());
    definitions.back()->setAudienceId(static_cast<int32_t>(i + 1));
  }
  config->setAudiences(definitions);
  return *config->protoBuffer();
}

std::shared_ptr<const platform::HTTPURLResponse> answer(int status, const std::string& etag = "",
                                                        const std::string& lastModified = "") {
  auto response = std::make_shared<platform::HTTPURLResponse>();
  response->statusCode = status;
  if (!etag.empty()) response->headerFields.emplace_back("ETag", etag);
  if (!lastModified.empty()) response->headerFields.emplace_back("Last-Modified", lastModified);
  return response;
}

class ConfigFetchTest : public UploadTest {
 protected:
  void SetUp() override {
    UploadTest::SetUp();
    identity_->setAppIDFromQRX(std::string(kAppID));
    engine->steps->take();
  }
  void receive(std::shared_ptr<const platform::HTTPURLResponse> response, const std::vector<uint8_t>& body = {}) {
    onWorker([&] { engine->networkRemoteConfigFetchCompletionHandler(response, body, std::nullopt); });
    drain();
  }
  bool blocks(const std::string& name) { return engine->engineRemoteConfig()->isEventBlocklisted(name); }
  std::shared_ptr<GWLPBMeasurementConfig> stored() {
    return onWorkerQueue([&] { return database()->queryMeasurementConfigWithError(); });
  }
};

TEST_F(ConfigFetchTest, ANewConfigurationIsStoredAppliedAndItsValidatorsKept) {
  settings_->setLastFailedUploadTimestamp(kT0 - 10);
  settings_->setLastBackoffTimestamp(kT0 - 20);
  receive(answer(200, "\"v1\"", "Mon, 05 Jan 2026 10:00:00 GMT"), configBody(kAppID, "x", 2));
  EXPECT_TRUE(blocks("x"));
  EXPECT_EQ(audience().audienceUpdates, std::vector<size_t>{2});
  ASSERT_TRUE(stored());
  EXPECT_EQ(stored()->audiencesCount(), 0u) << "the audiences go to the evaluator, not into the stored configuration";
  EXPECT_EQ(settings_->configServerETag(), "\"v1\"");
  EXPECT_EQ(settings_->configServerLastModifiedString(), "Mon, 05 Jan 2026 10:00:00 GMT");
  EXPECT_EQ(settings_->configQRXVersion(), GWLIdentity::gaugewellLibraryVersion());
  EXPECT_EQ(settings_->lastFailedUploadTimestamp(), 0);
  EXPECT_EQ(settings_->lastBackoffTimestamp(), 0);
  const auto steps = engine->steps->take();
  EXPECT_NE(std::find(steps.begin(), steps.end(), "updateSchedule"), steps.end()) << "nothing to send: the schedule";
}

// A refused configuration rolls back: the configuration in force, the stored
// one and the validators stay as they were.
TEST_F(ConfigFetchTest, ARefusedConfigurationChangesNothing) {
  receive(answer(200, "\"v1\""), configBody(kAppID, "x"));
  ASSERT_TRUE(blocks("x"));
  struct Case {
    const char* name;
    std::vector<uint8_t> body;
    const char* sampledText;  // none: the evaluator refuses the audiences
    bool audiencesFail = false;
  };
  const std::vector<Case> cases = {
      {"foreign app ID", configBody("1:999:ios:other", "y"), "does not have valid Halcyra App ID"},
      {"does not decode", {0xff, 0xff, 0xff, 0x01}, "Configuration data is invalid."},
      {"audiences refused", configBody(kAppID, "y", 1), nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    audience().audienceUpdatesSucceed = !c.audiencesFail;
    if (!c.audiencesFail) {
      // Refused before anything is stored (the transaction's own report follows it).
      EXPECT_FALSE(onWorkerQueue([&] { return engine->applyFetchedConfig(c.body); }));
      EXPECT_TRUE(sampled(c.sampledText));
    }
    audience().audienceUpdates.clear();
    receive(answer(200, "\"v2\""), c.body);
    EXPECT_EQ(audience().audienceUpdates.size(), c.audiencesFail ? 1u : 0u);
    EXPECT_TRUE(blocks("x"));
    EXPECT_FALSE(blocks("y"));
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->eventConfigCount(), 1u);
    EXPECT_EQ(stored()->eventConfig().front()->eventName(), "x");
    EXPECT_EQ(settings_->configServerETag(), "\"v1\"");
  }
}

// 304, 404 and an empty 200 are answers: the failure times clear and the
// fetch time moves, but nothing reaches the audiences and the validators stay.
TEST_F(ConfigFetchTest, UnchangedAnswersKeepTheConfiguration) {
  receive(answer(200, "\"v1\""), configBody(kAppID, "x"));
  for (int status : {304, 404, 200}) {
    SCOPED_TRACE(status);
    audience().audienceUpdates.clear();
    settings_->setLastFailedUploadTimestamp(kT0 - 10);
    settings_->setLastBackoffTimestamp(kT0 - 20);
    clock_->advance(100);
    receive(answer(status, "\"v9\""));
    EXPECT_EQ(settings_->lastFailedUploadTimestamp(), 0);
    EXPECT_EQ(settings_->lastBackoffTimestamp(), 0);
    EXPECT_TRUE(audience().audienceUpdates.empty());
    EXPECT_TRUE(blocks("x"));
    EXPECT_EQ(settings_->configServerETag(), "\"v1\"");
    EXPECT_EQ(onWorkerQueue([&] { return database()->lastRemoteConfigUpdateTimestamp(); }), clock_->now());
  }
}

TEST_F(ConfigFetchTest, FailedFetchesShareTheUploadFailureTimes) {
  for (int status : {500, 503, 429, 0}) {
    SCOPED_TRACE(status);
    settings_->setLastBackoffTimestamp(0);
    clock_->advance(10);
    receive(status ? answer(status) : nullptr);
    EXPECT_EQ(settings_->lastFailedUploadTimestamp(), clock_->now());
    EXPECT_EQ(settings_->lastBackoffTimestamp(), status == 503 || status == 429 ? clock_->now() : 0);
  }
  const auto steps = engine->steps->take();
  EXPECT_EQ(std::count(steps.begin(), steps.end(), "updateSchedule"), 4);
}

// A server validator that would break a header line is not stored.
TEST_F(ConfigFetchTest, ValidatorsThatWouldBreakAHeaderAreDropped) {
  receive(answer(200, "\"v1\"\r\nX-Injected: 1", "Mon, 05 Jan\n2026"), configBody(kAppID, "x"));
  EXPECT_TRUE(blocks("x"));
  EXPECT_EQ(settings_->configServerETag(), std::nullopt);
  EXPECT_EQ(settings_->configServerLastModifiedString(), std::nullopt);
}

}  // namespace
}  // namespace measurement_test
