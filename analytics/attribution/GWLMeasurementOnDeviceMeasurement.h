// GWLMeasurementOnDeviceMeasurement — the engine's on-device conversion
// measurement through private-set-membership (PSM) queries, and its daily
// group-identifier query.
//
// When the app hands over user data (an e-mail address or phone number, in
// clear or hashed), a PSM client made from it queries the ad service; a
// match is kept as the row "odm1_value", the user property "_psmvalue" and
// one "_fx" event. The client's hashed input is cached so that every session
// start queries again (a match there is the row "odm1_session_value") and so
// that, once a day, the group client asks for the group identifier of a
// hashed e-mail address (the row "odm1_group_id"). The rows travel with every
// written event (GWLOnDeviceMeasurementValueFromRow); rows and "_psmvalue"
// expire after 90 days.
//
//   user data --gates pass--> client set --> posted --2xx/304--> value stored (or none), client dropped
//                                              |--failure--> retry after interval x 2^k (k = 0, 1, ...)
//                                              |             until the retry limit (23231)
//                                              `--context network busy--> postponed until the
//                                                 engine's next upload with nothing more to send
//   session start --cached input--> client replaced --> posted as above (no gates)
//   group trigger --checks in order--> day cleared --> fetched --answer--> day stored, row updated
//                                                           `--error--> day stays cleared (re-query)
//
// The client classes are found by name in the class registry
// (GWLClassRegistry); with none registered the whole feature stays off. The
// engine is reached through its calls (GWLMeasurementEngineCalls), asked for
// at each use; the engine calls this object through
// GWLOnDeviceMeasurementHooks.
//
// Each request's answer is read by the client that built that request (the
// completion holds it): only that client's one-time key can read it. A
// completion drops the context's client only while it is still its own, so a
// session start that replaced the client during a request keeps its own
// (postponed) request.
//
// Threads: every method runs on the engine's worker queue: the network
// completions are posted there, the retry alarm fires there, and the group
// client's answer (on the client's own queue) is handed there (block
// "GWLMeasurement:610") before anything is touched. Only the two context
// pointers are guarded by a mutex, so that they may be read anywhere.
// Blocks and alarms hold this object and the engine weakly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/attribution/GWLAttributionLog.h"
#include "analytics/attribution/GWLGroupContext.h"
#include "analytics/attribution/GWLPSMContext.h"
#include "analytics/attribution/GWLPrivateSetMembershipClient.h"
#include "analytics/attribution/ODCPrivateSetMembershipGroupClientProtocol.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

namespace platform {
class AppEnvironment;
class Clock;
}  // namespace platform
class GWLMonitor;
class GWLPBOnDeviceMeasurementValue;

// Class names the clients are found under, in the order they are looked up.
inline constexpr const char* kGWLPSMClientClassName = "GWLPrivateSetMembershipClient";
inline constexpr const char* kGWLPSMClientFallbackClassName = "ODCPrivateSetMembershipClient";
inline constexpr const char* kGWLPSMGroupClientClassName = "ODCPrivateSetMembershipGroupClient";

// The user data keys.
inline constexpr const char* kGWLUserDataEmailAddressKey = "email_address";
inline constexpr const char* kGWLUserDataPhoneNumberKey = "phone_number";
inline constexpr const char* kGWLUserDataHashedEmailAddressKey = "hashed_email_address";
inline constexpr const char* kGWLUserDataHashedPhoneNumberKey = "hashed_phone_number";

// The stored rows.
inline constexpr const char* kGWLODM1ValueRowName = "odm1_value";
inline constexpr const char* kGWLODM1SessionValueRowName = "odm1_session_value";
inline constexpr const char* kGWLODM1GroupIDRowName = "odm1_group_id";

// The internal user properties (origin "auto").
inline constexpr const char* kGWLPSMValueProperty = "_psmvalue";
inline constexpr const char* kGWLPSMCountProperty = "_psmcount";
inline constexpr const char* kGWLPSMCountPhoneProperty = "_psmcountph";
inline constexpr const char* kGWLPSMCountHashedProperty = "_psmcounth";
inline constexpr const char* kGWLPSMCountHashedPhoneProperty = "_psmcounthph";
inline constexpr const char* kGWLSessionIDProperty = "_sid";
inline constexpr const char* kGWLPSMOrigin = "auto";

