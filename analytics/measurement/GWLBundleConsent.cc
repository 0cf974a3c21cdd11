#include "analytics/measurement/GWLBundleConsent.h"

#include <set>
#include <vector>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBUserAttribute.h"

namespace {

// Signals this short state no consent at all.
constexpr size_t kMinimumConsentSignalsLength = 4;
constexpr size_t kAdStorageSignalIndex = 2;
constexpr size_t kAnalyticsStorageSignalIndex = 3;

bool signalDenies(std::string_view signals, size_t index) {
  if (signals.size() <= index) return false;
  const char c = signals[index];
  return c == '0' || c == 'D' || c == 'd';
}

bool hasText(const std::optional<std::string>& text) { return text && !text->empty(); }

bool isNPAAttribute(const std::shared_ptr<GWLPBUserAttribute>& attribute) {
  return attribute && attribute->name() == kGWLBundleNPAPropertyName;
}

}  // namespace

GWLBundleIdentity GWLBundleIdentityOf(GWLIdentity& identity) {
  GWLBundleIdentity facts;
  facts.trackingAuthorizationStatus = identity.appleConsentStatus();
  facts.hasLimitedAdTracking = identity.hasLimitedAdTracking();
  facts.limitedAdTracking = identity.limitedAdTracking();
  facts.resettableDeviceID = identity.resettableDeviceID();
  facts.identifierForVendor = identity.identifierForVendor();
  facts.appInstanceID = identity.appInstanceID();
  return facts;
}

bool GWLConsentStringDeniesAnalyticsStorage(std::string_view signals) {
  return signalDenies(signals, kAnalyticsStorageSignalIndex);
}

bool GWLConsentStringDeniesAdStorage(std::string_view signals) {
  return signalDenies(signals, kAdStorageSignalIndex);
}

std::shared_ptr<GWLPBUserAttribute> GWLBundleNPAAttribute(const GWLPBMeasurementBundle& bundle) {
  for (auto& attribute : bundle.userAttributes()) {
    if (isNPAAttribute(attribute)) return attribute;
  }
  return nullptr;
}

void GWLApplyAdIdentifierConsent(GWLPBMeasurementBundle& bundle, std::string_view consentSignals,
                                 bool gateIDFAOnATTMASEnabled, const GWLBundleIdentity& identity, bool refresh) {
  // 1. Which signals decide.
  bool adStorageDenied = false;
  bool analyticsStorageDenied = false;
  if (consentSignals.size() < kMinimumConsentSignalsLength) {
    if (consentSignals.empty() && bundle.hasConsentSignals()) bundle.clearConsentSignals();
  } else {
    std::string deciding;
    if (refresh || !bundle.hasConsentSignals()) {
      bundle.setConsentSignals(consentSignals);
      deciding = std::string(consentSignals);
    } else {
      deciding = bundle.consentSignals().value_or(std::string());
    }
    adStorageDenied = GWLConsentStringDeniesAdStorage(deciding);
    analyticsStorageDenied = GWLConsentStringDeniesAnalyticsStorage(deciding);
  }

  // 2. Tracking authorisation.
  const uint64_t status = identity.trackingAuthorizationStatus;
  if (status != kGWLAppleConsentStatusNoIdentifierManager) {
    bundle.setTrackingAuthorizationStatus(static_cast<int32_t>(status));
  }
  const bool heldBack = gateIDFAOnATTMASEnabled && status != kGWLAppleConsentStatusAuthorized;

  // 3. Advertising or vendor identifier.
  if (identity.hasLimitedAdTracking && hasText(identity.resettableDeviceID) && !adStorageDenied && !heldBack) {
    if (!bundle.hasResettableDeviceId()) bundle.setResettableDeviceId(*identity.resettableDeviceID);
    bundle.clearVendorDeviceId();
  } else if (analyticsStorageDenied || !hasText(identity.identifierForVendor)) {
    bundle.clearResettableDeviceId();
    bundle.clearVendorDeviceId();
  } else {
    if (!bundle.hasVendorDeviceId()) bundle.setVendorDeviceId(*identity.identifierForVendor);
    bundle.clearResettableDeviceId();
  }

  // 4. App instance ID.
  if (!analyticsStorageDenied && hasText(identity.appInstanceID) && !bundle.hasAppInstanceId()) {
    bundle.setAppInstanceId(*identity.appInstanceID);
  }

  // 5. What a denial removes, whatever the bundle held before.
  if (adStorageDenied) bundle.clearResettableDeviceId();
  if (analyticsStorageDenied) {
    bundle.clearVendorDeviceId();
    bundle.clearAppInstanceId();
    bundle.clearSessionStitchingToken();
    bundle.clearAudienceEvaluationResults();
  }

  // 6. Limited ad tracking.
  if (identity.hasLimitedAdTracking) bundle.setLimitedAdTracking(identity.limitedAdTracking);
}

