// The core-framework and installations stand-ins: options from the service
// file and the Info dictionary, one installation ID per data directory.
#include <gtest/gtest.h>

#include <fstream>

#include "TestTmp.h"
#include "platform/corvane/CVNApp.h"
#include "platform/corvane/CVNInstallations.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"

namespace {

using platform::Dictionary;
using platform::Object;
using tabulo_test::TestTmp;

std::shared_ptr<platform::AppEnvironment> environmentIn(const std::filesystem::path& directory, const Dictionary& info,
                                                        const std::optional<Dictionary>& service) {
  const auto infoPath = directory / "Info.plist";
  EXPECT_TRUE(platform::PropertyList::writeFile(infoPath.string(), Object(info), platform::PropertyListFormat::XML));
  if (service) {
    EXPECT_TRUE(platform::PropertyList::writeFile((directory / "HalcyraService-Info.plist").string(), Object(*service),
                                                  platform::PropertyListFormat::XML));
  }
  platform::AppEnvironment::Configuration configuration;
  configuration.infoDictionaryPath = infoPath.string();
  return platform::AppEnvironment::create(configuration);
}

TEST(CVNCoreTest, OptionsComeFromTheServiceFileAndTheInfoSwitches) {
  struct Case {
    const char* what;
    Dictionary info;
    std::optional<Dictionary> service;
    bool readable;
    bool enabled;
    bool deactivated;
  };
  const std::vector<Case> cases = {
      {"switches absent", {}, Dictionary{{"HALCYRA_APP_ID", "1:2:ios:3"}}, true, true, false},
      {"switches set",
       {{"CORVANE_ANALYTICS_COLLECTION_ENABLED", false}, {"CORVANE_ANALYTICS_COLLECTION_DEACTIVATED", true}},
       Dictionary{{"HALCYRA_APP_ID", "1:2:ios:3"}},
       true,
       false,
       true},
      {"no service file", {}, std::nullopt, false, false, false},
      {"empty app ID", {}, Dictionary{{"HALCYRA_APP_ID", ""}}, false, false, false},
      {"app ID not text", {}, Dictionary{{"HALCYRA_APP_ID", 5}}, false, false, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    TestTmp tmp;
    auto environment = environmentIn(tmp.path(), test.info, test.service);
    ASSERT_TRUE(environment);
    platform::Error error;
    auto options = platform::CVNOptions::fromEnvironment(*environment, &error);
    ASSERT_EQ(options.has_value(), test.readable);
    if (!options) {
      EXPECT_FALSE(error.description.empty());
      continue;
    }
    EXPECT_EQ(options->halcyraAppID, "1:2:ios:3");
    EXPECT_EQ(options->isAnalyticsCollectionEnabled, test.enabled);
    EXPECT_EQ(options->isAnalyticsCollectionDeactivated, test.deactivated);
  }
}

TEST(CVNCoreTest, OneInstallationIDPerDataDirectory) {
  TestTmp tmp;
  auto queue = platform::SerialQueue::create("installations");
  int made = 0;
  auto ask = [&](const std::shared_ptr<platform::CVNInstallations>& installations) {
    std::optional<std::string> answer;
    installations->installationIDWithCompletion([&](const auto& id, const auto& error) {
      EXPECT_TRUE(queue->isCurrent());
      EXPECT_FALSE(error);
      answer = id;
    });
    queue->flush();
    return answer;
  };
  auto maker = [&made] { return "id-" + std::to_string(++made); };
  const std::string directory = (tmp.path() / "support").string();
  EXPECT_EQ(ask(platform::CVNInstallations::create({directory, queue, maker})), std::optional<std::string>("id-1"));
  // A new instance (as in the next process) reads the stored one.
  EXPECT_EQ(ask(platform::CVNInstallations::create({directory, queue, maker})), std::optional<std::string>("id-1"));
  EXPECT_EQ(made, 1);
  const std::string other = (tmp.path() / "other").string();
  EXPECT_EQ(ask(platform::CVNInstallations::create({other, queue, maker})), std::optional<std::string>("id-2"));
}

}  // namespace
