#include <gtest/gtest.h>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "platform/env/AppEnvironment.h"

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