// The event of a user-data match and its parameter.
inline constexpr const char* kGWLPSMMatchEventName = "_fx";
inline constexpr const char* kGWLPSMMatchSourceParameter = "_fxs";
inline constexpr const char* kGWLPSMMatchSource = "psm";

// Query parameters the engine appends to the client's request URL.
inline constexpr const char* kGWLPSMCountQueryKey = "psm_count";
inline constexpr const char* kGWLPSMPhoneCountQueryKey = "psm_phone_count";
inline constexpr const char* kGWLPSMFirstOpenQueryKey = "timestamp_first_open";
inline constexpr const char* kGWLPSMDebugKeyQueryKey = "debug_psm_key";
inline constexpr const char* kGWLPSMSessionStartQueryKey = "tss";
// The launch argument that (with debug mode or verbose logging, outside a
// store installation) sends the client's debug key.
inline constexpr const char* kGWLPSMDebugLaunchArgument = "-DebugOnDeviceConversionMeasurement";

inline constexpr const char* kGWLPSMRetryAlarmName = "On-device conversion measurement timer";
inline constexpr const char* kGWLPSMGroupIDBlockID = "GWLMeasurement:610";
// Rows and "_psmvalue" older than this (either way) are expired: 90 days.
inline constexpr double kGWLODMValueExpirySeconds = 7'776'000;
inline constexpr int32_t kGWLSecondsPerDay = 86'400;

// ---- log lines ----
inline constexpr GWLAttributionLogLine kGWLPSMInitiatedLine{23225, 7, "Initiated on-device conversion measurement"};
inline constexpr GWLAttributionLogLine kGWLPSMReadyLine{23253, 7,
                                                        "On-device conversion measurement is ready to initiate"};
inline constexpr GWLAttributionLogLine kGWLPSMNotLinkedLine{
    23254, 4,
    "On-device conversion measurement dependency is not currently linked. On-device conversion measurement will fail "
    "to initiate."};
inline constexpr GWLAttributionLogLine kGWLPSMNoClientClassLine{
    23233, 1,
    "Failed to initiate on-device conversion measurement. On-device conversion measurement dependency not linked in."};
inline constexpr GWLAttributionLogLine kGWLPSMAdStorageDeniedLine{
    23298, 1, "Failed to initiate on-device conversion measurement. Ad storage consent is denied."};
inline constexpr GWLAttributionLogLine kGWLPSMFeatureDisabledLine{
    23299, 1, "Failed to initiate on-device conversion measurement. Ads account not linked to Halcyra Analytics."};
inline constexpr GWLAttributionLogLine kGWLPSMOutsideFirstOpenWindowLine{
    23261, 1,
    "Failed to initiate on-device conversion measurement. Attempted to initiate outside the first open window."};
inline constexpr GWLAttributionLogLine kGWLPSMInProgressLine{
    23235, 1,
    "Failed to initiate on-device conversion measurement. Request to query data set for on-device conversion "
    "measurement already in progress."};
inline constexpr GWLAttributionLogLine kGWLPSMStartLimitLine{
    23236, 1, "Failed to initiate on-device conversion measurement. Exceeded limit per app run."};
inline constexpr GWLAttributionLogLine kGWLPSMExistingMatchLine{
    23237, 1, "Failed to initiate on-device conversion measurement. Found existing match."};
inline constexpr GWLAttributionLogLine kGWLPSMRetryLimitGateLine{
    23238, 1, "Failed to initiate on-device conversion measurement. Exceeded retry limit."};
inline constexpr GWLAttributionLogLine kGWLPSMEmptyEmailLine{
    23234, 1, "Failed to initiate on-device conversion measurement. Email address was empty."};
inline constexpr GWLAttributionLogLine kGWLPSMEmptyPhoneLine{
    23239, 1, "Failed to initiate on-device conversion measurement. Phone number was empty."};
