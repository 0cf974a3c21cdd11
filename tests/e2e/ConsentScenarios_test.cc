// Consent denied for analytics and ad storage keeps the installation's
// identifiers off the wire, whether the app's Info dictionary denies it from
// the start or the app denies it while running; granting it again brings
// them back.
#include <gtest/gtest.h>

#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "e2e/E2EHarness.h"

namespace e2e {
namespace {

using platform::Dictionary;
using platform::Object;

const Dictionary kDenied = {{"analytics_storage", std::string("denied")}, {"ad_storage", std::string("denied")}};
const Dictionary kGranted = {{"analytics_storage", std::string("granted")}, {"ad_storage", std::string("granted")}};

// What a bundle says of the installation: "signals; identifiers present".
std::string identifiersOf(const GWLPBMeasurementBundle& bundle) {
  std::string text = bundle.consentSignals().value_or("no signals") + ";";
  if (bundle.appInstanceId()) text += " app instance";
  if (bundle.vendorDeviceId()) text += " vendor";
  if (bundle.resettableDeviceId()) text += " resettable";
  if (bundle.sessionStitchingToken()) text += " stitching";
  return text;
}

// The identifiers of the bundles that carry an event named `name`.
std::vector<std::string> identifiersWith(const std::vector<RecordedBatch>& batches, const std::string& name) {
  std::vector<std::string> found;
  for (const auto& logged : eventsIn(batches)) {
    if (logged.event->name() == name) found.push_back(identifiersOf(*logged.bundle));
  }
  return found;
}

struct ConsentCase {
  const char* name;
  bool deniedByInfoDictionary;
  Dictionary change;   // the consent the app sets while running
  std::string before;  // the identifiers of the bundles before the change
  std::string after;   // and after it
};

// Test names and messages show the case by its name.
void PrintTo(const ConsentCase& c, std::ostream* out) { *out << c.name; }

class ConsentScenarios : public E2ETest, public ::testing::WithParamInterface<ConsentCase> {};

TEST_P(ConsentScenarios, DeniedStorageKeepsTheIdentifiersOffTheWire) {
  const ConsentCase& c = GetParam();
  Scenario scenario;
  if (c.deniedByInfoDictionary) {
    scenario.info = {{"HALCYRA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", false},
                     {"HALCYRA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", false}};
  }
  ASSERT_NO_FATAL_FAILURE(start(scenario));
  if (c.deniedByInfoDictionary) {
    for (const auto& batch : allBatches()) {
      for (const auto& bundle : batch.bundles()) EXPECT_EQ(identifiersOf(*bundle), c.before) << "the start's bundles";
    }
  }
  CVNAnalytics::logEventWithName("before", std::nullopt);
  auto recorded = waitForEvent("before");
  EXPECT_EQ(identifiersWith(recorded, "before"), std::vector<std::string>{c.before});
  const std::optional<std::string> earlierID = eventNamed(recorded, "before")->bundle->appInstanceId();

  const size_t requestsBefore = captured().size();
  CVNAnalytics::setConsent(c.change);
  CVNAnalytics::logEventWithName("after", std::nullopt);
  recorded = waitForEvent("after");
  EXPECT_EQ(identifiersWith(recorded, "after"), std::vector<std::string>{c.after});
  if (earlierID) {
    const auto requests = captured();
    for (size_t i = requestsBefore; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].text.find(*earlierID), std::string::npos)
          << requests[i].file << " holds the app instance ID after the denial";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Consent, ConsentScenarios,
    ::testing::Values(ConsentCase{"DeniedByTheInfoDictionary", true, kGranted, "G100;", "G111; app instance vendor"},
                      ConsentCase{"DeniedWhileRunning", false, kDenied, "G1--; app instance vendor", "G100;"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
