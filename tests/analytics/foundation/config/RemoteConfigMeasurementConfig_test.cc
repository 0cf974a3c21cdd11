#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "analytics/foundation/config/GWLServerStrings.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "analytics/wire/GWLPBConsentConfig.h"
#include "analytics/wire/GWLPBConsentDefaultEntry.h"
#include "analytics/wire/GWLPBConsentDelegationEntry.h"
#include "analytics/wire/GWLPBCorePlatformServiceEntry.h"
#include "analytics/wire/GWLPBDataControl.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBProgram.h"
#include "analytics/wire/GWLPBPsmSetting.h"
#include "analytics/wire/GWLPBSetting.h"
#include "analytics/wire/GWLPBSvtpSetting.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"
#include "tools/CollectionServiceProcess.h"

namespace {

using Config = std::shared_ptr<GWLPBMeasurementConfig>;
constexpr const char* kAppID = "1:1234:ios:abcd";

// The configuration blob of the database, kept as bytes (so a restart decodes
// it again), stamped with the test's clock.
class MemoryConfigStore : public GWLRemoteConfigStore {
 public:
  explicit MemoryConfigStore(std::shared_ptr<platform::Clock> clock) : clock_(std::move(clock)) {}
  bool updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failStores) {
      platform::setError(error, platform::Error("test", 1, "disk full"));
      return false;
    }
    auto bytes = config.protoBuffer();
    if (!bytes || bytes->empty()) {
      platform::setError(error, platform::Error("test", 2, "Invalid measurement config data"));
      return false;
    }
    bytes_ = *bytes;
    timestamp_ = clock_->now();
    return true;
  }
  std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_.empty()) return nullptr;
    auto config = GWLPBMeasurementConfig::initWithBuffer(bytes_);
    if (!config) platform::setError(error, platform::Error("test", 3, "Remote config data is corrupted"));
    return config;
  }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return timestamp_;
  }
  void setBytes(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ = std::move(bytes);
  }
  std::vector<uint8_t> bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  bool failStores = false;

 private:
  std::mutex mutex_;
  std::shared_ptr<platform::Clock> clock_;
  std::vector<uint8_t> bytes_;
  double timestamp_ = 0;
};

// An event-editing runtime that records its modules and loads or refuses programs; it edits nothing.
class FakeEventEditing : public GWLEventEditingRuntime {
 public:
  explicit FakeEventEditing(bool loads) : loads_(loads) {}
  void setModuleCreator(ModuleCreator creator, const std::string& name) override { modules[name] = std::move(creator); }
  bool loadProgram(const std::shared_ptr<GWLPBProgram>& program, platform::Error* error) override {
    EXPECT_TRUE(program);
    if (!loads_) platform::setError(error, platform::Error("test", 4, "syntax error"));
    return loads_;
  }
  bool handleEvent(const GWLEditableEvent&, platform::Error*) override { return true; }
  bool hasEdits() const override { return false; }
  bool hasCreatedEvents() const override { return false; }
  GWLEditableEvent outputEvent() const override { return {}; }
  std::vector<GWLEditableEvent> eventsToLog() const override { return {}; }
  std::map<std::string, ModuleCreator> modules;

 private:
  bool loads_;
};

class FixedIdentity : public GWLIdentitySupport {
 public:
  int64_t status = 0;
  bool hasAppDataConsentStatus() const override { return true; }
  int64_t appDataConsentStatus() const override { return status; }
  bool hasLimitedAdTracking() const override { return false; }
  bool limitedAdTracking() const override { return false; }
  std::optional<std::string> resettableDeviceID() const override { return std::nullopt; }
};

template <class... M>
std::vector<NANOValue> list(const std::shared_ptr<M>&... items) {
  std::vector<NANOValue> values;
  (values.push_back(std::shared_ptr<NANOMessageBase>(items)), ...);
  return values;
}

template <class M>
std::shared_ptr<M> make() {
  return M::initWithMessageInfo();
}