inline constexpr GWLAttributionLogLine kGWLPSMPhoneUnsupportedLine{
    23262, 1,
    "Failed to initiate on-device conversion measurement. Linked on-device conversion measurement dependency does "
    "not support phone numbers."};
inline constexpr GWLAttributionLogLine kGWLPSMEmptyHashedIdentifierLine{
    23264, 1, "Failed to initiate on-device conversion measurement. Hashed identifier was empty."};
inline constexpr GWLAttributionLogLine kGWLPSMHashedUnsupportedLine{
    23265, 1,
    "Failed to initiate on-device conversion measurement. Linked on-device conversion measurement dependency does "
    "not support hashed identifiers."};
inline constexpr GWLAttributionLogLine kGWLPSMSessionUnsupportedLine{
    23283, 1,
    "Failed to initiate on-device conversion measurement for re-engagement campaign. Linked on-device conversion "
    "measurement dependency does not support re-engagement campaigns."};
inline constexpr GWLAttributionLogLine kGWLPSMSessionNoCachedInputLine{
    23284, 4,
    "Failed to initiate on-device conversion measurement for re-engagement campaign. Cached first party data not "
    "found."};
inline constexpr GWLAttributionLogLine kGWLPSMSessionInitiatedLine{
    23285, 7, "Initiated on-device conversion measurement for re-engagement campaign"};
inline constexpr GWLAttributionLogLine kGWLPSMInvalidPayloadLine{
    23293, 1, "Payload to query data set for on-device conversion measurement is invalid"};
inline constexpr GWLAttributionLogLine kGWLPSMInvalidURLLine{
    23227, 1, "URL to query data set for on-device conversion measurement is invalid"};
inline constexpr GWLAttributionLogLine kGWLPSMPostponedLine{
    23232, 7,
    "Network operation is pending. Request to query data set for on-device conversion measurement postponed."};
inline constexpr GWLAttributionLogLine kGWLPSMRequestFailedLine{
    23228, 1, "Failed to query data set for on-device conversion measurement. Will retry later. Code, error"};
inline constexpr GWLAttributionLogLine kGWLPSMMatchLine{23229, 7, "On-device conversion measurement found a match"};
inline constexpr GWLAttributionLogLine kGWLPSMNoMatchLine{
    23230, 7, "On-device conversion measurement did not find a match. Will try again given new user data."};
inline constexpr GWLAttributionLogLine kGWLPSMRetryLimitLine{
    23231, 4, "On-device conversion measurement failed to find a match. Reached retry limit."};
inline constexpr GWLAttributionLogLine kGWLPSMSessionValueFailedLine{23297, 1,
                                                                     "Failed to update ODM session value. Error"};
inline constexpr GWLAttributionLogLine kGWLPSMValueFailedLine{23286, 1, "Failed to update ODM value. Error"};
inline constexpr GWLAttributionLogLine kGWLPSMDeleteValueFailedLine{23289, 4, "Failed to delete ODM value. Error"};
inline constexpr GWLAttributionLogLine kGWLPSMDeleteSessionValueFailedLine{23296, 4,
                                                                           "Failed to delete ODM session value. Error"};
inline constexpr GWLAttributionLogLine kGWLPSMDeleteGroupIDFailedLine{23301, 4, "Failed to delete ODM group ID. Error"};

inline constexpr GWLAttributionLogLine kGWLGroupAdStorageDeniedLine{
    23307, 4,
    "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Ad storage "
    "consent is denied."};
inline constexpr GWLAttributionLogLine kGWLGroupFeatureDisabledLine{
    23308, 4,
    "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Ads account not "
    "linked to Halcyra Analytics."};
inline constexpr GWLAttributionLogLine kGWLGroupUnsupportedLine{
    23309, 1,
    "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Linked on-device "
    "conversion measurement dependency does not support this feature."};
inline constexpr GWLAttributionLogLine kGWLGroupNoCachedInputLine{
    23310, 5,
    "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Cached "
    "first-party data not found."};
