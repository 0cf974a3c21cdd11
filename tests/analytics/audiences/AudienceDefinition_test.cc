#include "analytics/audiences/GWLAudienceDefinition.h"

#include <string>

#include "AudienceFiltersTestSupport.h"
#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLError.h"

namespace audience_test {
namespace {

class AudienceDefinitionTest : public AudienceFiltersTest {
 protected:
  // The definition's error, or "valid".
  std::string check(const std::shared_ptr<GWLPBAudience>& definition, const std::set<int32_t>& accepted = {}) {
    platform::Error error;
    if (GWLAudienceValidateDefinition(definition, accepted, environment(), &error)) return "valid";
    EXPECT_EQ(error.domain, kGWLErrorDomain);
    return std::to_string(error.code) + " " + error.description;
  }
};

std::shared_ptr<GWLPBEventFilter> purchases(int32_t filterID) {
  return eventFilter(filterID, "purchase", {numberCondition(numberFilter(2, "10"), "value")});
}

std::shared_ptr<GWLPBPropertyFilter> goldPlan(int32_t filterID) {
  return propertyFilter(filterID, "plan", textCondition(stringFilter(5, "gold")));
}

std::shared_ptr<GWLPBNumberFilter> floatCount() {
  auto count = numberFilter(2, "1");
  NANOSetBool(count, GWLPBNumberFilter::Field::is_float, true);
  return count;
}

template <typename Make>
auto times(int count, Make make) {
  std::vector<decltype(make(0))> items;
  for (int i = 0; i < count; ++i) items.push_back(make(i));
  return items;
}

TEST_F(AudienceDefinitionTest, EveryTextWithItsCodeInFirstFailureOrder) {
  auto byName = [](int32_t id) { return numberCondition(numberFilter(3, "1"), "p" + std::to_string(id)); };
  auto floatParameter = numberFilter(2, "1.5");
  NANOSetBool(floatParameter, GWLPBNumberFilter::Field::is_float, true);
  struct Case {
    std::shared_ptr<GWLPBAudience> definition;
    std::string expected;
  };
  const Case cases[] = {
      {audience(1, {purchases(0)}, {goldPlan(1)}), "valid"},
      // The audience itself.
      {audience(std::nullopt, {}), "9 Missing audience ID"},
      {audience(-1, {purchases(0)}), "9 Audience ID is negative"},
      // Repeated fields always read as present, so an audience without filters is a count out of range.
      {audience(1, {}), "9 Audience filter count out of range"},
      {audience(1, times(10, purchases)), "valid"},
      {audience(1, times(6, purchases), times(5, [](int i) { return goldPlan(6 + i); })),
       "9 Audience filter count out of range"},
      // Event filters.
      {audience(1, {eventFilter(0, std::nullopt)}), "10 Event filter missing event name"},
      {audience(1, {eventFilter(0, "")}), "10 Event filter missing event name"},
      {audience(1, {eventFilter(std::nullopt, "purchase")}), "10 Missing event filter ID"},
      {audience(1, {eventFilter(-1, "purchase")}), "10 Event filter ID is out of range"},
      {audience(1, {eventFilter(10, "purchase")}), "10 Event filter ID is out of range"},
      {audience(1, {eventFilter(9, "purchase")}), "valid"},
      {audience(1, {purchases(3), purchases(3)}), "10 Duplicate event filter ID"},
      {audience(1, {eventFilter(0, "purchase", {}, floatCount())}), "10 Event filter has float event count filter"},
      {audience(1, {eventFilter(0, "purchase", {}, numberFilter(0, "1"))}),
       "10 Event filter has invalid event count filter"},
      {audience(1, {eventFilter(0, "purchase", times(25, byName))}), "valid"},
      {audience(1, {eventFilter(0, "purchase", times(26, byName))}),
       "10 Event filter parameters filters count out of range"},
      {audience(1, {eventFilter(0, "purchase", {numberCondition(numberFilter(3, "1"))})}),
       "10 Event filter missing parameter name"},
      {audience(1, {eventFilter(0, "purchase", {numberCondition(numberFilter(3, "1"), "")})}),
       "10 Event filter missing parameter name"},
      {audience(1, {eventFilter(0, "purchase", {condition(stringFilter(5, "a"), numberFilter(3, "1"), "p")})}),
       "10 Event filter must have exactly one of number or string filter"},
      {audience(1, {eventFilter(0, "purchase", {condition(nullptr, nullptr, "p")})}),
       "10 Event filter must have exactly one of number or string filter"},
      {audience(1, {eventFilter(0, "purchase", {numberCondition(numberFilter(3, "one"), "p")})}),
       "10 Event filter has invalid number filter"},
      {audience(1, {eventFilter(0, "purchase", {textCondition(stringFilter(1, "a("), "p")})}),
       "10 Event filter has invalid string filter"},
      {audience(1, {eventFilter(0, "purchase", {numberCondition(floatParameter, "p")})}), "valid"},
      // Property filters.
      {audience(1, {}, {propertyFilter(0, std::nullopt, textCondition(stringFilter(5, "a")))}),
       "11 Property filter missing property name"},
      {audience(1, {}, {propertyFilter(std::nullopt, "plan", textCondition(stringFilter(5, "a")))}),
       "11 Missing property filter ID"},
      {audience(1, {}, {goldPlan(10)}), "11 Property filter ID is out of range"},
      {audience(1, {}, {goldPlan(-5)}), "11 Property filter ID is out of range"},
      {audience(1, {purchases(4)}, {goldPlan(4)}), "11 Duplicate property filter ID"},
      {audience(1, {}, {goldPlan(2), goldPlan(2)}), "11 Duplicate property filter ID"},
      {audience(1, {}, {propertyFilter(0, "plan", nullptr)}), "11 Property filter has no filter"},
      {audience(1, {}, {propertyFilter(0, "plan", condition(nullptr, nullptr))}),
       "11 Property filter must have exactly one of number or string filter"},
      {audience(1, {}, {propertyFilter(0, "plan", numberCondition(numberFilter(9, "1")))}),
       "11 Property filter has invalid number filter"},
      {audience(1, {}, {propertyFilter(0, "plan", textCondition(stringFilter(6)))}),
       "11 Property filter has invalid string filter"},
      // The first failure wins: the audience before its filters, event filters before property filters.
      {audience(-1, {eventFilter(0, std::nullopt)}), "9 Audience ID is negative"},
      {audience(1, {eventFilter(0, std::nullopt)}, {propertyFilter(0, std::nullopt, nullptr)}),
       "10 Event filter missing event name"},
      {audience(1, {eventFilter(0, "")}, {goldPlan(-1)}), "10 Event filter missing event name"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check(c.definition), c.expected) << GWLAudienceMessageDescription(c.definition.get());
  }
}

TEST_F(AudienceDefinitionTest, AcceptedAudienceIDsAreNotReused) {
  EXPECT_EQ(check(audience(7, {purchases(0)}), {3, 7}), "9 Duplicate audience ID");
  EXPECT_EQ(check(audience(8, {purchases(0)}), {3, 7}), "valid");
}

TEST_F(AudienceDefinitionTest, ConditionChecksLogTheirOwnLines) {
  EXPECT_EQ(check(audience(1, {eventFilter(0, "purchase", {}, numberFilter(0, "1"))})),
            "10 Event filter has invalid event count filter");
  EXPECT_EQ(check(audience(1, {}, {propertyFilter(0, "plan", textCondition(stringFilter(6)))})),
            "11 Property filter has invalid string filter");
  EXPECT_EQ(lines(), (Lines{{1, 8007}, {1, 9003}}));
}

// An engine whose configuration holds the given settings.
class SettingsEngine : public GWLMeasurementEngine {
 public:
  explicit SettingsEngine(std::shared_ptr<GWLRemoteConfig> config) : config_(std::move(config)) {}
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return config_; }