std::shared_ptr<GWLPBEventConfig> eventConfig(const std::string& name, std::optional<bool> blocked,
                                              std::optional<int32_t> rate, bool customConversion = false) {
  auto config = make<GWLPBEventConfig>();
  NANOSetString(config, GWLPBEventConfig::Field::event_name, name);
  if (blocked) NANOSetBool(config, GWLPBEventConfig::Field::blocklisted, *blocked);
  if (rate) NANOSetInt32(config, GWLPBEventConfig::Field::sampling_rate, *rate);
  if (customConversion) NANOSetBool(config, GWLPBEventConfig::Field::custom_conversion, true);
  return config;
}

std::shared_ptr<GWLPBConsentDefaultEntry> consentEntry(int32_t type, int32_t status) {
  auto entry = make<GWLPBConsentDefaultEntry>();
  NANOSetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_type, type);
  NANOSetInt32(entry, GWLPBConsentDefaultEntry::Field::consent_status, status);
  return entry;
}

// A configuration that exercises every part the remote configuration reads.
Config fullConfig(const std::string& appID = kAppID, int64_t version = 7, bool withProgram = false) {
  auto config = make<GWLPBMeasurementConfig>();
  NANOSetInt64(config, GWLPBMeasurementConfig::Field::version, version);
  NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, appID);
  std::vector<NANOValue> settings;
  for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"measurement.upload.interval", "60000"},
           {"measurement.upload.blacklist_internal", "1"},
           {"measurement.psm_prefix_phone", "12"},
           {"measurement.psm_signin_delay", "30"}}) {
    auto setting = make<GWLPBSetting>();
    NANOSetString(setting, GWLPBSetting::Field::setting_name, name);
    NANOSetString(setting, GWLPBSetting::Field::setting_value, value);
    settings.push_back(std::shared_ptr<NANOMessageBase>(setting));
  }
  NANOSetArray(config, GWLPBMeasurementConfig::Field::settings, settings);
  NANOSetArray(config, GWLPBMeasurementConfig::Field::event_config,
               list(eventConfig("screen_view", true, std::nullopt),
                                      eventConfig("rate1", std::nullopt, 1), eventConfig("rate0", false, 0),
                                      eventConfig("rate70000", std::nullopt, 70000),
                                      eventConfig("rate2", std::nullopt, 2, true),
                                      eventConfig("rate65535", std::nullopt, 1),
                                      eventConfig("rate65535", std::nullopt, 65535), eventConfig("", true, 5)));
  if (withProgram) {
    NANOSetArray(config, GWLPBMeasurementConfig::Field::dynamic_event_editing,
                 list(std::shared_ptr<NANOMessageBase>(make<GWLPBProgram>())));
  }
  std::vector<NANOValue> controls;
  for (const char* name : {"user_id", "device_model"}) {
    auto control = make<GWLPBDataControl>();
    NANOSetString(control, GWLPBDataControl::Field::control_name, name);
    controls.push_back(std::shared_ptr<NANOMessageBase>(control));
  }
  NANOSetArray(config, GWLPBMeasurementConfig::Field::data_controls, controls);
  NANOSetString(config, GWLPBMeasurementConfig::Field::upload_subdomain, "eu");

  auto consent = make<GWLPBConsentConfig>();
  NANOSetArray(consent, GWLPBConsentConfig::Field::defaults,
               list(consentEntry(1, 2), consentEntry(2, 1), consentEntry(9, 1)));
  NANOSetArray(consent, GWLPBConsentConfig::Field::enforced_defaults, list(consentEntry(3, 2)));
  auto delegation = make<GWLPBConsentDelegationEntry>();
  NANOSetInt32(delegation, GWLPBConsentDelegationEntry::Field::consent_type, 4);
  NANOSetInt32(delegation, GWLPBConsentDelegationEntry::Field::delegate_type, 1);
  NANOSetArray(consent, GWLPBConsentConfig::Field::delegations, list(delegation));
  auto service = make<GWLPBCorePlatformServiceEntry>();
  NANOSetString(service, GWLPBCorePlatformServiceEntry::Field::service_name, "store");
  NANOSetArray(consent, GWLPBConsentConfig::Field::core_platform_services, list(service));
  NANOSetBool(consent, GWLPBConsentConfig::Field::is_dma_region, false);
  NANOSetMessage(config, GWLPBMeasurementConfig::Field::consent_config, consent);

  auto psm = make<GWLPBPsmSetting>();
  NANOSetInt32(psm, GWLPBPsmSetting::Field::hash_prefix_bits_email, 40);  // out of range
  NANOSetInt32(psm, GWLPBPsmSetting::Field::hash_prefix_bits_phone, 16);
  NANOSetMessage(config, GWLPBMeasurementConfig::Field::psm_setting, psm);
  return config;
}