inline constexpr GWLAttributionLogLine kGWLGroupPhoneUnsupportedLine{
    23311, 5,
    "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Phone numbers "
    "not supported."};
inline constexpr GWLAttributionLogLine kGWLGroupDailyCapLine{
    23312, 5,
    "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Reached daily "
    "cap."};
inline constexpr GWLAttributionLogLine kGWLGroupRequestFailedLine{
    23313, 1,
    "Failed to query aggregate first-party data set for on-device conversion measurement. Will retry later. Error"};
inline constexpr GWLAttributionLogLine kGWLGroupNoMatchLine{
    23314, 7, "On-device conversion measurement for aggregate first-party data did not find a match"};
inline constexpr GWLAttributionLogLine kGWLGroupMatchLine{
    23315, 7, "On-device conversion measurement for aggregate first-party data found a match"};
inline constexpr GWLAttributionLogLine kGWLGroupIDFailedLine{23300, 2, "Failed to update ODM group ID. Error"};

// A stored row {name, value, set_timestamp} in wire form: set_timestamp
// seconds times 1000 (truncated toward zero, saturated) and the value; null
// without "set_timestamp" or "value".
std::shared_ptr<GWLPBOnDeviceMeasurementValue> GWLOnDeviceMeasurementValueFromRow(const platform::Dictionary& row);

