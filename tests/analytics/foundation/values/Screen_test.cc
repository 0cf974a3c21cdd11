#include "analytics/foundation/values/GWLScreen.h"

#include <gtest/gtest.h>

#include <string>

#include "ValuesTestSupport.h"

namespace {

using foundation_test::kDefaultLimits;
using foundation_test::Report;

class ScreenTest : public foundation_test::LibraryMonitorTest {};

GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }

TEST_F(ScreenTest, CopyKeepsNameClassAndInstanceIDOnly) {
  GWLScreen screen("Cart", "CartViewController", -42);
  screen.setIsManuallySet(true);
  screen.setIsManuallyTracked(true);
  screen.setEventTimestamp(1'700'000'000.5);
  const GWLScreen copy = screen.copy();
  EXPECT_EQ(copy.name(), "Cart");
  EXPECT_EQ(copy.className(), "CartViewController");
  EXPECT_EQ(copy.instanceID(), -42);
  EXPECT_FALSE(copy.isManuallySet());
  EXPECT_FALSE(copy.isManuallyTracked());
  EXPECT_EQ(copy.eventTimestamp(), 0);
}

TEST_F(ScreenTest, ParametersCheckClassAndName) {
  const std::string longest(kDefaultLimits.maxPublicEventParameterValueLength, 'c');
  const std::string tooLong = longest + "c";
  const struct {
    const char* what;
    GWLScreen screen;
    GWLParameters parameters;
    std::vector<int64_t> codes;  // the screen's own reports, in order
  } cases[] = {
      {"name and class", GWLScreen("Cart", "CartVC", 7),
       {{"_si", GWLValue::initWithInt64(7)}, {"_sc", text("CartVC")}, {"_sn", text("Cart")}}, {}},
      {"no name", GWLScreen(std::nullopt, "CartVC", 7), {{"_si", GWLValue::initWithInt64(7)}, {"_sc", text("CartVC")}},
       {}},
      {"name too long is left out silently", GWLScreen(tooLong, longest, 7),
       {{"_si", GWLValue::initWithInt64(7)}, {"_sc", text(longest)}}, {}},
      {"empty class", GWLScreen("Cart", "", 7), {{"_si", GWLValue::initWithInt64(7)}},
       {kGWLScreenClassEmptyCode, kGWLScreenClassInvalidCode}},
      {"no class", GWLScreen("Cart", std::nullopt, 7), {{"_si", GWLValue::initWithInt64(7)}},
       {kGWLScreenClassEmptyCode, kGWLScreenClassInvalidCode}},
      {"class too long", GWLScreen("Cart", tooLong, 7), {{"_si", GWLValue::initWithInt64(7)}},
       {kGWLScreenClassInvalidCode}},
  };
  for (const auto& c : cases) {
    reports();
    EXPECT_EQ(GWLScreenParameters(c.screen, kDefaultLimits, *monitor_), c.parameters) << c.what;
    std::vector<int64_t> codes;
    for (const Report& report : reports()) {
      if (report.code == kGWLScreenClassEmptyCode || report.code == kGWLScreenClassInvalidCode) {
        EXPECT_EQ(report.level, 3) << c.what;
        codes.push_back(report.code);
      }
    }
    EXPECT_EQ(codes, c.codes) << c.what;
  }
}

TEST_F(ScreenTest, ParametersFollowTheConfiguredLength) {
  const GWLValueLimits limits = useSettings({{kGWLSettingMaxPublicEventParameterValueLength, "100"}});
  ASSERT_EQ(limits.maxPublicEventParameterValueLength, 100);
  const std::string longest(100, 'c');
  EXPECT_EQ(GWLScreenParameters(GWLScreen("Cart", longest, 1), limits, *monitor_).size(), 3u);
  EXPECT_EQ(GWLScreenParameters(GWLScreen("Cart", longest + "c", 1), limits, *monitor_).size(), 1u);
}

}  // namespace