 private:
  std::shared_ptr<GWLRemoteConfig> config_;
};

TEST_F(AudienceDefinitionTest, LimitsComeFromTheConfigurationInForce) {
  auto config = std::make_shared<GWLRemoteConfig>(monitor_);
  config->replaceCachedValues({{"measurement.audience.filter_max_count_per_audience", "2"},
                               {"measurement.audience.parameter_max_count_filter", "1"}});
  GWLMeasurementRegistry::resetForTesting(monitor_);
  GWLMeasurementRegistry::initializeSharedInstance([config] { return std::make_shared<SettingsEngine>(config); });

  platform::Error error;
  EXPECT_TRUE(GWLAudienceValidateDefinition(audience(1, {purchases(0)}, {goldPlan(1)}), {}, &error));
  EXPECT_FALSE(GWLAudienceValidateDefinition(audience(1, {purchases(0)}, {goldPlan(2)}), {}, &error));
  EXPECT_EQ(error.description, "Property filter ID is out of range");
  EXPECT_FALSE(GWLAudienceValidateDefinition(audience(1, times(3, purchases)), {}, &error));
  EXPECT_EQ(error.description, "Audience filter count out of range");
  auto twoConditions = eventFilter(0, "purchase", {numberCondition(numberFilter(3, "1"), "a"),
                                                   numberCondition(numberFilter(3, "1"), "b")});
  EXPECT_FALSE(GWLAudienceValidateDefinition(audience(1, {twoConditions}), {}, &error));
  EXPECT_EQ(error.description, "Event filter parameters filters count out of range");
  GWLMeasurementRegistry::resetForTesting(monitor_);

  // Without an engine the default configuration's limits hold.
  EXPECT_TRUE(GWLAudienceValidateDefinition(audience(1, times(3, purchases)), {}, &error));
}

}  // namespace
}  // namespace audience_test