class GWLMeasurementOnDeviceMeasurement : public GWLOnDeviceMeasurementHooks,
                                          public std::enable_shared_from_this<GWLMeasurementOnDeviceMeasurement> {
 public:
  struct Dependencies {
    // The engine, asked for at each use; GWLMeasurementRegistry::sharedInstance when empty.
    std::function<std::shared_ptr<GWLMeasurementEngine>()> engine;
    std::shared_ptr<GWLMonitor> monitor;     // the library's monitor when null
    std::shared_ptr<platform::Clock> clock;  // now and the retry alarm; the system clock when null
    // The launch arguments; the shared app environment (at each use) when null.
    std::shared_ptr<platform::AppEnvironment> environment;
    // Whether this is a store installation; GWLAEU::isFAS when empty.
    std::function<bool()> isAppStoreInstallation;
  };

  static std::shared_ptr<GWLMeasurementOnDeviceMeasurement> create(Dependencies dependencies = {});
  // Cancels an armed retry: the armed alarm keeps itself (and its clock) alive until it fires.
  ~GWLMeasurementOnDeviceMeasurement() override;

  // ---- the engine's calls (GWLOnDeviceMeasurementHooks) ----
  // With a client class: a fresh context (23253); without one, 23254 when
  // "_psmcount" or "_psmcountph" tells the feature was used before.
  void checkPSMDependencyOnWorkerQueue() override;
  // Expired rows go (23289, 23296, 23301 on failure); an expired "_psmvalue"
  // goes with the four counts; a live one without "odm1_value" rebuilds it.
  void maybeDeleteExpiredPSMValueOnWorkerQueue() override;
  void initiateODMGroupIDProtocol() override;
  // Fresh query and group contexts (a wipe-out of the analytics data).
  void resetContexts() override;
  void initiateODMSessionStartProtocolWithTimestamp(double timestamp) override;
  std::shared_ptr<GWLPBOnDeviceMeasurementValue> onDeviceMeasurementValueFromRow(
      const platform::Dictionary& row) override;
  bool isGWLPrivateSetMembershipClientLinked() override;
  void initiateODM1ProtocolWithUserData(const platform::Dictionary& userData) override;
  // The engine's context's postponed mark (false without a context).
  bool isPSMRequestPostponed() override;
  void setIsPSMRequestPostponed(bool postponed) override;
  // retrievePSMResponse with the engine's context (nothing without one).
  void retrievePSMResponse() override;

  // ---- the query run ----
  // "GWLPrivateSetMembershipClient", else "ODCPrivateSetMembershipClient", else null.
  static std::shared_ptr<const GWLPrivateSetMembershipClientClass> PSMClientClass();
  // Ad storage not denied and the remote switch on.
  bool shouldAllowODMFeature();
  // The row "odm1_value", else the property "_psmvalue".
  bool ODM1ValueExists();
  // The query gate: the first failing check logs its line and answers false.
  bool shouldRetrievePSMResponse();
  bool shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress);
  bool shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber);
  bool shouldRetrievePSMResponseWithHashedIdentifier(std::span<const uint8_t> hashedIdentifier);
  std::shared_ptr<GWLPrivateSetMembershipClient> PSMClientWithEmailAddress(const std::string& emailAddress);
  std::shared_ptr<GWLPrivateSetMembershipClient> PSMClientWithPhoneNumber(const std::string& phoneNumber);
  std::shared_ptr<GWLPrivateSetMembershipClient> PSMClientWithHashedEmailAddress(std::span<const uint8_t> hashed);
  std::shared_ptr<GWLPrivateSetMembershipClient> PSMClientWithHashedPhoneNumber(std::span<const uint8_t> hashed);
  std::shared_ptr<GWLPrivateSetMembershipClient> PSMClientWithCachedInputs();
  // Keeps the client's hashed input and input type and clears the group
  // query's day (nothing for a null client); `clearCachedPSMInputs` clears all three.
  void cachePSMInputsFromClient(const std::shared_ptr<GWLPrivateSetMembershipClient>& client);
  void clearCachedPSMInputs();
  // The context client's URL with the engine's query parameters; none without one.
  std::optional<std::string> PSMRequestURL(const GWLPSMContext& context);
  void retrievePSMResponse(const std::shared_ptr<GWLPSMContext>& context);
  void maybeSchedulePSMRetry(const std::shared_ptr<GWLPSMContext>& context);
  void handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue);
  void incrementPSMCountOnWorkerQueueWithName(const std::string& name);
  bool isExpiredODMValueWithName(const std::string& name);

  // ---- the group-identifier run ----
  static std::shared_ptr<const ODCPrivateSetMembershipGroupClientClass> PSMGroupClientClass();
  std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> PSMGroupClientWithCachedInputs();
  void handleODMGroupIDOnWorkerQueue(const std::string& value);
  // floor((now - midnightOffset) / 86400) as a 32-bit day number.
  int32_t currentDayNumber();

  // ---- state ----
  std::shared_ptr<GWLPSMContext> ODM1Context() const;
  void setODM1Context(std::shared_ptr<GWLPSMContext> context);
  std::shared_ptr<GWLGroupContext> ODM1GroupContext() const;
  void setODM1GroupContext(std::shared_ptr<GWLGroupContext> context);

 private:
  explicit GWLMeasurementOnDeviceMeasurement(Dependencies dependencies);
  std::shared_ptr<GWLMeasurementEngine> engine() const;
  std::shared_ptr<GWLMonitor> monitor() const;
  double now() const;
  template <class... Contexts>
  void log(const GWLAttributionLogLine& line, const Contexts&... contexts) const;
  std::string appID(const std::shared_ptr<GWLMeasurementEngine>& engine) const;
  // The user property's int64 value; 0 when it is absent.
  int64_t int64UserProperty(const std::string& name);
  void setUserProperty(const std::string& name, const GWLValue& value);
  // The answer to a request of `context` sent with `client`.
  void handlePSMResponse(const std::shared_ptr<GWLPSMContext>& context,
                         const std::shared_ptr<GWLPrivateSetMembershipClient>& client, const std::string& countName,
                         bool isSessionValue, int status, const std::vector<uint8_t>& data,
                         const std::optional<platform::Error>& error);
  // The group client's answer, on the worker queue.
  void handleGroupIDResponse(const std::shared_ptr<GWLGroupContext>& context, const std::optional<std::string>& value,
                             const std::optional<platform::Error>& error);
  bool launchArgumentsContain(const std::string& argument) const;
  bool isAppStoreInstallation() const;

  const Dependencies dependencies_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<GWLPSMContext> ODM1Context_ ABSL_GUARDED_BY(mutex_);
  std::shared_ptr<GWLGroupContext> ODM1GroupContext_ ABSL_GUARDED_BY(mutex_);
};
