// GWLIdentity — the identifiers of the installation and of the app.
//
// The app instance ID (the library's own random identifier of the install,
// 32 upper-case hexadecimal characters, kept in the persisted settings), the
// advertising identifier with limited ad tracking and the tracking-
// authorisation status, the vendor identifier, the session stitching token,
// the ephemeral app instance ID, the experiment diversion key (it serves the
// experiments client as its GWLEIdentity), the platform app ID, the app's
// identifiers and version numbers, and the library's version number.
//
// Consent decides what may be made or kept: while analytics storage is denied
// there is no app instance ID, no vendor identifier and no session stitching
// token; while ad storage is denied the advertising identifier and its hash
// are neither read nor stored.
//
// Tracking-authorisation status codes (`appleConsentStatus`): 1 restricted,
// 2 denied, 3 authorised, 4 not determined, 5 status unavailable (no
// authorisation service, or a platform value outside 0-3), 6 no
// advertising-identifier service at all.
//
// Threading: the refresh state, the vendor identifier, the platform app ID,
// the session stitching fields and the ephemeral ID belong to the serial queue
// "GWLIdentityWorkerQueue": reads are synchronous blocks on it, changes
// asynchronous ones, so a read after a change on the same thread sees it. Any
// thread may call (not from that queue, where a synchronous read runs inline
// with a warning). The identity never waits for the main thread: the vendor
// identifier is read on the calling thread. The app fields are fixed at
// creation; the installation ID has a mutex of its own.
#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/experiments/GWLEIdentity.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

namespace platform {
class AppEnvironment;
class Clock;
class SerialQueue;
}  // namespace platform
class GWLDefaultIdentitySupport;
class GWLMonitor;
class GWLPersistedConfig;
class GWLRemoteConfig;

inline constexpr const char* kGWLIdentityQueueLabel = "GWLIdentityWorkerQueue";
// The library's version text; its number is the text without the last three characters.
inline constexpr const char* kGWLLibraryVersionText = "120500000";
// Info dictionary switch of the vendor identifier.
inline constexpr const char* kGWLIDFVCollectionEnabledInfoKey = "HALCYRA_ANALYTICS_IDFV_COLLECTION_ENABLED";

// Tracking-authorisation status codes.
inline constexpr uint64_t kGWLAppleConsentStatusRestricted = 1;
inline constexpr uint64_t kGWLAppleConsentStatusDenied = 2;
inline constexpr uint64_t kGWLAppleConsentStatusAuthorized = 3;
inline constexpr uint64_t kGWLAppleConsentStatusNotDetermined = 4;
inline constexpr uint64_t kGWLAppleConsentStatusUnavailable = 5;
inline constexpr uint64_t kGWLAppleConsentStatusNoIdentifierManager = 6;

// A session stitching token made without a user ID expires after this many seconds.
inline constexpr double kGWLSessionStitchingTokenLifetime = 86400;
inline constexpr size_t kGWLDiversionKeyLength = 5;

// Reports.
inline constexpr int64_t kGWLAppVersionNonNumericCode = 20002;
inline constexpr const char* kGWLAppVersionNonNumericMessage = "app version numeric has non-numeric characters";
inline constexpr int64_t kGWLIdentitySharedInstanceNilCode = 20003;
inline constexpr const char* kGWLIdentitySharedInstanceNilMessage = "Identity's shared instance is nil";
inline constexpr int64_t kGWLIdentityWithoutPersistedConfigCode = 20004;
inline constexpr const char* kGWLIdentityWithoutPersistedConfigMessage =
    "Unable to create measurement identity, missing a valid persisted config instance";
inline constexpr int64_t kGWLEmptyAppIDFromQRXCode = 20005;
inline constexpr const char* kGWLEmptyAppIDFromQRXMessage = "Cannot set empty Halcyra App ID";
inline constexpr int64_t kGWLIDFVCollectionSwitchCode = 20009;

class GWLIdentity : public GWLEIdentity, public std::enable_shared_from_this<GWLIdentity> {
 public:
  struct Dependencies {
    std::shared_ptr<GWLDefaultIdentitySupport> identitySupport;  // the shared one when null
    std::shared_ptr<platform::Clock> clock;                      // the system clock when null
    std::shared_ptr<GWLMonitor> monitor;                         // the library's monitor when null
    // The configuration in force; the engine's (or the default one) when empty.
    std::function<std::shared_ptr<GWLRemoteConfig>()> remoteConfig;
    // The app: bundle identifier, Info dictionary, resources. The shared one when null.
    std::shared_ptr<platform::AppEnvironment> environment;
    // The platform's vendor identifier, read on the calling thread; the
    // current data directory's (platform::VendorIdentifier) when empty.
    std::function<std::optional<std::string>()> identifierForVendor;
  };

  // Made once, on the persisted settings' shared instance, and installed as
  // the experiments client's identity. While it is null every call reports
  // 20003 and answers null.
  static std::shared_ptr<GWLIdentity> sharedInstance();
  // Null (report 20004) without persisted settings.
  static std::shared_ptr<GWLIdentity> initWithPersistedConfig(std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                              Dependencies dependencies = {});
  // Tests: the next sharedInstance() makes a new identity.
  static void resetSharedInstanceForTesting();
  ~GWLIdentity() override;

