// The link of a user activity, and the launch link kept from the
// did-finish-launching notification's launch options.
#include <gtest/gtest.h>

#include "DeepLinksTestSupport.h"
#include "analytics/attribution/GWLStoredDeepLink.h"
#include "platform/appdelegate/LaunchOptions.h"

namespace deeplink_test {
namespace {

using platform::UserActivity;

UserActivity webActivity(const std::string& url, std::optional<std::string> referrer = std::nullopt) {
  return UserActivity{platform::kUserActivityTypeBrowsingWeb, url, std::move(referrer)};
}

class LaunchLinkTest : public DeepLinksTest {
 public:
  void useSystemVersion(const std::string& version) {
    platform::AppEnvironment::Configuration configuration;
    configuration.systemVersion = version;
    environment_ = platform::AppEnvironment::create(configuration);
    deepLinks_ = makeDeepLinks();
  }
};

TEST_F(LaunchLinkTest, UserActivityLinkOrItsReport) {
  const struct {
    const char* name;
    std::optional<UserActivity> activity;
    std::string systemVersion;
    bool supported;
    std::optional<std::string> link;
    std::vector<int64_t> printed;
  } cases[] = {
      {"web page", webActivity("https://tabulo.example/doc?utm_source=a"), "17.0", true,
       "https://tabulo.example/doc?utm_source=a", {}},
      {"no activity", std::nullopt, "17.0", true, std::nullopt, {kGWLEmptyUserActivityCode}},
      {"system 8", webActivity("https://tabulo.example/"), "8.4", true, std::nullopt,
       {kGWLDeepLinkNeedsNewerSystemCode}},
      {"system 9", webActivity("https://tabulo.example/"), "9", true, "https://tabulo.example/", {}},
      {"activities cannot tell", webActivity("https://tabulo.example/"), "17.0", false, std::nullopt,
       {kGWLUserActivityUnsupportedCode}},
      {"another type", UserActivity{"com.halcyra.tabulo.edit", "https://tabulo.example/", std::nullopt}, "17.0", true,
       std::nullopt, {kGWLUserActivityWithoutDeepLinkCode}},
      {"no web page", UserActivity{platform::kUserActivityTypeBrowsingWeb, std::nullopt, std::nullopt}, "17.0", true,
       std::nullopt, {kGWLUserActivityWithoutDeepLinkCode}},
      {"empty web page", webActivity(""), "17.0", true, std::nullopt, {kGWLUserActivityWithoutDeepLinkCode}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    useSystemVersion(c.systemVersion);
    GWLMeasurementDeepLinks::Dependencies dependencies;
    dependencies.monitor = monitor_;
    dependencies.environment = environment_;
    dependencies.isUserActivitySupported = [supported = c.supported] { return supported; };
    auto links = GWLMeasurementDeepLinks::create(dependencies);
    EXPECT_EQ(links->deepLinkFromUserActivity(c.activity), c.link);
    EXPECT_EQ(codes(), c.printed);
  }
}

TEST_F(LaunchLinkTest, LaunchOptionsKeepOneLink) {
  const std::string web = "https://tabulo.example/open?utm_source=web";
  const std::string launchURL = "tabulo://open?utm_source=launch";
  const std::string debugURL = "tabulo://open?utm_source=launch&svtp_debug_enable=1&svtp_preview_key=pk";
  auto activityOption = [](const UserActivity& activity) {
    return platform::Object(platform::Dictionary{
        {platform::kLaunchOptionsUserActivityKey, platform::Object(activity.dictionary())}});
  };
  const struct {
    const char* name;
    platform::Dictionary options;
    std::optional<std::string> storedLink;
    std::optional<std::string> storedReferrer;
    bool previewSet;
  } cases[] = {
      {"an activity's link beats the launch URL",
       {{platform::kLaunchOptionsUserActivityDictionaryKey, activityOption(webActivity(web, "https://ref.example/"))},
        {platform::kLaunchOptionsURLKey, launchURL}},
       web, "https://ref.example/", false},
      {"the launch URL alone", {{platform::kLaunchOptionsURLKey, launchURL}}, launchURL, std::nullopt, false},
      {"an activity without a link leaves the launch URL",
       {{platform::kLaunchOptionsUserActivityDictionaryKey,
         activityOption(UserActivity{"com.halcyra.tabulo.edit", web, std::nullopt})},
        {platform::kLaunchOptionsURLKey, launchURL}},
       launchURL, std::nullopt, false},
      {"an empty activity dictionary",
       {{platform::kLaunchOptionsUserActivityDictionaryKey, platform::Dictionary{}},
        {platform::kLaunchOptionsURLKey, launchURL}},
       launchURL, std::nullopt, false},
      {"the activity alone", {{platform::kLaunchOptionsUserActivityDictionaryKey, activityOption(webActivity(web))}},
       web, std::nullopt, false},
      {"the debug switch on a launch URL", {{platform::kLaunchOptionsURLKey, debugURL}}, debugURL, std::nullopt, true},
      {"the debug switch on a launch URL beside an activity",
       {{platform::kLaunchOptionsUserActivityDictionaryKey, activityOption(webActivity(web))},
        {platform::kLaunchOptionsURLKey, debugURL}},
       web, std::nullopt, true},
      {"no debug switch from an activity's link",
       {{platform::kLaunchOptionsUserActivityDictionaryKey,
         activityOption(webActivity("https://tabulo.example/?svtp_debug_enable=1&svtp_preview_key=pk"))}},
       "https://tabulo.example/?svtp_debug_enable=1&svtp_preview_key=pk", std::nullopt, false},
      {"entries of other kinds",
       {{platform::kLaunchOptionsUserActivityDictionaryKey, "activity"}, {platform::kLaunchOptionsURLKey, int64_t{1}}},
       std::nullopt, std::nullopt, false},
      {"no options", {}, std::nullopt, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GWLClearStoredDeepLink(*defaults_);
    GWLSVTPPreviewHeaders::replace(nullptr);
    deepLinks_->handleStoredURLAfterAppLaunchWithNotification(
        {platform::kApplicationDidFinishLaunchingNotification, c.options, nullptr});
    EXPECT_EQ(defaults_->stringForKey(kGWLStoredDeepLinkKey), c.storedLink);
    EXPECT_EQ(defaults_->stringForKey(kGWLStoredDeepLinkReferrerKey), c.storedReferrer);
    EXPECT_EQ(defaults_->objectForKey(kGWLStoredDeepLinkTimestampKey).has_value(), c.storedLink.has_value());
    EXPECT_EQ(deepLinks_->SVTPPreviewHeaders().has_value(), c.previewSet);
  }

  // The engine later reports the kept link as a campaign with its referrer,
  // through its hooks.
  GWLSVTPPreviewHeaders::replace(nullptr);
  auto hooks = this->hooks();
  hooks->handleStoredURLAfterAppLaunchWithNotification(
      {platform::kApplicationDidFinishLaunchingNotification,
       {{platform::kLaunchOptionsUserActivityDictionaryKey,
         activityOption(webActivity(web, "https://www.halcyra.com/search?q=tabulo"))}},
       nullptr});
  ASSERT_TRUE(hooks->hasStoredDeepLink());
  engine_->onWorkerQueue([&] { hooks->reportStoredCampaignEventOnWorkerQueue(std::nullopt); });
  auto events = engine_->takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->origin(), "hs");
  EXPECT_EQ(parameter(*events[0], "source"), platform::Object("web"));
}

}  // namespace
}  // namespace deeplink_test
