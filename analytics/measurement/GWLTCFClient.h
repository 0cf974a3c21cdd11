// GWLTCFClient — applies the TCF consent strings of a consent management
// platform: decides ad storage, ad personalisation and ad user data from the
// snapshot of the "IABTCF_" keys, reports each change in the internal event
// "_tcf", keeps a copy of what it last saw in its own suite
// "com.halcyra.qrx.measurement.tcf.userdefaults", and hands the consent to the
// consent unit with the TCF source (key "consent_settings_tcf", source 5).
//
// `setConsentFromTCFData` is the whole step: re-read the keys; stop when
// there is nothing to read (the state string is "_v_=2,isTCFDataEnabled=1")
// or the stored state string equals the present one; else log "_tcf" (origin
// "auto"; "_tcfd", "_tcfd2", "_tcfm"), store the present state, and apply the
// consent when the data is enabled with advertiser consent mode on and GDPR
// applying, or when the one-time vendor fix is due. So "_tcf" is logged once
// per change whether or not the consent is applied, and TCF data switched off
// in the Info dictionary is stored and reported but never applied. When the
// platform deletes every key there is nothing to read: the consent applied
// before stays in force and so does the stored state.
//
// Stored state (the suite): "HALCYRA_ANALYTICS_TCF_DATA_ENABLED" (bool), the
// copies of the snapshot's fields under the keys they were read from
// ("IABTCF_PublisherRestrictions" holding the ten restrictions as an array;
// an absent field removes its key), and "tcf_StringRepresentation", the state
// string. Stored values are read back with the snapshot's typed reads: a value
// of the wrong type reads as absent.
//
// Threading: the engine calls it on its worker queue; any thread may. Calls
// of `setConsentFromTCFData` run one at a time and call the event sink and the
// consent unit while they hold the client's step lock (neither may call this
// client back). The snapshot is swapped whole by `readTCFData`; the DMA-region
// flag may be read and set from any thread.
#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "analytics/measurement/GWLTCFData.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

class GWLAnalyticsConsent;
class GWLAnalyticsConsentSink;
class GWLUserDefaults;

namespace platform {
class AppEnvironment;
}

inline constexpr const char* kGWLTCFSuiteName = "com.halcyra.qrx.measurement.tcf.userdefaults";
inline constexpr const char* kGWLTCFStringRepresentationKey = "tcf_StringRepresentation";
// The version part that every state string of this client begins with.
inline constexpr const char* kGWLTCFStateVersionPart = "_v_=2";
// The state string of a snapshot without keys, TCF data enabled.
inline constexpr const char* kGWLTCFEmptyStateString = "_v_=2,isTCFDataEnabled=1";

inline constexpr const char* kGWLTCFChangedEventName = "_tcf";
inline constexpr const char* kGWLTCFChangedEventOrigin = "auto";
inline constexpr const char* kGWLTCFBundleParameter = "_tcfd";
inline constexpr const char* kGWLTCFReasonsParameter = "_tcfd2";
inline constexpr const char* kGWLTCFMigrationParameter = "_tcfm";
// Character k of "_tcfd" values is this table's k-th.
inline constexpr const char* kGWLTCFParameterCharacters =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";

class GWLTCFClient {
 public:
  struct Dependencies {
    // The entry class's consent unit. Null: a unit of the client's own on the
    // suite "GWLAnalyticsSuiteName", with `eventSink` as its sink.
    std::shared_ptr<GWLAnalyticsConsent> consent;
    // Where "_tcf" goes (the entry class's internal-event sink); held weakly.
    // While there is none, the event is not logged (the state is still stored).
    std::weak_ptr<GWLAnalyticsConsentSink> eventSink;
    // The app's own user defaults, where the platform writes its keys. Null: the shared ones.
    std::shared_ptr<GWLUserDefaults> appDefaults;
    // The client's suite. Null: "com.halcyra.qrx.measurement.tcf.userdefaults".
    std::shared_ptr<GWLUserDefaults> userDefaults;
    // Whose Info dictionary switches TCF data on or off. Null: the shared one.
    std::shared_ptr<platform::AppEnvironment> environment;
  };

