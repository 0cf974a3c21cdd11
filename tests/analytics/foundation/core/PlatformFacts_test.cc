#include <gtest/gtest.h>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "platform/adsupport/AdvertisingServices.h"
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
  EXPECT_EQ(present.appDataConsentStatus(), -1) << "present, but not answering";
  EXPECT_FALSE(present.limitedAdTracking());
  EXPECT_EQ(present.resettableDeviceID(), std::nullopt);
}

// What the services answer reaches the identity only through a service the
// process has; an identifier that is not a UUID is no identifier.
TEST_F(PlatformFactsTest, IdentitySupportAnswersWhatThePresentServicesSay) {
  const platform::AdvertisingServicesResetOnExit reset;
  platform::ASIdentifierManager::setAnswers({"6d9d2d1c-0b1e-4f5a-9c3d-1a2b3c4d5e6f", false});
  platform::ATTrackingManager::setTrackingAuthorizationStatus(platform::ATTrackingAuthorizationStatus::Denied);
  use({});
  GWLPlatformIdentitySupport absent;
  EXPECT_EQ(absent.resettableDeviceID(), std::nullopt);
  EXPECT_FALSE(absent.limitedAdTracking());
  EXPECT_EQ(absent.appDataConsentStatus(), -1);

  platform::AppEnvironment::shared()->registerComponent(platform::kATTrackingManagerComponentName);
  platform::AppEnvironment::shared()->registerComponent(platform::kASIdentifierManagerComponentName);
  GWLPlatformIdentitySupport present;
  EXPECT_EQ(present.resettableDeviceID(), "6D9D2D1C-0B1E-4F5A-9C3D-1A2B3C4D5E6F");
  EXPECT_TRUE(present.limitedAdTracking()) << "tracking switched off";
  EXPECT_EQ(present.appDataConsentStatus(), 2);

  for (const char* notUUID : {"", "6d9d2d1c0b1e4f5a9c3d1a2b3c4d5e6f", "6d9d2d1c-0b1e-4f5a-9c3d-1a2b3c4d5e6g",
                              "6d9d2d1c-0b1e-4f5a-9c3d-1a2b3c4d5e6f0"}) {
    platform::ASIdentifierManager::setAnswers({notUUID, true});
    EXPECT_EQ(present.resettableDeviceID(), std::nullopt) << notUUID;
    EXPECT_FALSE(present.limitedAdTracking());
  }
}

}  // namespace
