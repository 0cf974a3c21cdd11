#include <gtest/gtest.h>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"
#include "platform/storekit/Store.h"
#include "../FoundationTestSupport.h"

namespace {

class PlatformFactsTest : public ::testing::Test {
 protected:
  void use(platform::AppEnvironment::Configuration configuration) {
    auto environment = platform::AppEnvironment::create(std::move(configuration));
    ASSERT_TRUE(environment);
    platform::AppEnvironment::setShared(environment);
  }
  void TearDown() override { platform::AppEnvironment::setShared(previous_); }

  std::shared_ptr<platform::AppEnvironment> previous_ = platform::AppEnvironment::shared();
};

TEST_F(PlatformFactsTest, DeviceFactsComeFromTheAppEnvironment) {
  platform::AppEnvironment::Configuration configuration;
  configuration.deviceModel = "iPad13,4";
  configuration.systemVersion = "17.2";
  configuration.environment = {{"ActivePrewarm", "1"}};
  use(configuration);
  EXPECT_EQ(GWLAEU::deviceModel(), "iPad13,4");
  EXPECT_EQ(GWLAEU::systemVersion(), "17.2");
  EXPECT_FALSE(GWLAEU::isNOD());
  EXPECT_FALSE(GWLAEU::isASRS());
  EXPECT_FALSE(GWLAEU::isAEX());
  EXPECT_EQ(GWLAEU::appStoreRURL(), std::nullopt);
  EXPECT_EQ(GWLAEU::isFAS(), platform::AppEnvironment::isFromAppStore()) << "the build decides the install source";
  EXPECT_TRUE(GWLIsActivePrewarm());
  EXPECT_FALSE(GWLHasSceneManifest());
}

TEST_F(PlatformFactsTest, SimulatorIsNeverAStoreInstall) {
  for (const char* model : {"x86_64", "i386"}) {
    platform::AppEnvironment::Configuration configuration;
    configuration.deviceModel = model;
    configuration.environment = {{"ActivePrewarm", "0"}};
    use(configuration);
    EXPECT_TRUE(GWLAEU::isNOD()) << model;
    EXPECT_FALSE(GWLAEU::isFAS()) << model;
    EXPECT_FALSE(GWLIsActivePrewarm());
  }
}

TEST_F(PlatformFactsTest, TheReceiptIsTheStoresFile) {
  foundation_test::DataDirectory data;
  for (bool sandbox : {false, true}) {
    platform::Store::Configuration configuration;
    configuration.directory = data.root() + "/StoreKit";
    configuration.sandbox = sandbox;
    platform::Store::setShared(platform::Store::create(configuration));
    EXPECT_EQ(GWLAEU::appStoreRURL(), data.root() + (sandbox ? "/StoreKit/sandboxReceipt" : "/StoreKit/receipt"));
    EXPECT_EQ(GWLAEU::isASRS(), sandbox);
    if (sandbox) {
      EXPECT_FALSE(GWLAEU::isFAS());
    }
  }
  platform::Store::setShared(nullptr);
  EXPECT_EQ(GWLAEU::appStoreRURL(), data.root() + "/StoreKit/" +
                                        (platform::AppEnvironment::isFromAppStore() ? "receipt" : "sandboxReceipt"))
      << "the shared store of the data directory";

  // A false number under the receipt check switches the receipt off; other values leave it on.
  const std::string info = data.root() + "/Info.plist";
  for (const platform::Object& check : {platform::Object(false), platform::Object(int64_t{0}), platform::Object(0.0),
                                        platform::Object(true), platform::Object("NO")}) {
    ASSERT_TRUE(platform::PropertyList::writeFile(
        info, platform::Dictionary{{"CorvaneAppStoreReceiptURLCheckEnabled", check}}, platform::PropertyListFormat::XML));
    platform::AppEnvironment::Configuration configuration;
    configuration.infoDictionaryPath = info;
    use(configuration);
    const bool off = check.isBool() ? !*check.boolValue() : check.isNumber();
    EXPECT_EQ(GWLAEU::appStoreRURL().has_value(), !off) << check.description();
  }
}

TEST_F(PlatformFactsTest, AppActiveFollowsItsProvider) {
  EXPECT_FALSE(GWLIsAppActive()) << "no screen-view reporter yet";
  GWLSetAppActiveProvider([] { return true; });
  EXPECT_TRUE(GWLIsAppActive());
  GWLSetAppActiveProvider(nullptr);
}

TEST_F(PlatformFactsTest, IdentitySupportKnowsOnlyWhatIsPresent) {
  use({});
  GWLPlatformIdentitySupport absent;
  EXPECT_FALSE(absent.hasAppDataConsentStatus());
  EXPECT_EQ(absent.appDataConsentStatus(), -1);
  EXPECT_FALSE(absent.hasLimitedAdTracking());
  EXPECT_FALSE(absent.limitedAdTracking());
  EXPECT_EQ(absent.resettableDeviceID(), std::nullopt);

  platform::AppEnvironment::shared()->registerComponent("ATTrackingManager");
  platform::AppEnvironment::shared()->registerComponent("ASIdentifierManager");
  EXPECT_TRUE(GWLAEU::classExists("ATTrackingManager"));
  GWLPlatformIdentitySupport present;
  EXPECT_TRUE(present.hasAppDataConsentStatus());
  EXPECT_TRUE(present.hasLimitedAdTracking());
  EXPECT_EQ(present.appDataConsentStatus(), -1);
}

}  // namespace
