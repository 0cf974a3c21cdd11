#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLDictionaryQuery.h"
#include "analytics/foundation/core/GWLEnvironmentInfo.h"
#include "analytics/foundation/core/GWLKeychainWrapper.h"
#include "analytics/foundation/core/GWLNumericUtil.h"
#include "analytics/foundation/core/GWLStringAdditions.h"
#include "platform/crypto/SecureStore.h"
#include "platform/env/AppEnvironment.h"

namespace {

TEST(QueryStrings, FirstOccurrenceWinsAndArgumentsAreUnescaped) {
  using Arguments = std::map<std::string, std::string>;
  EXPECT_EQ(gwl_dictionaryWithHttpArgumentsString("a=1&b=2&a=3"), (Arguments{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(gwl_dictionaryWithHttpArgumentsString("x"), (Arguments{{"x", ""}}));
  EXPECT_EQ(gwl_dictionaryWithHttpArgumentsString("k=a+b%20c"), (Arguments{{"k", "a b c"}}));
  EXPECT_EQ(gwl_dictionaryWithHttpArgumentsString("&&k=v=w&bad=%zz&"), (Arguments{{"k", "v=w"}, {"bad", ""}}));

  EXPECT_EQ(gwl_queryString({{"app_instance_id", "abc"}, {"gmp_version", 120500}, {"q", "a&b=c+d e"}}),
            "app_instance_id=abc&gmp_version=120500&q=a%26b%3Dc%2Bd%20e");
  EXPECT_EQ(gwl_dictionaryWithHttpArgumentsString(gwl_queryString({{"q", "a&b=c+d e"}})),
            (Arguments{{"q", "a&b=c+d e"}}));
}

TEST(BitStrings, OnlyIndexesInsideTheTextAreBits) {
  EXPECT_TRUE(isBitEnabledAtIndex("0101", 1));
  EXPECT_FALSE(isBitEnabledAtIndex("0101", 2));
  EXPECT_FALSE(isBitEnabledAtIndex("0101", -1));
  EXPECT_FALSE(isBitEnabledAtIndex("0101", 4));
  EXPECT_FALSE(isBitEnabledAtIndex("", 0));
}

TEST(Digests, LeastSignificantBitsAndMD5) {
  const uint8_t three[] = {0x01, 0x02, 0x03};
  EXPECT_EQ(gwl_64LeastSignificantBits(three), 66051u);
  const uint8_t nine[] = {0xff, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(gwl_64LeastSignificantBits(nine), 0x0102030405060708u);
  EXPECT_EQ(gwl_64LeastSignificantBits({}), 0u);
  EXPECT_EQ(gwl_64LSBMD5({}), 0xe9800998ecf8427eu);  // MD5 of nothing: d41d8cd98f00b204e9800998ecf8427e
  EXPECT_EQ(gwl_MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(gwl_MD5String("\xff"), std::nullopt);
}

TEST(Utf32, LengthsAndWholeCharacters) {
  const std::string text = "a\xc3\xa9\xf0\x9f\x98\x80";  // a, e acute, an emoji
  EXPECT_EQ(gwl_UTF32Length(text), 3u);
  EXPECT_EQ(gwl_getUTF32Bytes(text, 10), (std::vector<uint8_t>{'a', 0, 0, 0, 0xe9, 0, 0, 0}));
  EXPECT_EQ(gwl_getUTF32Bytes(text, 12).size(), 12u);
  EXPECT_EQ(gwl_getUTF32Bytes(text, 3).size(), 0u);
}

TEST(EnvironmentInfo, TimeZoneOffsetAndLanguage) {
  const char* previousTZ = std::getenv("TZ");
  std::string saved = previousTZ ? previousTZ : "";
  setenv("TZ", "NST+3:30", 1);
  tzset();
  EXPECT_EQ(GWLEnvironmentInfo::timeZoneOffsetMinutes(1700000000), -210);
  if (previousTZ) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  auto previous = platform::AppEnvironment::shared();
  platform::AppEnvironment::Configuration configuration;
  configuration.environment = {{"LANG", "de_AT.UTF-8"}};
  platform::AppEnvironment::setShared(platform::AppEnvironment::create(configuration));
  GWLEnvironmentInfo info;
  EXPECT_EQ(info.userDefaultLanguage(), "de-at");
  EXPECT_EQ(info.deviceModel(), platform::kDefaultDeviceModel);
  configuration.environment = {{"LANGUAGE", "fr_CA:en"}, {"LANG", "C"}};
  platform::AppEnvironment::setShared(platform::AppEnvironment::create(configuration));
  EXPECT_EQ(info.userDefaultLanguage(), "fr-ca");

  foundation_test::MonitorSetup setup;
  GWLLibraryMonitor::resetForTesting(setup.make());
  configuration.environment = {{"LANG", "C"}};
  platform::AppEnvironment::setShared(platform::AppEnvironment::create(configuration));
  EXPECT_EQ(info.userDefaultLanguage(), std::nullopt);
  GWLLibraryMonitor::resetForTesting();
  platform::AppEnvironment::setShared(previous);
}

TEST(Keychain, StoresReplacesAndDeletesItems) {
  foundation_test::ScratchDirectory directory;
  GWLKeychainWrapper::setSecureStore(std::make_shared<platform::SecureStore>(directory.path() / "Keychains"));
  EXPECT_FALSE(GWLKeychainWrapper::upsertKeychainValue("", "_pfo", "1:123:ios:abc"));
  EXPECT_FALSE(GWLKeychainWrapper::upsertKeychainValue("3", "", "1:123:ios:abc"));
  EXPECT_EQ(GWLKeychainWrapper::keychainValueWithIdentifier("_pfo", "1:123:ios:abc"), std::nullopt);

  EXPECT_TRUE(GWLKeychainWrapper::upsertKeychainValue("3", "_pfo", "1:123:ios:abc"));
  EXPECT_TRUE(GWLKeychainWrapper::upsertKeychainValue("4", "_pfo", "1:123:ios:abc"));
  EXPECT_EQ(GWLKeychainWrapper::keychainValueWithIdentifier("_pfo", "1:123:ios:abc"), "4");
  EXPECT_EQ(GWLKeychainWrapper::keychainValueWithIdentifier("_pfo", "other app"), std::nullopt);
  GWLKeychainWrapper::deleteKeychainValueWithIdentifier("_pfo", "1:123:ios:abc");
  EXPECT_EQ(GWLKeychainWrapper::keychainValueWithIdentifier("_pfo", "1:123:ios:abc"), std::nullopt);
  GWLKeychainWrapper::setSecureStore(nullptr);
}

TEST(NumericUtil, RandomIdentifiersDiffer) {
  EXPECT_NE(GWLNumericUtil::randomInt64(), GWLNumericUtil::randomInt64());
}

}  // namespace
