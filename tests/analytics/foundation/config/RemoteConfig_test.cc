#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <locale>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "platform/core/Log.h"

namespace {

enum class SettingKind { ktime, kint, kint64, kbool, ktimeint };

struct SettingCase {
  const char* getter;
  const char* key;
  SettingKind kind;
  double defaultValue;
  double minimum;
  double maximum;
  std::function<double(const GWLRemoteConfig&)> read;
};

void PrintTo(const SettingCase& setting, std::ostream* os) { *os << setting.getter; }

const SettingCase kSettings[] = {
#include "RemoteConfigSettingsCases.inc"
};

class RemoteConfigTest : public ::testing::Test {
 protected:
  std::shared_ptr<GWLRemoteConfig> configured(const std::string& key, const std::string& text) {
    auto config = std::make_shared<GWLRemoteConfig>(monitor_);
    config->replaceCachedValues({{key, text}});
    return config;
  }

  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
};

class RemoteConfigSettingTest : public RemoteConfigTest, public ::testing::WithParamInterface<SettingCase> {
 protected:
  // The configuration text for a value in the getter's unit: time settings are
  // configured in milliseconds.
  static std::string textFor(const SettingCase& setting, double value) {
    bool inMilliseconds = setting.kind == SettingKind::ktime || setting.kind == SettingKind::ktimeint;
    return std::to_string(static_cast<long long>(std::llround(inMilliseconds ? value * 1000 : value)));
  }
};

TEST_P(RemoteConfigSettingTest, DefaultBoundsAndRefusedValues) {
  const SettingCase& setting = GetParam();

  auto fresh = std::make_shared<GWLRemoteConfig>(monitor_);
  EXPECT_EQ(setting.read(*fresh), setting.defaultValue) << "default";
  auto cached = fresh->cachedValueForKey(setting.key);
  ASSERT_TRUE(cached && cached->numberValue()) << "the default is cached as a number";
  EXPECT_EQ(*cached->numberValue(), setting.defaultValue);

  EXPECT_EQ(setting.read(*configured(setting.key, textFor(setting, setting.minimum))), setting.minimum) << "minimum";
  EXPECT_EQ(setting.read(*configured(setting.key, textFor(setting, setting.maximum))), setting.maximum) << "maximum";

  for (const std::string& refused : {textFor(setting, setting.minimum - 1), textFor(setting, setting.maximum + 1),
                                     std::string("abc"), std::string(""), std::string("1e3"), std::string("12,5"),
                                     std::string(" 5"), std::string("--1"), std::string("1.2.3")}) {
    EXPECT_EQ(setting.read(*configured(setting.key, refused)), setting.defaultValue) << "configured as " << refused;
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, RemoteConfigSettingTest, ::testing::ValuesIn(kSettings),
                         [](const ::testing::TestParamInfo<SettingCase>& info) { return info.param.getter; });

TEST_F(RemoteConfigTest, TableHoldsEverySetting) { EXPECT_EQ(std::size(kSettings), 71u); }

TEST_F(RemoteConfigTest, ConversionsOfConfiguredTexts) {
  struct Case {
    const char* key;
    const char* text;
    std::function<double(const GWLRemoteConfig&)> read;
    double expected;
  };
  auto uploadingInterval = [](const GWLRemoteConfig& c) { return c.uploadingInterval(); };
  auto retryCount = [](const GWLRemoteConfig& c) { return static_cast<double>(c.uploadingRetryCount()); };
  auto bundlesPerIteration = [](const GWLRemoteConfig& c) {
    return static_cast<double>(c.maxBundlesCreatedPerIteration());
  };
  auto skanDelay = [](const GWLRemoteConfig& c) { return c.SKANInitialCVFetchDelay(); };
  auto timeZone = [](const GWLRemoteConfig& c) {
    return static_cast<double>(c.analyticsAccountTimeZoneOffsetMinutes());
  };
  const Case cases[] = {
      {kGWLSettingUploadingInterval, "60000", uploadingInterval, 60},
      {kGWLSettingUploadingInterval, "60000.9", uploadingInterval, 60},  // integral milliseconds
      {kGWLSettingUploadingInterval, "10", uploadingInterval, 3600},     // 0.01 s is below 15 s: not clamped
      {kGWLSettingUploadingInterval, "+60000", uploadingInterval, 60},
      {kGWLSettingUploadingRetryCount, "24.5", retryCount, 6},
      {kGWLSettingUploadingRetryCount, "12.5", retryCount, 12},
      {kGWLSettingUploadingRetryCount, ".5e1", retryCount, 6},
      {kGWLSettingMaxBundlesCreatedPerIteration, "5000", bundlesPerIteration, 5},  // read as milliseconds
      {kGWLSettingMaxBundlesCreatedPerIteration, "100", bundlesPerIteration, 100},
      {kGWLSettingSKANInitialCVFetchDelay, "120", skanDelay, 120},
      {kGWLSettingSKANInitialCVFetchDelay, "120000", skanDelay, 120},
      {kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes, "-900", timeZone, -900},
      {kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes, "-901", timeZone, 0},
      {kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes, "-0.5", timeZone, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.read(*configured(c.key, c.text)), c.expected) << c.key << " = " << c.text;
}

TEST_F(RemoteConfigTest, SwitchesAreOnOnlyForOne) {
  for (auto [text, expected] : std::vector<std::pair<const char*, bool>>{
           {"1", true}, {"0", false}, {"0.5", false}, {"2", false}, {"-1", false}}) {
    EXPECT_EQ(configured(kGWLSettingChecksumEnabled, text)->checksumEnabled(), expected) << text;
  }
  // A refused value gives the default, which is on for this one.
  EXPECT_TRUE(configured(kGWLSettingAppInBackgroundParameterEnabled, "2")->appInBackgroundParameterEnabled());
}

TEST_F(RemoteConfigTest, InternalParameterValueLengthIsAtLeast256) {
  auto at300 = configured(kGWLSettingMaxPublicEventParameterValueLength, "300");
  EXPECT_EQ(at300->maxPublicEventParameterValueLength(), 300);
  EXPECT_EQ(at300->maxInternalEventParameterValueLength(), 300);
  auto at100 = configured(kGWLSettingMaxPublicEventParameterValueLength, "100");
  EXPECT_EQ(at100->maxPublicEventParameterValueLength(), 100);
  EXPECT_EQ(at100->maxInternalEventParameterValueLength(), 256);
  EXPECT_EQ(GWLRemoteConfig(monitor_).maxInternalEventParameterValueLength(), 500);
}

TEST_F(RemoteConfigTest, ValueLimitsAreTheSettingsInForce) {
  EXPECT_EQ(GWLRemoteConfig(monitor_).valueLimits(), GWLValueLimits{}) << "the defaults of the settings";
  EXPECT_EQ(GWLRemoteConfig::defaultInstance()->valueLimits(), GWLValueLimits{});
  auto config = std::make_shared<GWLRemoteConfig>(monitor_);
  config->replaceCachedValues({{kGWLSettingMaxPublicEventParameterValueLength, "120"},
                               {kGWLSettingMaxPublicEventParams, "30"},
                               {kGWLSettingMaxItemScopedCustomParameters, "12"}});
  const GWLValueLimits limits = config->valueLimits();
  EXPECT_EQ(limits.maxPublicEventParameterValueLength, 120);
  EXPECT_EQ(limits.maxInternalEventParameterValueLength, 256);
  EXPECT_EQ(limits.maxPublicEventParams, 30);
  EXPECT_EQ(limits.maxItemScopedCustomParameters, 12);
}

TEST_F(RemoteConfigTest, ValueIsConvertedOnceAndReplacedWithTheNextConfiguration) {
  auto config = configured(kGWLSettingUploadingInterval, "60000");
  EXPECT_EQ(config->uploadingInterval(), 60);
  auto cached = config->cachedValueForKey(kGWLSettingUploadingInterval);
  ASSERT_TRUE(cached && cached->isDouble());
  // A number in the cache is answered as it is, without the bounds.
  config->cacheValue(platform::Object(5.0), kGWLSettingUploadingInterval);
  EXPECT_EQ(config->uploadingInterval(), 5);
  config->replaceCachedValues({{kGWLSettingUploadingInterval, "120000"}});
  EXPECT_EQ(config->uploadingInterval(), 120);
  config->replaceCachedValues({});
  EXPECT_EQ(config->uploadingInterval(), 3600);
}

TEST_F(RemoteConfigTest, NumbersParseTheSameUnderAnyLocale) {
  struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  auto config = configured(kGWLSettingUploadingRetryCount, "12.5");
  EXPECT_EQ(config->uploadingRetryCount(), 12);
  EXPECT_EQ(configured(kGWLSettingUploadingRetryCount, "12,5")->uploadingRetryCount(), 6);
  std::locale::global(previous);

  auto parsed = config->numberFromString(platform::Object("-0.25"));
  ASSERT_TRUE(parsed && parsed->isDouble());
  EXPECT_EQ(*parsed->doubleValue(), -0.25);
  parsed = config->numberFromString(platform::Object("9223372036854775807"));
  ASSERT_TRUE(parsed && parsed->isInt());
  EXPECT_EQ(*parsed->intValue(), INT64_MAX);
}

TEST_F(RemoteConfigTest, HugeValuesSaturateInsteadOfOverflowing) {
  auto config = configured("custom.int64", "99999999999999999999");
  EXPECT_EQ(config->int64ValueFromCacheWithKey("custom.int64", 7), INT64_MAX);
  auto negative = configured("custom.int64", "-99999999999999999999");
  EXPECT_EQ(negative->int64ValueFromCacheWithKey("custom.int64", 7), INT64_MIN);
}

TEST_F(RemoteConfigTest, ReportsRefusedCacheValues) {
  platform::log::ScopedCapture capture;
  auto config = std::make_shared<GWLRemoteConfig>(monitor_);
  EXPECT_FALSE(config->numberFromString(platform::Object(int64_t{5})));
  EXPECT_FALSE(config->cacheValue(platform::Object(), "key"));
  EXPECT_FALSE(config->cacheValue(platform::Object(1), ""));
  EXPECT_FALSE(config->numberFromCacheWithKey("", platform::Object(1), std::nullopt, std::nullopt));
  // A value that is neither text nor number gives the default.
  config->cacheValue(platform::Object(platform::Array{}), kGWLSettingUploadingRetryCount);
  EXPECT_EQ(config->uploadingRetryCount(), 6);
  monitor_->flush();
  // 29018 is silent (level 2) and 29019 too (level 5): they only feed the health sample.
  EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{
                                        "I-ACS029020 Cannot get setting with empty key from cache"});
  auto sample = setup_.monitorDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
  ASSERT_TRUE(sample);
  EXPECT_EQ((*sample)[1], platform::Object(int64_t{4})) << platform::Object(*sample).description();  // four silent reports
}

class FakeExperimentFlags : public GWLExperimentFlagSource {
 public:
  std::optional<platform::Object> experimentFlag(const std::string& name) const override {
    auto it = flags.find(name);
    if (it == flags.end()) return std::nullopt;
    return it->second;
  }
  std::map<std::string, platform::Object> flags;
};

TEST_F(RemoteConfigTest, ExperimentFlagsOverrideSettings) {
  auto flags = std::make_shared<FakeExperimentFlags>();
  GWLRemoteConfig config(monitor_, flags);
  config.replaceCachedValues({{kGWLSettingPSMGroupIDEnabled, "1"}, {kGWLSettingSessionStitchingTokenFeatureEnabled, "0"}});

  flags->flags[kGWLExperimentFlagPSMGroupIDEnabled] = false;
  EXPECT_TRUE(config.PSMGroupIDEnabled()) << "cached flags change only when the snapshot is activated";
  config.updateCachedExperimentFlags();
  EXPECT_FALSE(config.PSMGroupIDEnabled());
  EXPECT_TRUE(config.PSMSessionStartEnabled()) << "no flag: the setting's default";

  // The session-stitching flag is asked on every call.
  EXPECT_FALSE(config.sessionStitchingTokenFeatureEnabled());
  flags->flags[kGWLExperimentFlagSessionStitchingTokenFeatureEnabled] = "true";
  EXPECT_TRUE(config.sessionStitchingTokenFeatureEnabled());

  flags->flags.erase(kGWLExperimentFlagPSMGroupIDEnabled);
  config.updateCachedExperimentFlags();
  EXPECT_TRUE(config.PSMGroupIDEnabled()) << "a missing flag leaves the setting";
}

TEST_F(RemoteConfigTest, PSMStartCountIsTenInDebugMode) {
  GWLRemoteConfig config(monitor_);
  EXPECT_EQ(config.maxPSMStartCount(), 3);
  platform::log::ScopedCapture capture;  // restores the logger level the switch changes
  monitor_->setDebugModeEnabled(true);
  EXPECT_EQ(config.maxPSMStartCount(), 10);
}

TEST_F(RemoteConfigTest, DefaultInstanceKeepsItsDefaults) {
  auto config = GWLRemoteConfig::defaultInstance();
  EXPECT_TRUE(config->isDefaultInstance());
  config->replaceCachedValues({{kGWLSettingUploadingInterval, "60000"}});
  EXPECT_EQ(config->uploadingInterval(), 3600);
  EXPECT_FALSE(GWLRemoteConfig(monitor_).isDefaultInstance());
}

}  // namespace
