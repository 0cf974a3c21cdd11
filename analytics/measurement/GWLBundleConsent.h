// GWLBundleConsent — the consent rules a measurement bundle passes before it
// leaves the device: which device identifiers, app instance ID and audience
// results it may carry under the consent signals, and which consent
// diagnostics, DMA-region flag, core platform services and "_npa" property it
// states.
//
// The write pipeline applies them to each raw event's metadata bundle with
// the refresh flag on (the consent state of the moment is written); the
// upload applies them again to every queued bundle, with the refresh flag on
// only when the current signals deny something or a first open is among the
// bundles, so that a bundle otherwise keeps the consent state it was written
// under.
//
// Consent signals are "G1" followed by one character for ad storage (index 2)
// and one for analytics storage (index 3); "0", "D" and "d" deny.
//
// Plain functions over the message: no state, any thread (a bundle is not
// shared between threads while they run).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "analytics/measurement/GWLIdentity.h"

class GWLPBMeasurementBundle;
class GWLPBUserAttribute;
class GWLRemoteConfig;

// The name of the non-personalised-ads user property in a bundle.
inline constexpr const char* kGWLBundleNPAPropertyName = "_npa";
// What a bundle's core platform services say when ad user data is denied or
// the configuration names no service.
inline constexpr const char* kGWLNoCorePlatformServices = "-";

// What the consent rules read of the identity, taken once for a bundle.
struct GWLBundleIdentity {
  // Tracking-authorisation status code (kGWLAppleConsentStatus...).
  uint64_t trackingAuthorizationStatus = kGWLAppleConsentStatusNoIdentifierManager;
  // Whether the device reports a limited-ad-tracking state at all.
  bool hasLimitedAdTracking = false;
  bool limitedAdTracking = false;
  std::optional<std::string> resettableDeviceID;
  std::optional<std::string> identifierForVendor;
  std::optional<std::string> appInstanceID;
};

// The identity's current answers (each refreshes the identity first).
GWLBundleIdentity GWLBundleIdentityOf(GWLIdentity& identity);

// Whether the signals deny analytics storage: a text longer than 3 characters
// whose character at index 3 is "0", "D" or "d".
bool GWLConsentStringDeniesAnalyticsStorage(std::string_view signals);
// The same for ad storage, at index 2.
bool GWLConsentStringDeniesAdStorage(std::string_view signals);

// The bundle's first user property named "_npa", or null.
std::shared_ptr<GWLPBUserAttribute> GWLBundleNPAAttribute(const GWLPBMeasurementBundle& bundle);

// Device identifiers under consent:
// 1. Signals shorter than 4 characters state no denial (empty ones remove the
//    bundle's signals, others leave them). Otherwise, with `refresh` or when the
//    bundle has none, the signals are written and decide; else the bundle's own
//    signals decide (the state it was written under).
// 2. The tracking-authorisation status is written unless it is 6. The
//    advertising identifier is held back when `gateIDFAOnATTMASEnabled` is on
//    and the status is not 3 (authorised).
// 3. The advertising identifier is sent (when the bundle has none yet), and
//    the vendor identifier removed, when the device reports a limited-ad-
//    tracking state, has an advertising identifier, ad storage is not denied
//    and it is not held back. Otherwise, with analytics storage denied or no
//    vendor identifier, both are removed; else the vendor identifier is sent
//    (when the bundle has none yet) and the advertising identifier removed.
// 4. The app instance ID is added (when the bundle has none) while analytics
//    storage is not denied.
// 5. Ad storage denied removes the advertising identifier; analytics storage
//    denied removes the vendor identifier, the app instance ID, the session
//    stitching token and the audience results.
// 6. The limited-ad-tracking state is written when the device reports one.
void GWLApplyAdIdentifierConsent(GWLPBMeasurementBundle& bundle, std::string_view consentSignals,
                                 bool gateIDFAOnATTMASEnabled, const GWLBundleIdentity& identity, bool refresh);
void GWLApplyAdIdentifierConsent(GWLPBMeasurementBundle& bundle, std::string_view consentSignals,
                                 bool gateIDFAOnATTMASEnabled, GWLIdentity& identity, bool refresh);

// Consent diagnostics, the DMA region and the core platform services, each
// written when the bundle has none yet or with `refresh`:
// - the diagnostics text and the configuration's DMA-region flag;
// - core platform services: "-" when ad user data is denied or the
//   configuration names none; else removed outside a DMA region; else, when
//   the bundle's own DMA flag is set, the names in ascending order joined
//   with no separator (otherwise left as they are).
// A stored "_npa" property is appended to a bundle without one and replaces
// the bundle's only with `refresh`.
void GWLApplyConsentDiagnostics(GWLPBMeasurementBundle& bundle, std::string_view consentDiagnostics,
                                bool adUserDataDenied, const std::shared_ptr<GWLPBUserAttribute>& storedNPAAttribute,
                                const GWLRemoteConfig& remoteConfig, bool refresh);

// Whether the bundle holds a first-open event ("_f").
bool GWLBundleHasFirstOpenEvent(const GWLPBMeasurementBundle& bundle);

// Whether two bundles may travel in one batch: both exist, their consent
// signals, consent diagnostics and core platform services are equal (both
// absent counts as equal, one absent as different), their DMA-region flags
// are equal, and their "_npa" values are equal (an absent one counts as 0).
bool GWLAreBundlesCompatible(const GWLPBMeasurementBundle* a, const GWLPBMeasurementBundle* b);

// The configuration's data controls, one rule per name:
// - "app_instance_id": the app instance ID is removed; the ephemeral ID takes
//   its place unless the bundle's signals deny analytics storage;
// - "user_id": the "_id" user properties are removed;
// - "os_version" or "device_info": the OS version is cut before its first ".";
// - "device_model" or "device_info": the device model is removed;
// - "enhanced_user_id": the session stitching token is removed;
// and any names at all are listed as the bundle's redacted fields.
// `ephemeralAppInstanceID` is asked only when the ephemeral ID is written.
void GWLApplyDataControls(GWLPBMeasurementBundle& bundle, std::span<const std::string> dataControlNames,
                          const std::function<std::string()>& ephemeralAppInstanceID);
void GWLApplyDataControls(GWLPBMeasurementBundle& bundle, std::span<const std::string> dataControlNames,
                          GWLIdentity& identity);