  // A new snapshot (the enabled flag read now, nothing else yet), the DMA-region flag set.
  explicit GWLTCFClient(Dependencies dependencies = {});

  // The whole step (see the header comment).
  void setConsentFromTCFData();
  // Re-reads the keys into a new snapshot.
  void readTCFData();
  // TCF data enabled, advertiser consent mode on and GDPR applying.
  bool shouldApplyTCFData() const;
  // The stored state string lacks "_v_=2" (or is missing), the data would be
  // applied (shouldApplyTCFData) and bit 754 of the vendor consents is unset.
  bool shouldApplyOneTimeTCFVendorFix() const;
  // Stores the present snapshot and its state string.
  void storeCurrentData();
  // The state string of the present snapshot, such as "_v_=2,isTCFDataEnabled=1,gdprApplies=1".
  std::string stringRepresentationFromTCFData() const;
  // A stored state string exists and equals the present one.
  bool persistedValuesEqualCurrentData() const;
  // The present state string differs from "_v_=2,isTCFDataEnabled=1".
  bool hasTCFDataToRead() const;
  // Removes every key of the suite.
  void clearPersistedValues();
  // "granted" for true, "denied" for false.
  static std::string consentStatusFromEnabled(bool enabled);
  // The consent ("ad_storage", "ad_personalization", "ad_user_data") that the
  // stored copies decide.
  platform::Dictionary previousConsent() const;

  // "_tcfd": "1", then the CMP SDK ID's bits 6 to 11 and 0 to 5 (both "0"
  // outside 0 to 4095), the policy version ("0" outside 0 to 63), and the
  // flags (bit 0 DMA region, 1 GDPR applies, 2 TCF data enabled, 3 advertiser
  // consent mode), each a character of kGWLTCFParameterCharacters.
  std::string tcfBundleParameterValue() const;
  // "_tcfd2": "2" and the consent reasons of purposes 1, 3, 4 and 7.
  std::string tcfd2ParamValue() const;
  // "_tcfm": the two flags as "0" or "1".
  static std::string tcfdMigrationParamValueForMigrationDidOccur(bool migrationDidOccur,
                                                                 bool didMigrationChangeConsent);
  // The consent reason of the purpose in the present snapshot.
  int64_t tcfd2ParamValueForPurposeID(int64_t purposeID) const;
  // Logs "_tcf" for the present snapshot.
  void logTCFChangedEventShouldApplyOneTimeVendorFix(bool shouldApplyOneTimeVendorFix,
                                                     bool isCurrentSameAsPreviousTCFConsent);

  // The present snapshot.
  std::shared_ptr<const GWLTCFData> tcfData() const;
  bool isDMARegion() const { return isDMARegion_.load(); }
  void setIsDMARegion(bool isDMARegion) { isDMARegion_.store(isDMARegion); }
  const std::shared_ptr<GWLUserDefaults>& userDefaults() const { return userDefaults_; }

 private:
  static std::string stringRepresentation(const GWLTCFData& data);
  static platform::Dictionary consentFromData(const GWLTCFData& data);
  static bool shouldApply(const GWLTCFData& data);
  static bool isVendorFixDue(const GWLTCFData& data, const std::optional<std::string>& storedState);
  std::string bundleParameterValue(const GWLTCFData& data) const;
  static std::string reasonsParameterValue(const GWLTCFData& data);
  void store(const GWLTCFData& data, const std::string& state);
  void logChangedEvent(const GWLTCFData& data, bool vendorFix, bool sameAsPrevious);
  std::optional<std::string> storedState() const;

  std::shared_ptr<GWLAnalyticsConsent> consent_;
  std::weak_ptr<GWLAnalyticsConsentSink> eventSink_;
  std::shared_ptr<GWLUserDefaults> userDefaults_;
  std::atomic<bool> isDMARegion_{true};
  // Serialises setConsentFromTCFData.
  platform::Mutex stepLock_;
  mutable platform::Mutex dataLock_;
  std::shared_ptr<const GWLTCFData> tcfData_ ABSL_GUARDED_BY(dataLock_);
};