class RemoteConfigMeasurementTest : public ::testing::Test {
 protected:
  GWLRemoteConfig::Dependencies dependencies(bool programsLoad = true) {
    GWLRemoteConfig::Dependencies d;
    d.monitor = monitor_;
    d.clock = clock_;
    d.identitySupport = identity_;
    d.eventEditingFactory = [this, programsLoad] {
      auto runtime = std::make_shared<FakeEventEditing>(programsLoad);
      runtimes_.push_back(runtime);
      return runtime;
    };
    d.infoDictionaryValue = [this](const std::string& key) -> std::optional<platform::Object> {
      auto it = info_.find(key);
      if (it == info_.end()) return std::nullopt;
      return it->second;
    };
    d.hosts = hosts_;
    return d;
  }
  std::shared_ptr<GWLRemoteConfig> create(bool programsLoad = true) {
    return GWLRemoteConfig::initWithAppID(kAppID, store_, nullptr, dependencies(programsLoad));
  }

  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(1'700'000'000.0);
  std::shared_ptr<MemoryConfigStore> store_ = std::make_shared<MemoryConfigStore>(clock_);
  std::shared_ptr<FixedIdentity> identity_ = std::make_shared<FixedIdentity>();
  std::vector<std::shared_ptr<FakeEventEditing>> runtimes_;
  platform::Dictionary info_;
  std::optional<GWLServiceHosts> hosts_;
};

TEST_F(RemoteConfigMeasurementTest, RefusesToBeMadeWithoutAppIDOrDatabase) {
  EXPECT_FALSE(GWLRemoteConfig::initWithAppID("", store_, nullptr, dependencies()));
  EXPECT_FALSE(GWLRemoteConfig::initWithAppID(kAppID, nullptr, nullptr, dependencies()));
  EXPECT_FALSE(GWLRemoteConfig::defaultInstance()->updateMeasurementConfig(fullConfig()));
}

TEST_F(RemoteConfigMeasurementTest, ParsesEveryPartOfAStoredConfiguration) {
  auto config = create();
  ASSERT_TRUE(config);
  EXPECT_EQ(config->version(), -1);
  EXPECT_TRUE(config->isDMARegion());
  ASSERT_TRUE(config->updateMeasurementConfig(fullConfig()));
  EXPECT_FALSE(store_->bytes().empty());
  EXPECT_EQ(config->version(), 7);

  EXPECT_DOUBLE_EQ(config->uploadingInterval(), 60);
  EXPECT_TRUE(config->blocklistInternal());
  EXPECT_TRUE(config->isEventBlocklisted("_vs")) << "stored under the internal name";
  EXPECT_FALSE(config->isEventBlocklisted("screen_view"));
  EXPECT_TRUE(config->isEventBlocklisted("_internal")) << "the internal blocklist setting";
  EXPECT_FALSE(config->isEventBlocklisted("rate0"));
  for (auto [name, rate] : std::vector<std::pair<std::string, int>>{
           {"rate1", 1}, {"rate0", 1}, {"rate70000", 1}, {"rate2", 2}, {"rate65535", 65535}, {"none", 1}}) {
    EXPECT_EQ(config->samplingRateForEvent(name), rate) << name;
  }
  EXPECT_TRUE(config->eventHasSamplingRate("rate0"));
  EXPECT_FALSE(config->eventHasSamplingRate("_vs"));
  EXPECT_TRUE(config->isEventCustomConversion("rate2"));
  EXPECT_FALSE(config->isEventCustomConversion("rate1"));
  EXPECT_FALSE(config->eventConfigWithName(""));

  EXPECT_EQ(config->dataControls(), (std::vector<std::string>{"user_id", "device_model"}));
  EXPECT_EQ(config->consentDefaults(),
            (std::map<std::string, std::string>{{"ad_storage", "denied"}, {"analytics_storage", "granted"}, {"", "granted"}}));
  EXPECT_EQ(config->regionalDefaults(), (std::map<std::string, std::string>{{"ad_user_data", "denied"}}));
  EXPECT_EQ(config->consentDelegations(), (std::map<std::string, std::string>{{"ad_personalization", "ad_storage"}}));
  EXPECT_EQ(config->corePlatformServices(), (std::set<std::string>{"store"}));
  EXPECT_FALSE(config->isDMARegion());

  // Private-set-membership prefixes go through the same bounds as the
  // settings: 40 bits is out of range and gives the default; 16 is kept and
  // replaces the setting of the same key; a setting sent alone still counts.
  EXPECT_EQ(config->hashPrefixBitLengthEmail(), 14);
  EXPECT_EQ(config->hashPrefixBitLengthPhone(), 16);
  EXPECT_EQ(config->maxSignInDelayInDays(), 30);
  EXPECT_EQ(config->uploadSubdomain(), "eu");

  // Another app's configuration is refused and changes nothing.
  EXPECT_FALSE(config->updateMeasurementConfig(fullConfig("1:other:ios:x", 8)));
  config->parseRemoteConfigFromMeasurementConfig(fullConfig("1:other:ios:x", 8));
  EXPECT_EQ(config->version(), 7);
  EXPECT_TRUE(config->isEventBlocklisted("_vs"));

  // A configuration without consent leaves the region flag and empties the consent caches.
  auto bare = make<GWLPBMeasurementConfig>();
  NANOSetString(bare, GWLPBMeasurementConfig::Field::app_id, kAppID);
  ASSERT_TRUE(config->updateMeasurementConfig(bare));
  EXPECT_TRUE(config->consentDefaults().empty());
  EXPECT_TRUE(config->dataControls().empty());
  EXPECT_FALSE(config->isDMARegion());
  EXPECT_FALSE(config->isEventBlocklisted("_vs"));
  EXPECT_DOUBLE_EQ(config->uploadingInterval(), 3600);
  EXPECT_EQ(config->version(), -1);

  config->reset();
  EXPECT_TRUE(config->isDMARegion());
}

TEST_F(RemoteConfigMeasurementTest, AProgramThatFailsToLoadLeavesTheRestParsed) {
  auto config = create(/*programsLoad=*/false);
  ASSERT_TRUE(config->updateMeasurementConfig(fullConfig(kAppID, 7, /*withProgram=*/true)));
  EXPECT_FALSE(config->eventEditing());
  EXPECT_EQ(config->dataControls().size(), 2u);
  EXPECT_EQ(config->consentDefaults().size(), 3u);
  EXPECT_FALSE(config->isDMARegion());
  EXPECT_EQ(config->hashPrefixBitLengthPhone(), 16);
}

TEST_F(RemoteConfigMeasurementTest, ALoadedProgramGetsTheThreeModules) {
  auto config = create();
  ASSERT_TRUE(config->updateMeasurementConfig(fullConfig(kAppID, 7, /*withProgram=*/true)));
  ASSERT_TRUE(config->eventEditing());
  ASSERT_EQ(runtimes_.size(), 1u);
  auto& modules = runtimes_[0]->modules;
  ASSERT_EQ(modules.size(), 3u);
  GWLEventEditingModule remote = modules.at(kGWLEventEditingRemoteConfigModule)();
  EXPECT_EQ(remote.getValue("measurement.upload.interval"), "60000");
  EXPECT_EQ(config->uploadingInterval(), 60);  // now a number in the cache
  EXPECT_EQ(remote.getValue("measurement.upload.interval"), "60");
  EXPECT_EQ(remote.getValue("missing"), std::nullopt);
  platform::Dictionary metadata = modules.at(kGWLEventEditingAppMetadataModule)().object();
  EXPECT_EQ(metadata.at("platform"), platform::Object("ios"));
  EXPECT_EQ(metadata.at("qrx_version"), platform::Object(kGWLLibraryVersion));
  EXPECT_EQ(modules.at(kGWLEventEditingLoggerModule)().kind, GWLEventEditingModule::Kind::MessageLogger);

  // A configuration without programs drops the runtime: the program was withdrawn.
  ASSERT_TRUE(config->updateMeasurementConfig(fullConfig(kAppID, 8)));
  EXPECT_FALSE(config->eventEditing());
}

TEST_F(RemoteConfigMeasurementTest, AConfigurationThatCannotBeStoredIsNotApplied) {
  auto config = create();
  ASSERT_TRUE(config->updateMeasurementConfig(fullConfig(kAppID, 7)));
  store_->failStores = true;
  auto other = fullConfig(kAppID, 9);
  NANOClearField(other, GWLPBMeasurementConfig::Field::event_config);
  EXPECT_FALSE(config->updateMeasurementConfig(other));
  EXPECT_EQ(config->version(), 7);
  EXPECT_TRUE(config->isEventBlocklisted("_vs"));
}

TEST_F(RemoteConfigMeasurementTest, TheStoredConfigurationSurvivesARestartAndExpires) {
  ASSERT_TRUE(create()->updateMeasurementConfig(fullConfig(kAppID, 11)));
  auto restarted = create();
  EXPECT_EQ(restarted->version(), 11);
  EXPECT_TRUE(restarted->isEventBlocklisted("_vs"));
  EXPECT_EQ(restarted->dataControls().size(), 2u);
  EXPECT_DOUBLE_EQ(restarted->lastRemoteConfigUpdateTimestamp(), 1'700'000'000.0);

  EXPECT_FALSE(restarted->isExpired());
  clock_->setNow(1'700'000'000.0 + 3599);
  EXPECT_FALSE(restarted->isExpired());
  clock_->setNow(1'700'000'000.0 + 3600);
  EXPECT_TRUE(restarted->isExpired());
  clock_->setNow(1'700'000'000.0 - 3600);
  EXPECT_TRUE(restarted->isExpired()) << "a stored time in the future counts too";
  EXPECT_FALSE(GWLRemoteConfig::defaultInstance()->isExpired());

  // Stored bytes that do not decode load nothing.
  store_->setBytes({0xff, 0xff, 0xff});
  auto corrupted = create();
  EXPECT_EQ(corrupted->version(), -1);
  EXPECT_FALSE(corrupted->isEventBlocklisted("_vs"));
}

TEST_F(RemoteConfigMeasurementTest, URLTable) {
  struct Case {
    const char* name;
    std::optional<std::string> subdomain;
    int64_t trackingStatus;
    std::optional<GWLServiceHosts> hosts;
    std::string uploadURL;
  };
  const Case cases[] = {
      {"plain", std::nullopt, 0, std::nullopt, "https://gauge.halcyra.com/a"},
      {"subdomain", "eu", 0, std::nullopt, "https://eu.gauge.halcyra.com/a"},
      {"empty subdomain", "", 2, std::nullopt, "https://gauge.halcyra.com/a"},
      {"authorised", std::nullopt, 3, std::nullopt, "https://gauge-services.halcyra.com/a"},
      {"authorised subdomain", "eu-2", 3, std::nullopt, "https://eu-2.gauge-services.halcyra.com/a"},
      {"bad subdomain", "evil.com/x?", 0, std::nullopt, "https://gauge.halcyra.com/a"},
      {"local", std::nullopt, 0, GWLServiceHosts::local("http", "127.0.0.1", 8080), "http://127.0.0.1:8080/a"},
  };
  for (const Case& c : cases) {
    hosts_ = c.hosts;
    identity_->status = c.trackingStatus;
    auto config = create();
    auto message = make<GWLPBMeasurementConfig>();
    NANOSetString(message, GWLPBMeasurementConfig::Field::app_id, kAppID);
    if (c.subdomain) NANOSetString(message, GWLPBMeasurementConfig::Field::upload_subdomain, *c.subdomain);
    ASSERT_TRUE(config->updateMeasurementConfig(message));
    EXPECT_EQ(config->uploadURL(), c.uploadURL) << c.name;
  }

  hosts_.reset();
  auto config = create();
  EXPECT_EQ(config->remoteConfigURLWithPlatform("ios", 120500, 3),
            "https://gauge.halcyra.com/config/app/1:1234:ios:abcd?platform=ios&qrx_version=120500&runtime_version=3");
  EXPECT_EQ(config->remoteConfigURLWithPlatform(std::nullopt, 1, 1), std::nullopt);
  auto spaced = GWLRemoteConfig::initWithAppID("1:2 3", store_, nullptr, dependencies());
  EXPECT_EQ(spaced->remoteConfigURLWithPlatform("ios", 1, 2),
            "https://gauge.halcyra.com/config/app/1:2%203?platform=ios&qrx_version=1&runtime_version=2");
}

TEST_F(RemoteConfigMeasurementTest, BadServerStringTable) {
  struct Case {
    std::string text;
    bool subdomain, header, entityTag, url;
  };
  const Case cases[] = {
      {"eu", true, true, false, false},
      {"eu-west.1", true, true, false, false},
      {"\"33a64df5\"", false, true, true, false},
      {"W/\"0815\"", false, true, true, false},
      {"https://tagging.example.com/g/collect", false, true, false, true},
      {"http://127.0.0.1:9000/x?y=1", false, true, false, true},
      {"", false, true, false, false},
      {"evil.com/", false, true, false, false},
      {"-eu", false, true, false, false},
      {"eu..x", false, true, false, false},
      {"a\r\nSet-Cookie: x=1", false, false, false, false},
      {"\"tag\"\r\n", false, false, false, false},
      {"\"ta\"g\"", false, true, false, false},
      {"\"t a\"", false, true, false, false},
      {std::string("v\0x", 3), false, false, false, false},
      {"caf\xc3\xa9", false, false, false, false},
      {" padded", false, false, false, false},
      {"https://user@evil.com/", false, true, false, false},
      {"javascript:alert(1)", false, true, false, false},
      {std::string(64, 'a'), false, true, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GWLIsValidUploadSubdomain(c.text), c.subdomain) << c.text;
    EXPECT_EQ(GWLIsValidHTTPHeaderValue(c.text), c.header) << c.text;
    EXPECT_EQ(GWLIsValidEntityTag(c.text), c.entityTag) << c.text;
    EXPECT_EQ(GWLIsValidServerURL(c.text), c.url) << c.text;
  }

  // Server-side tagging strings that fail are not used.
  info_[kGWLSVTPUploadEnabledInfoKey] = platform::Object(true);
  auto config = create();
  auto message = make<GWLPBMeasurementConfig>();
  NANOSetString(message, GWLPBMeasurementConfig::Field::app_id, kAppID);
  auto svtp = make<GWLPBSvtpSetting>();
  NANOSetString(svtp, GWLPBSvtpSetting::Field::upload_url, "https://tag ging.example.com/");
  NANOSetString(svtp, GWLPBSvtpSetting::Field::server_info, "v1\r\nX-Injected: 1");
  NANOSetInt32(svtp, GWLPBSvtpSetting::Field::sample_percent, 100);
  NANOSetMessage(message, GWLPBMeasurementConfig::Field::svtp_setting, svtp);
  ASSERT_TRUE(config->updateMeasurementConfig(message));
  EXPECT_EQ(config->SVTPUploadURL(), std::nullopt);
  EXPECT_EQ(config->SVTPUploadHTTPHeaders(), std::nullopt);
  EXPECT_FALSE(config->SVTPUploadEnabled());
}

TEST_F(RemoteConfigMeasurementTest, ServerSideTagging) {
  auto message = make<GWLPBMeasurementConfig>();
  NANOSetString(message, GWLPBMeasurementConfig::Field::app_id, kAppID);
  auto svtp = make<GWLPBSvtpSetting>();
  NANOSetString(svtp, GWLPBSvtpSetting::Field::upload_url, "https://tag.example.com/collect");
  NANOSetString(svtp, GWLPBSvtpSetting::Field::authorized_upload_url, "https://tag.example.com/authorized");
  NANOSetString(svtp, GWLPBSvtpSetting::Field::server_info, "srv=1");
  NANOSetInt32(svtp, GWLPBSvtpSetting::Field::sample_percent, 100);
  NANOSetMessage(message, GWLPBMeasurementConfig::Field::svtp_setting, svtp);

  auto config = create();
  ASSERT_TRUE(config->updateMeasurementConfig(message));
  EXPECT_FALSE(config->SVTPUploadEnabled()) << "no Info dictionary switch";
  info_[kGWLSVTPUploadEnabledInfoKey] = platform::Object(int64_t{1});
  EXPECT_TRUE(config->SVTPUploadEnabled());
  EXPECT_EQ(config->SVTPUploadURL(), "https://tag.example.com/collect");
  identity_->status = 3;
  EXPECT_EQ(config->SVTPUploadURL(), "https://tag.example.com/authorized");
  EXPECT_EQ(config->SVTPUploadHTTPHeaders(), (std::map<std::string, std::string>{{"x-svtp-server-info", "srv=1"}}));

  NANOSetInt32(svtp, GWLPBSvtpSetting::Field::sample_percent, 0);
  NANOSetMessage(message, GWLPBMeasurementConfig::Field::svtp_setting, svtp);
  ASSERT_TRUE(config->updateMeasurementConfig(message));
  EXPECT_FALSE(config->SVTPUploadEnabled()) << "outside the sample";
}

// The whole road: a configuration served by the local collection service,
// fetched over loopback, stored, applied and loaded again after a restart.
TEST_F(RemoteConfigMeasurementTest, ConfigurationFetchedFromTheLocalCollectionService) {
  foundation_test::ScratchDirectory configs;
  auto bytes = fullConfig(kAppID, 21)->protoBuffer();
  ASSERT_TRUE(bytes);
  std::ofstream(configs.path() / (std::string(kAppID) + ".pb"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
  std::ofstream(configs.path() / "1:9:ios:broken.pb", std::ios::binary) << "\xff\xff\xff\x01";

  tabulo::test::CollectionServiceProcess service({"--config-dir", configs.path().string()});
  ASSERT_GT(service.port(), 0);
  hosts_ = GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service.port()));

  auto fetch = [](const std::string& url) {
    auto queue = platform::SerialQueue::create("test.fetch");
    platform::HVUNetwork network;
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::vector<uint8_t>> body;
    int status = 0;
    network.getURL(url, {}, queue, false,
                   [&](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> data,
                       std::optional<platform::Error>) {
                     std::lock_guard<std::mutex> lock(mutex);
                     status = response ? response->statusCode : -1;
                     body = std::move(data);
                     done.notify_all();
                   });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait_for(lock, std::chrono::seconds(30), [&] { return body.has_value(); });
    return std::make_pair(status, body.value_or(std::vector<uint8_t>()));
  };

  auto config = create();
  EXPECT_FALSE(config->isEventBlocklisted("_vs"));
  EXPECT_TRUE(config->consentDefaults().empty());
  auto url = config->remoteConfigURLWithPlatform("ios", kGWLLibraryVersion, 1);
  ASSERT_TRUE(url);
  auto [status, body] = fetch(*url);
  ASSERT_EQ(status, platform::kHVUNetworkHTTPStatusOK);
  auto downloaded = config->measurementConfigFromData(body);
  ASSERT_TRUE(downloaded);
  ASSERT_TRUE(config->updateMeasurementConfig(downloaded));
  EXPECT_EQ(config->version(), 21);
  EXPECT_DOUBLE_EQ(config->uploadingInterval(), 60);
  EXPECT_TRUE(config->isEventBlocklisted("_vs"));
  EXPECT_EQ(config->consentDefaults().at("ad_storage"), "denied");

  auto restarted = create();
  EXPECT_EQ(restarted->version(), 21);
  EXPECT_TRUE(restarted->isEventBlocklisted("_vs"));
  EXPECT_EQ(restarted->consentDelegations().at("ad_personalization"), "ad_storage");
  // A subdomain is never put in front of an address.
  EXPECT_EQ(restarted->uploadURL(), "http://127.0.0.1:" + std::to_string(service.port()) + "/a");

  // An undecodable body is refused and changes nothing.
  auto broken = GWLRemoteConfig::initWithAppID("1:9:ios:broken", store_, nullptr, dependencies());
  auto [brokenStatus, brokenBody] = fetch(*broken->remoteConfigURLWithPlatform("ios", 1, 1));
  ASSERT_EQ(brokenStatus, platform::kHVUNetworkHTTPStatusOK);
  platform::Error error;
  EXPECT_FALSE(broken->measurementConfigFromData(brokenBody, &error));
  EXPECT_EQ(error.domain, kGWLErrorDomain);
  EXPECT_FALSE(broken->measurementConfigFromData({}));
  EXPECT_EQ(create()->version(), 21);

  auto [missingStatus, missingBody] = fetch(
      *GWLRemoteConfig::initWithAppID("1:0:ios:none", store_, nullptr, dependencies())->remoteConfigURLWithPlatform(
          "ios", 1, 1));
  EXPECT_EQ(missingStatus, platform::kHVUNetworkHTTPStatusCodeNotFound);
}

// A configuration in which a setting, a data control, the consent defaults and
// the version all tell its generation.
Config generationConfig(int generation) {
  auto config = make<GWLPBMeasurementConfig>();
  NANOSetInt64(config, GWLPBMeasurementConfig::Field::version, generation);
  NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, kAppID);
  auto setting = make<GWLPBSetting>();
  NANOSetString(setting, GWLPBSetting::Field::setting_name, "test.generation");
  NANOSetString(setting, GWLPBSetting::Field::setting_value, std::to_string(generation));
  auto interval = make<GWLPBSetting>();
  NANOSetString(interval, GWLPBSetting::Field::setting_name, "measurement.upload.interval");
  NANOSetString(interval, GWLPBSetting::Field::setting_value, std::to_string(60000 + generation % 2));
  NANOSetArray(config, GWLPBMeasurementConfig::Field::settings, list(setting, interval));
  auto control = make<GWLPBDataControl>();
  NANOSetString(control, GWLPBDataControl::Field::control_name, std::to_string(generation));
  NANOSetArray(config, GWLPBMeasurementConfig::Field::data_controls, list(control));
  auto consent = make<GWLPBConsentConfig>();
  NANOSetArray(consent, GWLPBConsentConfig::Field::defaults, list(consentEntry(1, generation % 2 ? 1 : 2)));
  NANOSetBool(consent, GWLPBConsentConfig::Field::is_dma_region, generation % 2);
  NANOSetMessage(config, GWLPBMeasurementConfig::Field::consent_config, consent);
  return config;
}

TEST_F(RemoteConfigMeasurementTest, ReadersNeverSeeAMixedConfiguration) {
  auto config = create();
  ASSERT_TRUE(config->updateMeasurementConfig(generationConfig(0)));
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0};
  std::atomic<int> reads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!done.load()) {
        auto snapshot = config->snapshot();
        auto setting = snapshot->settings->valueForKey("test.generation");
        const int generation = setting && setting->stringValue() ? std::stoi(*setting->stringValue()) : -1;
        const bool odd = generation % 2 == 1;
        if (snapshot->dataControls != std::vector<std::string>{std::to_string(generation)} ||
            snapshot->consentDefaults.at("ad_storage") != (odd ? "granted" : "denied") ||
            snapshot->isDMARegion != odd ||
            NANOGetInt64(snapshot->measurementConfig, GWLPBMeasurementConfig::Field::version) != generation) {
          ++mixed;
        }
        // The typed getters convert into the cache while configurations are replaced.
        const double interval = config->uploadingInterval();
        if (interval != 60 && interval != 60.001) ++mixed;
        ++reads;
      }
    });
  }
  for (int generation = 1; generation <= 200; ++generation) {
    ASSERT_TRUE(config->updateMeasurementConfig(generationConfig(generation)));
  }
  while (reads.load() < 400) std::this_thread::yield();
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_EQ(config->version(), 200);
  EXPECT_EQ(config->dataControls(), std::vector<std::string>{"200"});
}

}  // namespace