void GWLApplyAdIdentifierConsent(GWLPBMeasurementBundle& bundle, std::string_view consentSignals,
                                 bool gateIDFAOnATTMASEnabled, GWLIdentity& identity, bool refresh) {
  GWLApplyAdIdentifierConsent(bundle, consentSignals, gateIDFAOnATTMASEnabled, GWLBundleIdentityOf(identity),
                              refresh);
}

void GWLApplyConsentDiagnostics(GWLPBMeasurementBundle& bundle, std::string_view consentDiagnostics,
                                bool adUserDataDenied, const std::shared_ptr<GWLPBUserAttribute>& storedNPAAttribute,
                                const GWLRemoteConfig& remoteConfig, bool refresh) {
  if (refresh || !bundle.hasConsentDiagnostics()) bundle.setConsentDiagnostics(consentDiagnostics);
  if (refresh || !bundle.hasDmaRegion()) bundle.setDmaRegion(remoteConfig.isDMARegion());

  if (refresh || !bundle.hasCorePlatformServices()) {
    // A set: the names come in ascending order.
    const std::set<std::string> services = remoteConfig.corePlatformServices();
    if (adUserDataDenied || services.empty()) {
      bundle.setCorePlatformServices(kGWLNoCorePlatformServices);
    } else if (!remoteConfig.isDMARegion()) {
      bundle.clearCorePlatformServices();
    } else if (bundle.dmaRegion()) {
      std::string joined;
      for (const std::string& name : services) joined += name;
      bundle.setCorePlatformServices(joined);
    }
  }

  if (!storedNPAAttribute) return;
  std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes = bundle.userAttributes();
  bool found = false;
  for (auto& attribute : attributes) {
    if (!isNPAAttribute(attribute)) continue;
    found = true;
    if (refresh) attribute = storedNPAAttribute;
  }
  if (found && !refresh) return;
  if (!found) attributes.push_back(storedNPAAttribute);
  bundle.setUserAttributes(attributes);
}

bool GWLBundleHasFirstOpenEvent(const GWLPBMeasurementBundle& bundle) {
  for (const auto& event : bundle.events()) {
    if (event && event->name() == "_f") return true;
  }
  return false;
}

bool GWLAreBundlesCompatible(const GWLPBMeasurementBundle* a, const GWLPBMeasurementBundle* b) {
  if (!a || !b) return false;
  if (a->consentSignals() != b->consentSignals()) return false;
  if (a->consentDiagnostics() != b->consentDiagnostics()) return false;
  if (a->corePlatformServices() != b->corePlatformServices()) return false;
  if (a->dmaRegion() != b->dmaRegion()) return false;
  const auto npaA = GWLBundleNPAAttribute(*a);
  const auto npaB = GWLBundleNPAAttribute(*b);
  if (!npaA && !npaB) return true;
  return (npaA ? npaA->intValue() : 0) == (npaB ? npaB->intValue() : 0);
}

void GWLApplyDataControls(GWLPBMeasurementBundle& bundle, std::span<const std::string> dataControlNames,
                          const std::function<std::string()>& ephemeralAppInstanceID) {
  if (dataControlNames.empty()) return;
  const auto named = [&](std::string_view name) {
    for (const std::string& control : dataControlNames) {
      if (control == name) return true;
    }
    return false;
  };

  if (named("app_instance_id")) {
    bundle.clearAppInstanceId();
    if (GWLConsentStringDeniesAnalyticsStorage(bundle.consentSignals().value_or(std::string()))) {
      bundle.clearEphemeralAppInstanceId();
    } else {
      bundle.setEphemeralAppInstanceId(ephemeralAppInstanceID ? ephemeralAppInstanceID() : std::string());
    }
  }
  if (named("user_id")) {
    std::vector<std::shared_ptr<GWLPBUserAttribute>> kept;
    for (const auto& attribute : bundle.userAttributes()) {
      if (!attribute || attribute->name() != "_id") kept.push_back(attribute);
    }
    bundle.setUserAttributes(kept);
  }
  const bool deviceInfo = named("device_info");
  if (deviceInfo || named("os_version")) {
    if (const std::optional<std::string> version = bundle.osVersion()) {
      const size_t dot = version->find('.');
      if (dot != std::string::npos) bundle.setOsVersion(std::string_view(*version).substr(0, dot));
    }
  }
  if (deviceInfo || named("device_model")) bundle.clearDeviceModel();
  if (named("enhanced_user_id")) bundle.clearSessionStitchingToken();
  bundle.setRedactedFields(dataControlNames);
}

void GWLApplyDataControls(GWLPBMeasurementBundle& bundle, std::span<const std::string> dataControlNames,
                          GWLIdentity& identity) {
  GWLApplyDataControls(bundle, dataControlNames, [&identity] { return identity.ephemeralAppInstanceID(); });
}
