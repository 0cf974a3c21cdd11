#include <gtest/gtest.h>

#include <condition_variable>
#include <limits>
#include <regex>
#include <thread>

#include "MeasurementTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLStringAdditions.h"
#include "analytics/foundation/experiments/GWLEExperimentRequestBuilder.h"
#include "analytics/foundation/experiments/GWLESDKProperty.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/wire/GWLPBClientProperty.h"
#include "analytics/wire/GWLPBExperimentRequest.h"
#include "analytics/wire/NANO.h"

namespace measurement_test {
namespace {

using Util = GWLConsentSettingsUtil;
using platform::Dictionary;

constexpr const char* kIDA = "6D1E5A2B-0C3F-4D2E-9A1B-2C3D4E5F6A7B";
constexpr const char* kIDB = "11111111-2222-4333-8444-555555555555";

bool isAppInstanceID(const std::optional<std::string>& text) {
  return text && std::regex_match(*text, std::regex("^[0-9A-F]{32}$"));
}

class IdentityTest : public MeasurementTest {
 protected:
  // A new identity over the test's settings, platform, clock and configuration.
  std::shared_ptr<GWLIdentity> makeIdentity(const Dictionary& info = {},
                                            const std::optional<std::string>& serviceFile = std::nullopt) {
    GWLIdentity::Dependencies dependencies;
    dependencies.identitySupport = support_;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.remoteConfig = [this] { return config_; };
    dependencies.environment = environmentWith(info, serviceFile);
    dependencies.identifierForVendor = [this]() -> std::optional<std::string> {
      std::lock_guard<std::mutex> lock(vendorMutex_);
      vendorReads_.push_back(std::this_thread::get_id());
      return std::string(kIDB);
    };
    return GWLIdentity::initWithPersistedConfig(persisted_, dependencies);
  }

  void useSettings(const std::map<std::string, std::string>& settings) { config_ = configWith(monitor_, settings); }

  void denyStorage(const char* type) { Util::updateSettings(Dictionary{{type, "denied"}}); }