  // 120500: the number of kGWLLibraryVersionText.
  static int64_t gaugewellLibraryVersion();
  // The version text without its last three characters, read as an integer;
  // 0 for a text shorter than 4 characters.
  static int64_t libraryVersionFromVersionText(const std::string& text);
  // A new app instance ID: a random UUID's upper-case text without its hyphens.
  static std::string randomAppInstanceID();
  // The numeric fields of a version text: split at ".", empty pieces skipped,
  // every non-digit removed from the others (report 20002 to `monitor`), each
  // read as a 32-bit integer (0 without digits; more than fits gives
  // INT32_MAX). "2.10.3" -> 2, 10, 3; "1..3" -> 1, 3; "4b" -> 4.
  static std::vector<int32_t> numericFieldsFromAppVersionNumeric(const std::optional<std::string>& text,
                                                                 GWLMonitor& monitor);

  // ---- refreshed identifiers: each asks for a refresh, then reads ----
  uint64_t appleConsentStatus();
  bool hasLimitedAdTracking();
  bool limitedAdTracking();
  std::optional<std::string> resettableDeviceID();
  // None while analytics storage is denied.
  std::optional<std::string> appInstanceID();
  // None while ad storage is denied.
  std::optional<std::string> hashedResettableDeviceID();
  // None while an advertising identifier is known, while the Info dictionary
  // switches it off, or while analytics storage is denied.
  std::optional<std::string> identifierForVendor();

  // Queues a refresh of the identifiers (see the implementation's steps).
  void updateIdentifiers();
  // The same, then waits until it has run.
  void updateIdentifiersAndWait();

  // ---- the platform app ID ----
  std::optional<std::string> appIDFromQRX() const;
  // Only the first non-empty value given in the identity's life is kept; an
  // empty or missing one reports 20005.
  void setAppIDFromQRX(const std::optional<std::string>& appID);

  void setAppInstanceID(const std::optional<std::string>& appInstanceID);
  bool shouldSetLastAdvertisingIDResetUserProperty() const;
  void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
  bool isFromAppStore() const;
  bool iOS14OrAbove() const { return true; }

  // ---- session stitching, ephemeral ID, diversion key ----
  // The token for this request; none while analytics storage is denied.
  std::optional<std::string> sessionStitchingToken(int64_t sessionNumber, bool sessionExpired, bool userIDAvailable);
  void resetSessionStitchingToken();
  // Made when missing; never persisted.
  std::string ephemeralAppInstanceID();
  void resetEphemeralAppInstanceID();
  // The persisted key when it has exactly 5 characters; else a new one, persisted.
  std::optional<std::string> diversionKey() const override;

  // ---- the app, fixed at creation ----
  const std::optional<std::string>& appID() const { return appID_; }
  const std::optional<std::string>& appVersion() const { return appVersion_; }
  std::optional<int32_t> appVersionMajor() const { return appVersionMajor_; }
  std::optional<int32_t> appVersionMinor() const { return appVersionMinor_; }
  std::optional<int32_t> appVersionRelease() const { return appVersionRelease_; }

  // The installation identifier handed over by the public class.
  std::optional<std::string> corvaneInstallationID() const;
  void setCorvaneInstallationID(const std::optional<std::string>& installationID);

  const std::shared_ptr<GWLPersistedConfig>& persistedConfig() const { return persistedConfig_; }

 private:
  GWLIdentity(std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies);
  void refreshOnQueue();
  void resetSessionStitchingTokenOnQueue();
  std::shared_ptr<GWLMonitor> monitor() const;
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const;

  const std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  Dependencies dependencies_;
  std::shared_ptr<GWLDefaultIdentitySupport> identitySupport_;
  std::shared_ptr<platform::Clock> clock_;
  std::shared_ptr<platform::SerialQueue> queue_;

  // Fixed at creation.
  std::optional<platform::Object> isIDFVCollectionEnabledNumber_;
  std::optional<std::string> appID_;
  std::optional<std::string> appVersion_;
  std::optional<int32_t> appVersionMajor_;
  std::optional<int32_t> appVersionMinor_;
  std::optional<int32_t> appVersionRelease_;

  // The identity queue's.
  std::optional<double> lastAppInstanceIDUpdateTimestamp_;
  uint64_t appleConsentStatus_ = kGWLAppleConsentStatusNoIdentifierManager;
  std::optional<std::string> resettableDeviceID_;
  bool limitedAdTracking_ = true;
  std::optional<std::string> identifierForVendorString_;
  std::optional<std::string> appIDFromQRX_;
  std::optional<std::string> sessionStitchingToken_;
  int64_t lastSessionNumber_ = 0;
  bool lastIsSessionExpired_ = false;
  std::optional<double> sessionStitchingTokenExpirationTime_;
  std::optional<std::string> ephemeralAppInstanceID_;

  std::atomic<bool> appIDFromQRXWasSet_{false};

  mutable platform::Mutex installationIDMutex_;
  std::optional<std::string> corvaneInstallationID_ ABSL_GUARDED_BY(installationIDMutex_);
};
