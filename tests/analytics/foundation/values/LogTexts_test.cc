#include <gtest/gtest.h>

#include "ValuesTestSupport.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "platform/env/AppEnvironment.h"

namespace {

class LogTextsTest : public foundation_test::LibraryMonitorTest {
 protected:
  void showPublicNames() {
    auto environment = platform::AppEnvironment::create({});
    ASSERT_TRUE(environment);
    environment->registerComponent("CVNAnalytics");
    platform::AppEnvironment::setShared(environment);
    monitor_->setSVTPDebugModeEnabled(true);
  }
  void TearDown() override {
    platform::AppEnvironment::setShared(previous_);
    LibraryMonitorTest::TearDown();
  }
  std::shared_ptr<platform::AppEnvironment> previous_ = platform::AppEnvironment::shared();
};

TEST_F(LogTextsTest, NamesAsTheyAreOutsideDebugMode) {
  EXPECT_EQ(GWLEventNameForLog("_s"), "_s");
  EXPECT_EQ(GWLParameterNameForLog("_sn"), "_sn");
  EXPECT_EQ(GWLUserPropertyNameForLog("_exp_12"), "experiment_id (_exp_12)");
  GWLParameters parameters{{"_err", GWLValue::initWithInt64(3)}};
  EXPECT_EQ(GWLDescriptionForLog(parameters), platform::Object(platform::Dictionary{{"_err", 3}}).description());
}

TEST_F(LogTextsTest, PublicNamesAndReadableParametersInDebugMode) {
  showPublicNames();
  EXPECT_EQ(GWLEventNameForLog("_s"), "session_start (_s)");
  EXPECT_EQ(GWLEventNameForLog("_cmp"), "ha_campaign (_cmp)");
  EXPECT_EQ(GWLEventNameForLog("tap"), "tap");
  EXPECT_EQ(GWLEventNameForLog("_unknown"), "_unknown");
  EXPECT_EQ(GWLParameterNameForLog("_sn"), "ha_screen (_sn)");  // not the "corvane_" name
  EXPECT_EQ(GWLUserPropertyNameForLog("_id"), "user_id (_id)");

  GWLParameters parameters{{"_err", GWLValue::initWithInt64(3)},
                           {"Zeta", GWLValue::initWithInt64(1)},
                           {"alpha", *GWLValue::initWithString("a")},
                           {"items", *GWLValue::initWithArray(platform::Array{platform::Dictionary{{"price", 2.5}}})}};
  EXPECT_EQ(GWLDescriptionForLog(parameters),
            "{\n"
            "    alpha = a;\n"
            "    ha_error (_err) = InvalidParameterName (3);\n"
            "    items = [\n"
            "    {\n"
            "        price = 2.5;\n"
            "    }\n"
            "    ];\n"
            "    Zeta = 1;\n"
            "}");
  EXPECT_EQ(GWLDescriptionForLog(platform::Dictionary{{"_err", 25}}), "{\n    ha_error (_err) = 25;\n}");
}

}  // namespace