  std::shared_ptr<GWLPersistedConfig> persisted_ = persistedConfig();
  std::shared_ptr<FakePlatformIdentity> platform_ = std::make_shared<FakePlatformIdentity>();
  std::shared_ptr<GWLDefaultIdentitySupport> support_ = [this] {
    GWLDefaultIdentitySupport::Dependencies dependencies;
    dependencies.monitor = monitor_;
    dependencies.resettableDeviceIDWait = std::chrono::seconds(10);  // the fake answers at once
    return GWLDefaultIdentitySupport::create(platform_, dependencies);
  }();
  std::shared_ptr<GWLRemoteConfig> config_ = configWith(monitor_, {});
  std::mutex vendorMutex_;
  std::vector<std::thread::id> vendorReads_;
};

TEST_F(IdentityTest, FirstLaunchMakesAnAppInstanceIDOnlyWhileAnalyticsStorageIsGranted) {
  auto identity = makeIdentity();
  ASSERT_TRUE(identity);
  EXPECT_TRUE(isAppInstanceID(persisted_->appInstanceID()));
  EXPECT_EQ(identity->appInstanceID(), persisted_->appInstanceID());

  persisted_->clearValues();
  denyStorage(kGWLConsentTypeAnalyticsStorage);
  auto denied = makeIdentity();
  denied->updateIdentifiersAndWait();
  EXPECT_EQ(persisted_->appInstanceID(), std::nullopt);
  EXPECT_EQ(denied->appInstanceID(), std::nullopt);
  // Granted again: the next refresh makes one.
  Util::updateSettings(Dictionary{{"analytics_storage", "granted"}});
  EXPECT_TRUE(isAppInstanceID(denied->appInstanceID()));
}

TEST_F(IdentityTest, WithoutPersistedSettingsThereIsNoIdentity) {
  GWLIdentity::Dependencies dependencies;
  dependencies.monitor = monitor_;
  EXPECT_EQ(GWLIdentity::initWithPersistedConfig(nullptr, dependencies), nullptr);
  EXPECT_EQ(lastSampledKey(), "1E_120500:" + std::string(kGWLIdentityWithoutPersistedConfigMessage));
}

TEST_F(IdentityTest, AdvertisingIdentifierRefresh) {
  const std::string hashA = *gwl_MD5String(kIDA);
  const std::string hashB = *gwl_MD5String(kIDB);
  struct Case {
    const char* name;
    std::optional<std::string> previousID;  // fetched by an earlier refresh, when given
    std::optional<std::string> storedHash;
    bool adStorageDenied;
    bool gate;
    int64_t status;
    std::optional<std::string> platformID;
    // Expected:
    bool newAppInstanceID;
    bool resetFlag;
    std::optional<std::string> hash;
    std::optional<std::string> identifier;
    int fetches;  // platform calls made by this refresh
  } cases[] = {
      {"changed with a stored hash", std::nullopt, hashB, false, false, 3, kIDA, true, true, hashA, kIDA, 2},
      {"first ever seen", std::nullopt, std::nullopt, false, false, 3, kIDA, false, false, hashA, kIDA, 2},
      {"unchanged", std::nullopt, hashA, false, false, 3, kIDA, false, false, hashA, kIDA, 2},
      {"all zeros clears it", kIDA, hashA, false, false, 3, kGWLZeroResettableDeviceID, false, false, hashA,
       std::nullopt, 2},
      {"nothing answered keeps it", kIDA, hashA, false, false, 3, std::nullopt, false, false, hashA, kIDA, 2},
      {"gate on, not authorised", kIDA, hashA, false, true, 0, kIDB, false, false, hashA, kIDA, 1},
      {"gate on, authorised", std::nullopt, std::nullopt, false, true, 3, kIDA, false, false, hashA, kIDA, 2},
      {"gate off, not authorised", std::nullopt, std::nullopt, false, false, 2, kIDA, false, false, hashA, kIDA, 2},
      {"ad storage denied", kIDA, std::nullopt, true, false, 3, kIDB, false, false, std::nullopt, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Util::resetForTesting();
    persisted_->clearValues();
    useSettings({{kGWLSettingGateIDFAOnATTMASEnabled, c.gate ? "1" : "0"}});
    auto identity = makeIdentity();
    if (c.previousID) {
      platform_->set({true, 3, true, c.previousID});
      identity->updateIdentifiersAndWait();
      clock_->advance(1);
    }
    persisted_->setHashedResettableDeviceID(c.storedHash);
    persisted_->setShouldSetLastAdvertisingIDResetUserProperty(false);
    if (c.adStorageDenied) denyStorage(kGWLConsentTypeAdStorage);
    const auto appInstanceID = persisted_->appInstanceID();
    const int fetchesBefore = platform_->fetches();
    platform_->set({true, c.status, true, c.platformID});

    identity->updateIdentifiersAndWait();
    // One call answers limited ad tracking, the other fetches the identifier;
    // while ad storage is denied the platform is not asked at all.
    EXPECT_EQ(platform_->fetches() - fetchesBefore, c.fetches);
    EXPECT_EQ(persisted_->appInstanceID() != appInstanceID, c.newAppInstanceID);
    EXPECT_TRUE(isAppInstanceID(persisted_->appInstanceID()));
    EXPECT_EQ(persisted_->shouldSetLastAdvertisingIDResetUserProperty(), c.resetFlag);
    EXPECT_EQ(persisted_->hashedResettableDeviceID(), c.hash);
    clock_->advance(1);
    EXPECT_EQ(identity->resettableDeviceID(), c.identifier);
    EXPECT_EQ(identity->hashedResettableDeviceID(), c.adStorageDenied ? std::nullopt : c.hash);
  }
}

TEST_F(IdentityTest, TrackingAuthorisationStatusCodes) {
  struct Case {
    bool hasIdentifierManager;
    bool hasStatus;
    int64_t platformStatus;
    uint64_t code;
  } cases[] = {
      {true, true, 0, 4}, {true, true, 1, 1},  {true, true, 2, 2},  {true, true, 3, 3},
      {true, true, 4, 5}, {true, true, -1, 5}, {true, false, 3, 5}, {false, true, 3, 6},
  };
  auto identity = makeIdentity();
  for (const auto& c : cases) {
    platform_->set({c.hasStatus, c.platformStatus, c.hasIdentifierManager, std::nullopt});
    clock_->advance(1);
    EXPECT_EQ(identity->appleConsentStatus(), c.code) << c.platformStatus;
    EXPECT_EQ(identity->hasLimitedAdTracking(), c.hasIdentifierManager);
    EXPECT_TRUE(identity->limitedAdTracking());
  }
}

TEST_F(IdentityTest, RefreshesAtMostOncePerCacheTime) {
  useSettings({{kGWLSettingAdIDCacheTime, "30000"}});  // 30 s
  platform_->set({true, 3, true, kIDA});
  auto identity = makeIdentity();
  identity->updateIdentifiersAndWait();
  const int fetches = platform_->fetches();
  identity->updateIdentifiersAndWait();
  clock_->advance(29.5);
  identity->updateIdentifiersAndWait();
  EXPECT_EQ(platform_->fetches(), fetches);
  clock_->advance(0.5);
  identity->updateIdentifiersAndWait();
  EXPECT_EQ(platform_->fetches(), fetches + 2);
  // A last refresh that lies in the future (the clock was set back) does not hold the next one.
  clock_->setNow(clock_->now() - 3600);
  identity->updateIdentifiersAndWait();
  EXPECT_EQ(platform_->fetches(), fetches + 4);
  // Nor does a missing app instance ID.
  persisted_->setAppInstanceID(std::nullopt);
  identity->updateIdentifiersAndWait();
  EXPECT_EQ(platform_->fetches(), fetches + 6);
  EXPECT_TRUE(isAppInstanceID(persisted_->appInstanceID()));
}

TEST_F(IdentityTest, VendorIdentifier) {
  platform_->set({true, 3, true, std::nullopt});
  auto identity = makeIdentity();
  EXPECT_EQ(identity->identifierForVendor(), kIDB);
  EXPECT_EQ(identity->identifierForVendor(), kIDB);
  {
    std::lock_guard<std::mutex> lock(vendorMutex_);
    EXPECT_EQ(vendorReads_, std::vector<std::thread::id>{std::this_thread::get_id()});  // once, on this thread
  }
  // None while an advertising identifier is known.
  platform_->setIdentifier(kIDA);
  clock_->advance(1);
  EXPECT_EQ(identity->identifierForVendor(), std::nullopt);
  platform_->setIdentifier(kGWLZeroResettableDeviceID);
  clock_->advance(1);
  EXPECT_EQ(identity->identifierForVendor(), kIDB);
  // None while analytics storage is denied.
  denyStorage(kGWLConsentTypeAnalyticsStorage);
  EXPECT_EQ(identity->identifierForVendor(), std::nullopt);
  Util::resetForTesting();
  // None when the Info dictionary switches it off; a true number or a missing switch lets it through.
  EXPECT_EQ(makeIdentity({{kGWLIDFVCollectionEnabledInfoKey, false}})->identifierForVendor(), std::nullopt);
  EXPECT_EQ(makeIdentity({{kGWLIDFVCollectionEnabledInfoKey, 0}})->identifierForVendor(), std::nullopt);
  EXPECT_EQ(makeIdentity({{kGWLIDFVCollectionEnabledInfoKey, 1}})->identifierForVendor(), kIDB);
  EXPECT_EQ(makeIdentity({{kGWLIDFVCollectionEnabledInfoKey, "NO"}})->identifierForVendor(), kIDB);
}

TEST_F(IdentityTest, SessionStitchingToken) {
  struct Step {
    int64_t session;
    bool expired;
    bool userID;
    double advance;      // seconds before the request
    bool sameAsBefore;   // the token of the previous request stays
  };
  const std::vector<std::pair<const char*, std::vector<Step>>> scenarios = {
      {"expired within the session", {{3, false, false, 0, false}, {3, true, false, 0, false}}},
      {"new session right after an expired one", {{3, true, false, 0, false}, {4, false, false, 0, true}}},
      {"same session", {{3, false, false, 0, false}, {3, false, false, 100, true}}},
      {"next session, none expired", {{3, false, false, 0, false}, {4, false, false, 0, false}}},
      {"a session skipped after expiry", {{3, true, false, 0, false}, {5, false, false, 0, false}}},
      {"expires a day after it was made",
       {{3, false, false, 0, false}, {3, false, false, 86399, true}, {3, false, false, 1, false}}},
      {"made with a user ID it does not expire",
       {{3, false, true, 0, false}, {3, false, true, 172800, true}, {3, false, false, 0, true}}},
  };
  for (const auto& [name, steps] : scenarios) {
    SCOPED_TRACE(name);
    auto identity = makeIdentity();
    std::optional<std::string> previous;
    for (const Step& step : steps) {
      clock_->advance(step.advance);
      auto token = identity->sessionStitchingToken(step.session, step.expired, step.userID);
      ASSERT_TRUE(isAppInstanceID(token));
      if (previous) {
        EXPECT_EQ(*token == *previous, step.sameAsBefore);
      }
      previous = token;
    }
    identity->resetSessionStitchingToken();
    EXPECT_NE(identity->sessionStitchingToken(steps.back().session, steps.back().expired, true), previous);
  }
  auto identity = makeIdentity();
  denyStorage(kGWLConsentTypeAnalyticsStorage);
  EXPECT_EQ(identity->sessionStitchingToken(9, false, false), std::nullopt);
}

TEST_F(IdentityTest, DiversionKeyHasFiveCharacters) {
  auto identity = makeIdentity();
  struct Case {
    std::optional<std::string> stored;
    bool kept;
  } cases[] = {{std::nullopt, false}, {"", false}, {"abcd", false}, {"abcdef", false}, {"abcde", true},
               {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", true}};  // five characters, ten bytes
  for (const auto& c : cases) {
    persisted_->setDiversionKey(c.stored);
    auto key = identity->diversionKey();
    ASSERT_TRUE(key);
    if (c.kept) {
      EXPECT_EQ(key, c.stored);
    } else {
      EXPECT_TRUE(std::regex_match(*key, std::regex("^[0-9A-F]{5}$"))) << *key;
      EXPECT_EQ(persisted_->diversionKey(), key);
    }
  }
}

TEST_F(IdentityTest, TheIdentityServesTheExperimentsClient) {
  auto identity = makeIdentity();
  persisted_->setDiversionKey(std::string("K3Y12"));
  auto builder = std::make_shared<GWLEExperimentRequestBuilder>();
  builder->setIdentity(identity);
  builder->addSDKProperty(GWLESDKProperty::initWithName(platform::Object("sdk")));
  auto request = builder->request();
  auto properties = NANOGetMessageArray<GWLPBClientProperty>(request, GWLPBExperimentRequest::Field::client_properties);
  ASSERT_TRUE(properties && properties->size() == 1);
  EXPECT_EQ(NANOGetString((*properties)[0], GWLPBClientProperty::Field::diversion_id), "K3Y12-sdk");
}

TEST_F(IdentityTest, VersionFields) {
  struct Case {
    std::optional<std::string> text;
    std::vector<int32_t> fields;
    bool nonNumeric;
  } cases[] = {
      {"2.10.3", {2, 10, 3}, false},
      {"1..3", {1, 3}, false},
      {"4b", {4}, true},
      {std::nullopt, {}, false},
      {".", {}, false},
      {"x.7", {0, 7}, true},
      {"99999999999.1", {std::numeric_limits<int32_t>::max(), 1}, false},
      {"2147483647.2147483648", {2147483647, 2147483647}, false},
  };
  for (const auto& c : cases) {
    reports();
    setup_.monitorDefaults->removeObjectForKey(kGWLMonitorHealthMonitorKey);
    monitor_->clearMonitoringData();
    EXPECT_EQ(GWLIdentity::numericFieldsFromAppVersionNumeric(c.text, *monitor_), c.fields) << c.text.value_or("nil");
    EXPECT_EQ(lastSampledKey() == "1W_120500:" + std::string(kGWLAppVersionNonNumericMessage), c.nonNumeric);
  }
  auto identity = makeIdentity({{"CFBundleShortVersionString", "3.1"}, {"CFBundleVersion", "2.10"}});
  EXPECT_EQ(identity->appVersion(), "3.1");
  EXPECT_EQ(identity->appVersionMajor(), 2);
  EXPECT_EQ(identity->appVersionMinor(), 10);
  EXPECT_EQ(identity->appVersionRelease(), std::nullopt);
  EXPECT_EQ(identity->appID(), "com.halcyra.tabulo");
}

TEST_F(IdentityTest, LibraryVersion) {
  EXPECT_EQ(GWLIdentity::libraryVersionFromVersionText("120500000"), 120500);
  EXPECT_EQ(GWLIdentity::gaugewellLibraryVersion(), 120500);
  EXPECT_EQ(GWLIdentity::gaugewellLibraryVersion(), kGWLLibraryVersion);
  EXPECT_EQ(GWLIdentity::libraryVersionFromVersionText("1234"), 1);
  EXPECT_EQ(GWLIdentity::libraryVersionFromVersionText("123"), 0);
  EXPECT_EQ(GWLIdentity::libraryVersionFromVersionText(""), 0);
}

TEST_F(IdentityTest, PlatformAppID) {
  const std::string service =
      R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
      R"(<key>HALCYRA_APP_ID</key><string>1:1234:ios:abcd</string></dict></plist>)";
  EXPECT_EQ(makeIdentity({}, service)->appIDFromQRX(), "1:1234:ios:abcd");
  EXPECT_EQ(makeIdentity({}, std::string("not a property list"))->appIDFromQRX(), std::nullopt);
  EXPECT_EQ(makeIdentity({}, std::string(R"(<plist version="1.0"><dict><key>HALCYRA_APP_ID</key><integer>4)"
                                         R"(</integer></dict></plist>)"))
                ->appIDFromQRX(),
            std::nullopt);

  auto identity = makeIdentity();
  EXPECT_EQ(identity->appIDFromQRX(), std::nullopt);
  identity->setAppIDFromQRX(std::string("first"));
  identity->setAppIDFromQRX(std::string("second"));
  EXPECT_EQ(identity->appIDFromQRX(), "first");
  identity->setAppIDFromQRX(std::string(""));
  EXPECT_EQ(lastSampledKey(), "1E_120500:" + std::string(kGWLEmptyAppIDFromQRXMessage));
  EXPECT_EQ(identity->appIDFromQRX(), "first");
  // The first value given replaces the one of the service file.
  auto fromFile = makeIdentity({}, service);
  fromFile->setAppIDFromQRX(std::string("given"));
  EXPECT_EQ(fromFile->appIDFromQRX(), "given");
}

TEST_F(IdentityTest, EphemeralIDAndStoredValues) {
  auto identity = makeIdentity();
  const std::string ephemeral = identity->ephemeralAppInstanceID();
  EXPECT_TRUE(isAppInstanceID(ephemeral));
  EXPECT_EQ(identity->ephemeralAppInstanceID(), ephemeral);
  identity->resetEphemeralAppInstanceID();
  EXPECT_NE(identity->ephemeralAppInstanceID(), ephemeral);

  identity->setAppInstanceID(std::string("0123456789ABCDEF0123456789ABCDEF"));
  EXPECT_EQ(identity->appInstanceID(), "0123456789ABCDEF0123456789ABCDEF");
  identity->setShouldSetLastAdvertisingIDResetUserProperty(true);
  EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());
  identity->setCorvaneInstallationID(std::string("fid"));
  EXPECT_EQ(identity->corvaneInstallationID(), "fid");
}

TEST_F(IdentityTest, SharedInstanceIsTheExperimentsIdentity) {
  GWLIdentity::resetSharedInstanceForTesting();
  auto shared = GWLIdentity::sharedInstance();
  ASSERT_TRUE(shared);
  EXPECT_EQ(GWLIdentity::sharedInstance(), shared);
  auto builder = GWLEExperimentRequestBuilder::sharedInstance();
  builder->addSDKProperty(GWLESDKProperty::initWithName(platform::Object("shared_sdk")));
  auto properties =
      NANOGetMessageArray<GWLPBClientProperty>(builder->request(), GWLPBExperimentRequest::Field::client_properties);
  ASSERT_TRUE(properties);
  bool found = false;
  for (const auto& property : *properties) {
    if (NANOGetString(property, GWLPBClientProperty::Field::diversion_id) == *shared->diversionKey() + "-shared_sdk")
      found = true;
  }
  EXPECT_TRUE(found);
  builder->setIdentity(nullptr);
  GWLIdentity::resetSharedInstanceForTesting();
}

// The platform support waits for a slow platform at most its wait, then
// answers what an earlier request fetched; the late answer serves the next one.
class SlowPlatform : public FakePlatformIdentity {
 public:
  std::optional<std::string> resettableDeviceID() const override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++calls_;
    released_.wait(lock, [this] { return open_; });
    return answer_;
  }
  void answer(std::string identifier) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(identifier);
    open_ = true;
    released_.notify_all();
  }
  void hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  int calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable released_;
  mutable int calls_ = 0;
  bool open_ = true;
  std::string answer_;
};

TEST_F(IdentityTest, ASlowPlatformCostsAtMostTheWaitAndNeverPilesUpCalls) {
  auto platform = std::make_shared<SlowPlatform>();
  GWLDefaultIdentitySupport::Dependencies dependencies;
  dependencies.monitor = monitor_;
  dependencies.resettableDeviceIDWait = std::chrono::seconds(10);
  auto patient = GWLDefaultIdentitySupport::create(platform, dependencies);
  platform->answer(kIDA);
  EXPECT_EQ(patient->resettableDeviceID(), kIDA);
  EXPECT_FALSE(patient->limitedAdTracking());

  // A support that does not wait at all, over a platform that does not answer.
  dependencies.resettableDeviceIDWait = std::chrono::microseconds(0);
  auto hasty = GWLDefaultIdentitySupport::create(platform, dependencies);
  platform->hold();
  const int callsBefore = platform->calls();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(hasty->resettableDeviceID(), std::nullopt);
  EXPECT_TRUE(hasty->limitedAdTracking());
  platform->answer(kIDB);
  // The late answer serves a later request. Each poll below may start one
  // call of its own; the fifty requests made while the platform was silent
  // shared a single call.
  int polls = 0;
  while (hasty->resettableDeviceID() != kIDB && polls < 10000) {
    ++polls;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(hasty->resettableDeviceID(), kIDB);
  EXPECT_LE(platform->calls() - callsBefore, polls + 3);
}

TEST_F(IdentityTest, DefaultIdentitySupportReports) {
  struct Case {
    std::shared_ptr<FakePlatformIdentity> platform;
    std::vector<int64_t> printed;  // levels 4 and above print here; level 7 needs debug logging
  };
  auto withManager = std::make_shared<FakePlatformIdentity>();
  auto withoutManager = std::make_shared<FakePlatformIdentity>();
  withoutManager->set({true, 3, false, std::nullopt});
  const Case cases[] = {{withManager, {}}, {withoutManager, {kGWLAdSupportNotLinkedCode}},
                        {nullptr, {kGWLIdentitySupportNotLinkedCode}}};
  for (const auto& c : cases) {
    reports();
    GWLDefaultIdentitySupport::Dependencies dependencies;
    dependencies.monitor = monitor_;
    auto support = GWLDefaultIdentitySupport::create(c.platform, dependencies);
    EXPECT_EQ(codes(), c.printed);
    if (!c.platform) {
      EXPECT_FALSE(support->hasAppDataConsentStatus());
      EXPECT_FALSE(support->hasLimitedAdTracking());
      EXPECT_EQ(support->appDataConsentStatus(), -1);
      EXPECT_EQ(support->resettableDeviceID(), std::nullopt);
      EXPECT_TRUE(support->limitedAdTracking());
    }
  }
  EXPECT_TRUE(GWLDefaultIdentitySupport::iOS14OrAbove());
}

}  // namespace
}  // namespace measurement_test
