#include "platform/env/AppEnvironment.h"

#include <gtest/gtest.h>

#include "platform/TestSupport.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

TEST(AppEnvironment, ReadsTheInfoDictionaryAndConfiguredFacts) {
  testing::ScratchDirectory scratch;
  const std::string info = scratch / "Info.plist";
  ASSERT_TRUE(PropertyList::writeFile(info,
                                      Dictionary{{"CFBundleIdentifier", "com.example.sheet"},
                                                 {"CFBundleShortVersionString", "2.1"},
                                                 {"CFBundleVersion", "7"},
                                                 {"CorvaneAutomaticScreenReportingEnabled", false}},
                                      PropertyListFormat::XML));
  AppEnvironment::Configuration config;
  config.infoDictionaryPath = info;
  config.arguments = {"tabulo", "-AnalyticsDebugEnabled"};
  config.environment = {{"ActivePrewarm", "1"}};
  config.deviceModel = "iPad13,1";
  auto env = AppEnvironment::create(config);
  ASSERT_TRUE(env);
  EXPECT_EQ(env->bundleIdentifier(), "com.example.sheet");
  EXPECT_EQ(env->version(), "2.1");
  EXPECT_EQ(env->buildVersion(), "7");
  ASSERT_TRUE(env->objectForInfoDictionaryKey("CorvaneAutomaticScreenReportingEnabled"));
  EXPECT_EQ(*env->objectForInfoDictionaryKey("CorvaneAutomaticScreenReportingEnabled"), Object(false));
  EXPECT_FALSE(env->objectForInfoDictionaryKey("UIApplicationSceneManifest"));
  EXPECT_EQ(env->deviceModel(), "iPad13,1");
  EXPECT_EQ(env->systemVersion(), kDefaultSystemVersion);
  EXPECT_EQ(env->arguments().at(1), "-AnalyticsDebugEnabled");
  EXPECT_EQ(env->environmentValue("ActivePrewarm"), "1");
  EXPECT_FALSE(env->environmentValue("HOME"));

  // A configured identifier wins over the Info dictionary's; without either, the default.
  config.bundleIdentifier = "com.example.override";
  EXPECT_EQ(AppEnvironment::create(config)->bundleIdentifier(), "com.example.override");
  EXPECT_EQ(AppEnvironment::create({})->bundleIdentifier(), kDefaultBundleIdentifier);
  EXPECT_EQ(AppEnvironment::create({})->deviceModel(), "iPhone14,5");
}

TEST(AppEnvironment, AnUnreadableInfoDictionaryIsAnError) {
  testing::ScratchDirectory scratch;
  testing::writeFile(scratch / "array.plist", "<plist version=\"1.0\"><array/></plist>");
  for (const std::string& path : {scratch / "missing.plist", scratch / "array.plist"}) {
    AppEnvironment::Configuration config;
    config.infoDictionaryPath = path;
    Error error;
    EXPECT_FALSE(AppEnvironment::create(config, &error)) << path;
    EXPECT_FALSE(error.description.empty());
  }
}

TEST(AppEnvironment, KnowsItsComponentsAndInstallSource) {
  auto env = AppEnvironment::create({});
  EXPECT_FALSE(env->hasComponent("CVNAnalytics"));
  env->registerComponent("CVNAnalytics");
  EXPECT_TRUE(env->hasComponent("CVNAnalytics"));
  EXPECT_FALSE(env->hasComponent("ATTrackingManager"));
#if defined(TABULO_STORE_BUILD) && TABULO_STORE_BUILD
  EXPECT_TRUE(AppEnvironment::isFromAppStore());
#else
  EXPECT_EQ(AppEnvironment::installSource(), AppEnvironment::InstallSource::Development);
#endif
}

TEST(AppEnvironment, ComponentsAnswerTheClassMethodsTheyName) {
  auto env = AppEnvironment::create({});
  int calls = 0;
  env->registerComponent("KXWManager", {{"initializeSharedInstance", [&] { ++calls; }}, {"unimplemented", {}}});
  EXPECT_TRUE(env->componentRespondsTo("KXWManager", "initializeSharedInstance"));
  EXPECT_TRUE(env->componentRespondsTo("KXWManager", "unimplemented"));
  EXPECT_FALSE(env->componentRespondsTo("KXWManager", "other"));
  EXPECT_FALSE(env->componentRespondsTo("Absent", "initializeSharedInstance"));
  EXPECT_FALSE(env->componentMethod("KXWManager", "unimplemented"));
  env->componentMethod("KXWManager", "initializeSharedInstance")();
  EXPECT_EQ(calls, 1);
  env->registerComponent("KXWManager");  // registered again: its methods are replaced
  EXPECT_TRUE(env->hasComponent("KXWManager"));
  EXPECT_FALSE(env->componentRespondsTo("KXWManager", "initializeSharedInstance"));
}

TEST(AppEnvironment, TheShippedInfoDictionaryNamesTheApp) {
  AppEnvironment::Configuration config;
  config.infoDictionaryPath = TABULO_SOURCE_DIR "/tools/tabulo/Info.plist";
  auto env = AppEnvironment::create(config);
  ASSERT_TRUE(env);
  EXPECT_EQ(env->bundleIdentifier(), kDefaultBundleIdentifier);
  EXPECT_FALSE(env->version().empty());
}

}  // namespace
}  // namespace platform
