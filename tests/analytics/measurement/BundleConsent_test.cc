#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "MeasurementTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/measurement/GWLBundleConsent.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBConsentConfig.h"
#include "analytics/wire/GWLPBCorePlatformServiceEntry.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/NANO.h"

namespace {

using measurement_test::MeasurementTest;
using Text = std::optional<std::string>;

constexpr const char* kAdID = "AD-ID";
constexpr const char* kVendorID = "VENDOR-ID";
constexpr const char* kAppInstanceID = "APP-INSTANCE";

GWLBundleIdentity identityWith(uint64_t status = kGWLAppleConsentStatusAuthorized, bool hasLimitedAdTracking = true,
                               Text adID = kAdID, Text vendorID = kVendorID) {
  GWLBundleIdentity identity;
  identity.trackingAuthorizationStatus = status;
  identity.hasLimitedAdTracking = hasLimitedAdTracking;
  identity.limitedAdTracking = true;
  identity.resettableDeviceID = std::move(adID);
  identity.identifierForVendor = std::move(vendorID);
  identity.appInstanceID = kAppInstanceID;
  return identity;
}

std::shared_ptr<GWLPBUserAttribute> intProperty(const std::string& name, int64_t value) {
  auto attribute = GWLPBUserAttribute::initWithMessageInfo();
  attribute->setName(name);
  attribute->setIntValue(value);
  return attribute;
}

// A bundle as the write pipeline left it: identifiers, a stitching token and audience results.
std::shared_ptr<GWLPBMeasurementBundle> filledBundle(Text signals) {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  if (signals) bundle->setConsentSignals(*signals);
  bundle->setResettableDeviceId("OLD-AD");
  bundle->setVendorDeviceId("OLD-VENDOR");
  bundle->setAppInstanceId("OLD-INSTANCE");
  bundle->setSessionStitchingToken("TOKEN");
  std::vector<std::shared_ptr<GWLPBAudienceLeafFilterResult>> results{
      GWLPBAudienceLeafFilterResult::initWithMessageInfo()};
  bundle->setAudienceEvaluationResults(results);
  return bundle;
}

TEST(BundleConsentSignals, DenialCharactersAtTheirPositions) {
  struct Case {
    const char* signals;
    bool adDenied;
    bool analyticsDenied;
  };
  for (const Case& c : std::vector<Case>{{"G111", false, false},
                                         {"G100", true, true},
                                         {"G1D1", true, false},
                                         {"G11d", false, true},
                                         {"G1--", false, false},
                                         {"G10", true, false},  // too short for the analytics character
                                         {"", false, false},
                                         {"G1110", false, false}}) {
    EXPECT_EQ(GWLConsentStringDeniesAdStorage(c.signals), c.adDenied) << c.signals;
    EXPECT_EQ(GWLConsentStringDeniesAnalyticsStorage(c.signals), c.analyticsDenied) << c.signals;
  }
}

TEST(BundleAdIdentifierConsent, IdentifiersFollowTheDecidingSignals) {
  struct Case {
    const char* what;
    bool startEmpty;  // a bundle without identifiers; else filledBundle
    Text bundleSignals;
    const char* current;
    bool refresh;
    bool gate;
    GWLBundleIdentity identity;
    // Expected.
    Text signals;
    Text adID;
    Text vendorID;
    Text appInstanceID;
    bool keepsTokenAndAudiences;
  };
  const std::vector<Case> cases{
      {"granted: the advertising identifier", true, {}, "G111", true, false, identityWith(),
       "G111", kAdID, {}, kAppInstanceID, true},
      {"ad storage denied: the vendor identifier", true, {}, "G101", true, false, identityWith(),
       "G101", {}, kVendorID, kAppInstanceID, true},
      {"analytics storage denied: the advertising identifier only", false, {}, "G110", true, false, identityWith(),
       "G110", "OLD-AD", {}, {}, false},
      {"both denied: nothing", false, {}, "G100", true, false, identityWith(), "G100", {}, {}, {}, false},
      {"gate on, tracking not authorised: the vendor identifier", true, {}, "G111", true, true,
       identityWith(kGWLAppleConsentStatusDenied), "G111", {}, kVendorID, kAppInstanceID, true},
      {"gate on, tracking authorised: the advertising identifier", true, {}, "G111", true, true, identityWith(),
       "G111", kAdID, {}, kAppInstanceID, true},
      {"gate off, tracking not authorised: the advertising identifier", true, {}, "G111", true, false,
       identityWith(kGWLAppleConsentStatusDenied), "G111", kAdID, {}, kAppInstanceID, true},
      {"no limited-ad-tracking state: the vendor identifier", true, {}, "G111", true, false,
       identityWith(kGWLAppleConsentStatusAuthorized, false), "G111", {}, kVendorID, kAppInstanceID, true},
      {"an empty advertising identifier counts as none", true, {}, "G111", true, false,
       identityWith(kGWLAppleConsentStatusAuthorized, true, ""), "G111", {}, kVendorID, kAppInstanceID, true},
      {"neither identifier: both removed", false, {}, "G111", true, false,
       identityWith(kGWLAppleConsentStatusAuthorized, true, {}, {}), "G111", {}, {}, "OLD-INSTANCE", true},
      {"granted: identifiers already present stay", false, {}, "G111", true, false, identityWith(), "G111",
       "OLD-AD", {}, "OLD-INSTANCE", true},
      {"no refresh: the bundle's own denial decides", false, "G100", "G111", false, false, identityWith(), "G100",
       {}, {}, {}, false},
      {"no refresh: the bundle's own grant decides", true, "G111", "G100", false, false, identityWith(), "G111",
       kAdID, {}, kAppInstanceID, true},
      {"no refresh, no signals in the bundle: the current ones are written", true, {}, "G110", false, false,
       identityWith(), "G110", kAdID, {}, {}, true},
      {"empty signals remove the bundle's and deny nothing", true, "G100", "", false, false, identityWith(), {},
       kAdID, {}, kAppInstanceID, true},
      {"short signals keep the bundle's and deny nothing", true, "G100", "G1", true, false, identityWith(), "G100",
       kAdID, {}, kAppInstanceID, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto bundle = c.startEmpty ? GWLPBMeasurementBundle::initWithMessageInfo() : filledBundle(c.bundleSignals);
    if (c.startEmpty && c.bundleSignals) bundle->setConsentSignals(*c.bundleSignals);
    GWLApplyAdIdentifierConsent(*bundle, c.current, c.gate, c.identity, c.refresh);
    EXPECT_EQ(bundle->consentSignals(), c.signals);
    EXPECT_EQ(bundle->resettableDeviceId(), c.adID);
    EXPECT_EQ(bundle->vendorDeviceId(), c.vendorID);
    EXPECT_EQ(bundle->appInstanceId(), c.appInstanceID);
    if (!c.startEmpty) {
      EXPECT_EQ(bundle->hasSessionStitchingToken(), c.keepsTokenAndAudiences);
      EXPECT_EQ(bundle->audienceEvaluationResultsCount(), c.keepsTokenAndAudiences ? 1u : 0u);
    }
  }
}

TEST(BundleAdIdentifierConsent, TrackingStatusAndLimitedAdTracking) {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  GWLApplyAdIdentifierConsent(*bundle, "G111", false, identityWith(kGWLAppleConsentStatusNotDetermined), true);
  EXPECT_EQ(bundle->trackingAuthorizationStatus(), 4);
  ASSERT_TRUE(bundle->hasLimitedAdTracking());
  EXPECT_TRUE(bundle->limitedAdTracking());

  // Without an advertising-identifier service: no status, no limited-ad-tracking state.
  auto bare = GWLPBMeasurementBundle::initWithMessageInfo();
  GWLApplyAdIdentifierConsent(*bare, "G111", false,
                              identityWith(kGWLAppleConsentStatusNoIdentifierManager, false), true);
  EXPECT_FALSE(bare->hasTrackingAuthorizationStatus());
  EXPECT_FALSE(bare->hasLimitedAdTracking());
}

class BundleConsentDiagnosticsTest : public MeasurementTest {
 protected:
  // A configuration whose consent part names `services` and the region flag.
  std::shared_ptr<GWLRemoteConfig> config(bool dmaRegion, const std::vector<std::string>& services) {
    auto remote = std::make_shared<GWLRemoteConfig>(monitor_);
    auto measurement = GWLPBMeasurementConfig::initWithMessageInfo();
    auto consent = GWLPBConsentConfig::initWithMessageInfo();
    NANOSetBool(consent, GWLPBConsentConfig::Field::is_dma_region, dmaRegion);
    std::vector<NANOValue> entries;
    for (const std::string& name : services) {
      auto entry = GWLPBCorePlatformServiceEntry::initWithMessageInfo();
      NANOSetString(entry, GWLPBCorePlatformServiceEntry::Field::service_name, name);
      entries.emplace_back(std::shared_ptr<NANOMessageBase>(entry));
    }
    NANOSetArray(consent, GWLPBConsentConfig::Field::core_platform_services, entries);
    NANOSetMessage(measurement, GWLPBMeasurementConfig::Field::consent_config, consent);
    remote->parseRemoteConfigFromMeasurementConfig(measurement);
    return remote;
  }
};

TEST_F(BundleConsentDiagnosticsTest, FieldsWrittenWhenAbsentOrRefreshed) {
  auto dma = config(true, {"store", "browser"});
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  GWLApplyConsentDiagnostics(*bundle, "diag-1", false, nullptr, *dma, false);
  EXPECT_EQ(bundle->consentDiagnostics(), "diag-1");
  EXPECT_TRUE(bundle->hasDmaRegion());
  EXPECT_TRUE(bundle->dmaRegion());
  EXPECT_EQ(bundle->corePlatformServices(), "browserstore") << "sorted, joined with no separator";

  // Present and not refreshed: kept, even under another configuration.
  auto elsewhere = config(false, {"store"});
  GWLApplyConsentDiagnostics(*bundle, "diag-2", true, nullptr, *elsewhere, false);
  EXPECT_EQ(bundle->consentDiagnostics(), "diag-1");
  EXPECT_TRUE(bundle->dmaRegion());
  EXPECT_EQ(bundle->corePlatformServices(), "browserstore");

  // Refreshed: the state of the moment.
  GWLApplyConsentDiagnostics(*bundle, "diag-2", false, nullptr, *elsewhere, true);
  EXPECT_EQ(bundle->consentDiagnostics(), "diag-2");
  EXPECT_FALSE(bundle->dmaRegion());
  EXPECT_FALSE(bundle->hasCorePlatformServices()) << "outside a DMA region the services are removed";
}

TEST_F(BundleConsentDiagnosticsTest, CorePlatformServices) {
  struct Case {
    const char* what;
    bool dmaRegion;
    std::vector<std::string> services;
    bool adUserDataDenied;
    std::optional<bool> bundleDMA;  // the bundle's own flag before (kept: no refresh)
    Text expected;
  };
  const std::vector<Case> cases{
      {"ad user data denied", true, {"a"}, true, {}, "-"},
      {"ad user data denied outside a DMA region", false, {"a"}, true, {}, "-"},
      {"no services named", true, {}, false, {}, "-"},
      {"outside a DMA region", false, {"a"}, false, {}, {}},
      {"in a DMA region", true, {"c", "a", "b"}, false, {}, "abc"},
      {"the bundle's own flag says no DMA region", true, {"a"}, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    if (c.bundleDMA) bundle->setDmaRegion(*c.bundleDMA);
    GWLApplyConsentDiagnostics(*bundle, "d", c.adUserDataDenied, nullptr, *config(c.dmaRegion, c.services), false);
    EXPECT_EQ(bundle->corePlatformServices(), c.expected);
  }
}

TEST_F(BundleConsentDiagnosticsTest, StoredNPAIsAppendedOrReplacedOnRefresh) {
  auto remote = config(false, {});
  auto stored = intProperty("_npa", 1);
  auto withoutNPA = [] {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{intProperty("_fot", 5)};
    bundle->setUserAttributes(attributes);
    return bundle;
  };
  auto withNPA = [] {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{intProperty("_npa", 0), intProperty("_fot", 5)};
    bundle->setUserAttributes(attributes);
    return bundle;
  };
  auto names = [](const GWLPBMeasurementBundle& bundle) {
    std::vector<std::string> result;
    for (const auto& attribute : bundle.userAttributes()) result.push_back(attribute->name().value_or(""));
    return result;
  };

  // No stored "_npa": the bundle's properties stay as they are.
  auto untouched = withoutNPA();
  GWLApplyConsentDiagnostics(*untouched, "d", false, nullptr, *remote, true);
  EXPECT_EQ(names(*untouched), (std::vector<std::string>{"_fot"}));
  EXPECT_FALSE(GWLBundleNPAAttribute(*untouched));

  for (bool refresh : {false, true}) {
    SCOPED_TRACE(refresh ? "refresh" : "no refresh");
    auto appended = withoutNPA();
    GWLApplyConsentDiagnostics(*appended, "d", false, stored, *remote, refresh);
    EXPECT_EQ(names(*appended), (std::vector<std::string>{"_fot", "_npa"}));
    ASSERT_TRUE(GWLBundleNPAAttribute(*appended));
    EXPECT_EQ(GWLBundleNPAAttribute(*appended)->intValue(), 1);

    auto present = withNPA();
    GWLApplyConsentDiagnostics(*present, "d", false, stored, *remote, refresh);
    EXPECT_EQ(names(*present), (std::vector<std::string>{"_npa", "_fot"})) << "replaced in place, never doubled";
    EXPECT_EQ(GWLBundleNPAAttribute(*present)->intValue(), refresh ? 1 : 0);
  }
}

}  // namespace

namespace {

std::shared_ptr<GWLPBMeasurementBundle> bundleWithEvents(const std::vector<std::string>& names) {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  std::vector<std::shared_ptr<GWLPBEvent>> events;
  for (const std::string& name : names) {
    auto event = GWLPBEvent::initWithMessageInfo();
    event->setName(name);
    events.push_back(event);
  }
  bundle->setEvents(events);
  return bundle;
}

TEST(BundleFirstOpen, FoundAmongTheEvents) {
  EXPECT_TRUE(GWLBundleHasFirstOpenEvent(*bundleWithEvents({"_s", "_f", "_e"})));
  EXPECT_FALSE(GWLBundleHasFirstOpenEvent(*bundleWithEvents({"_s", "_fx", "purchase"})));
  EXPECT_FALSE(GWLBundleHasFirstOpenEvent(*bundleWithEvents({})));
}

// Each case changes one field of the second bundle against a bundle with
// signals, diagnostics, services, a DMA flag and no "_npa".
TEST(BundleCompatibility, EveryConsentFieldDecides) {
  const auto base = [] {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    bundle->setConsentSignals("G111");
    bundle->setConsentDiagnostics("19");
    bundle->setCorePlatformServices("-");
    bundle->setDmaRegion(true);
    return bundle;
  };
  struct Case {
    const char* what;
    std::function<void(GWLPBMeasurementBundle&)> change;
    bool compatible;
  };
  const std::vector<Case> cases{
      {"same", [](GWLPBMeasurementBundle&) {}, true},
      {"signals", [](GWLPBMeasurementBundle& b) { b.setConsentSignals("G101"); }, false},
      {"signals absent", [](GWLPBMeasurementBundle& b) { b.clearConsentSignals(); }, false},
      {"diagnostics", [](GWLPBMeasurementBundle& b) { b.setConsentDiagnostics("20"); }, false},
      {"services", [](GWLPBMeasurementBundle& b) { b.setCorePlatformServices("AB"); }, false},
      {"services absent", [](GWLPBMeasurementBundle& b) { b.clearCorePlatformServices(); }, false},
      {"dma", [](GWLPBMeasurementBundle& b) { b.setDmaRegion(false); }, false},
      {"npa 0 counts as absent",
       [](GWLPBMeasurementBundle& b) {
         std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{intProperty("_npa", 0)};
         b.setUserAttributes(attributes);
       },
       true},
      {"npa 1",
       [](GWLPBMeasurementBundle& b) {
         std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{intProperty("_npa", 1)};
         b.setUserAttributes(attributes);
       },
       false},
  };
  for (const Case& c : cases) {
    auto a = base();
    auto b = base();
    c.change(*b);
    EXPECT_EQ(GWLAreBundlesCompatible(a.get(), b.get()), c.compatible) << c.what;
    EXPECT_EQ(GWLAreBundlesCompatible(b.get(), a.get()), c.compatible) << c.what;
  }
  // Both absent fields are equal; a missing bundle never is.
  auto empty1 = GWLPBMeasurementBundle::initWithMessageInfo();
  auto empty2 = GWLPBMeasurementBundle::initWithMessageInfo();
  EXPECT_TRUE(GWLAreBundlesCompatible(empty1.get(), empty2.get()));
  EXPECT_FALSE(GWLAreBundlesCompatible(empty1.get(), nullptr));
}

std::shared_ptr<GWLPBMeasurementBundle> bundleForDataControls(const std::string& signals) {
  auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
  bundle->setConsentSignals(signals);
  bundle->setAppInstanceId("INSTANCE");
  bundle->setOsVersion("17.4.1");
  bundle->setDeviceModel("Model9,1");
  bundle->setSessionStitchingToken("TOKEN");
  std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{intProperty("_id", 7), intProperty("level", 3),
                                                              intProperty("_id", 8)};
  bundle->setUserAttributes(attributes);
  return bundle;
}

TEST(BundleDataControls, EachNameRedactsItsFields) {
  int ephemeralAsked = 0;
  const auto ephemeral = [&] {
    ++ephemeralAsked;
    return std::string("EPHEMERAL");
  };

  // No names: nothing changes, nothing is listed.
  auto untouched = bundleForDataControls("G111");
  GWLApplyDataControls(*untouched, {}, ephemeral);
  EXPECT_EQ(untouched->appInstanceId(), Text("INSTANCE"));
  EXPECT_EQ(untouched->osVersion(), Text("17.4.1"));
  EXPECT_EQ(untouched->redactedFieldsCount(), 0u);

  const std::vector<std::string> all{"app_instance_id", "user_id", "os_version", "device_model", "enhanced_user_id"};
  auto bundle = bundleForDataControls("G111");
  GWLApplyDataControls(*bundle, all, ephemeral);
  EXPECT_FALSE(bundle->hasAppInstanceId());
  EXPECT_EQ(bundle->ephemeralAppInstanceId(), Text("EPHEMERAL"));
  ASSERT_EQ(bundle->userAttributes().size(), 1u);
  EXPECT_EQ(bundle->userAttributes()[0]->name(), Text("level"));
  EXPECT_EQ(bundle->osVersion(), Text("17"));
  EXPECT_FALSE(bundle->deviceModel());
  EXPECT_FALSE(bundle->hasSessionStitchingToken());
  EXPECT_EQ(bundle->redactedFields(), all);
  EXPECT_EQ(ephemeralAsked, 1);

  // "device_info" covers the OS version and the model; a version without a dot stays.
  auto device = bundleForDataControls("G111");
  device->setOsVersion("18");
  const std::vector<std::string> deviceInfo{"device_info"};
  GWLApplyDataControls(*device, deviceInfo, ephemeral);
  EXPECT_EQ(device->osVersion(), Text("18"));
  EXPECT_FALSE(device->deviceModel());
  EXPECT_EQ(device->appInstanceId(), Text("INSTANCE"));
  EXPECT_EQ(device->userAttributes().size(), 3u);

  // Analytics storage denied: no ephemeral ID either, and it is not made.
  auto denied = bundleForDataControls("G110");
  denied->setEphemeralAppInstanceId("STALE");
  const std::vector<std::string> instance{"app_instance_id"};
  GWLApplyDataControls(*denied, instance, ephemeral);
  EXPECT_FALSE(denied->hasAppInstanceId());
  EXPECT_FALSE(denied->hasEphemeralAppInstanceId());
  EXPECT_EQ(ephemeralAsked, 1);
}

}  // namespace
