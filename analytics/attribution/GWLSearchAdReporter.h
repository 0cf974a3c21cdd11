// GWLSearchAdReporter — finds out once per install whether the app was
// installed from a search-ads campaign of the platform vendor and, if so, logs
// the campaign as the internal event "_cmp" (origin "auto").
//
// An attempt asks the attribution framework (platform::AAAttribution) for a
// token and posts it to the vendor's attribution API, POST "/api/v1/" on the
// search-ads host, body the token, "Content-Type: text/plain",
// "cache-control: no-cache", time-out 10 s, through an HVUNetwork of the
// reporter's own. Attempts run at most once a day and at most ten times per
// install; the state survives restarts in the persisted settings:
//
//   searchAdCampaignValue        absent until an answer is accepted, then whether
//                                the install is attributed (never asked again)
//   lastSearchAdLookUpTimestamp  wall time of the last attempt (0 before the first)
//   searchAdRetryCount           attempts made
//
//   created -> start -> scheduled (alarm armed for 86400 s - |now - last attempt|)
//     -> attempt (count + 1, last = now, next attempt armed a day later)
//     -> answer accepted (value stored, alarm dropped)  |  failed (next attempt stays armed)
//     -> ... ten attempts: nothing more is scheduled (32007); no reporter at the next launch.
//
// Answers (GWLReadSearchAdAnswer): only a 2xx answer whose JSON object holds a
// boolean "attribution" is accepted. A network error, another status or a body
// without that boolean is a failed attempt (32015), a body that is not JSON too
// (32017), test data ("adId" and "campaignId" both "1234567890") is not stored
// (32016); each leaves the value unset for the next daily attempt. A server
// failure is never stored as "not attributed".
//
// Threads: made, started and scheduled on the worker queue, where the alarm
// fires and the answer is handled too, so alarm, counters and stored value are
// touched on one queue. `setSearchAdReporterEnabled` and
// `isSearchAdReporterEnabled` may be called on any thread. The check-and-store
// of the campaign value (`logCampaignEventWithSearchAdCampaign`) runs under
// the reporter's own mutex, so that at most one campaign event is logged
// whichever thread calls it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/attribution/GWLAttributionLog.h"
#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/foundation/config/GWLMeasurementEngineCalls.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "platform/core/Error.h"
#include "platform/util/Mutex.h"

namespace platform {
class Clock;
class HVUNetwork;
class Queue;
struct HTTPURLResponse;
}  // namespace platform
class GWLAlarm;
class GWLMonitor;
class GWLPersistedConfig;

inline constexpr const char* kGWLSearchAdReporterAlarmName = "Search Ad campaign report alarm";
inline constexpr const char* kGWLAdServicesClassName = "AAAttribution";
inline constexpr const char* kGWLSearchAdAttributionPath = "/api/v1/";
inline constexpr double kGWLSearchAdRequestTimeout = 10;
inline constexpr double kGWLSearchAdReportInterval = 86400;
inline constexpr int64_t kGWLSearchAdMaxAttempts = 10;
inline constexpr const char* kGWLSearchAdTestDataID = "1234567890";

// Keys of the answer.
inline constexpr const char* kGWLSearchAdAttributionKey = "attribution";
inline constexpr const char* kGWLSearchAdCampaignIDKey = "campaignId";
inline constexpr const char* kGWLSearchAdAdIDKey = "adId";
inline constexpr const char* kGWLSearchAdKeywordIDKey = "keywordId";

// The campaign event "_cmp" (its name, origin and "click_timestamp" are the
// deep links' own, GWLMeasurementDeepLinks.h) and the members this reporter adds.
inline constexpr const char* kGWLCampaignSourceParameter = "source";
inline constexpr const char* kGWLCampaignMediumParameter = "medium";
inline constexpr const char* kGWLCampaignParameter = "campaign";
inline constexpr const char* kGWLCampaignTermParameter = "term";
inline constexpr const char* kGWLSearchAdCampaignSource = "Apple";
inline constexpr const char* kGWLSearchAdCampaignMedium = "search";

// The reporter's log lines.
inline constexpr GWLAttributionLogLine kGWLSearchAdNoQueue{
    32000, 2, "Cannot init Search Ad reporter. Queue must be provided"};
inline constexpr GWLAttributionLogLine kGWLSearchAdNoPersistedConfig{
    32001, 2, "Cannot init Search Ad reporter. Persisted config must be provided"};
inline constexpr GWLAttributionLogLine kGWLSearchAdAlreadyReportedAtInit{
    32002, 7, "Search Ad campaign attribution was already reported. Do not start Search Ad Reporter."};
inline constexpr GWLAttributionLogLine kGWLSearchAdAlreadyReported{
    32004, 7, "Search Ad report not scheduled. Search Ad campaign attribution was already reported."};
inline constexpr GWLAttributionLogLine kGWLSearchAdAlreadyScheduled{
    32005, 5, "Search Ad Campaign attribution alarm is already scheduled"};
inline constexpr GWLAttributionLogLine kGWLSearchAdScheduling{32006, 7, "Scheduling Search Ad Report timer"};
inline constexpr GWLAttributionLogLine kGWLSearchAdTooManyAttempts{
    32007, 5, "Search Ad Campaign attribution exceeds the max number of retries. Do not schedule again."};
inline constexpr GWLAttributionLogLine kGWLSearchAdAlreadyTracked{32008, 5, "Search Ad Campaign is already tracked"};
inline constexpr GWLAttributionLogLine kGWLSearchAdNoClickTimestamp{
    32009, 5, "Search Ad Campaign does not have click_timestamp."};
inline constexpr GWLAttributionLogLine kGWLSearchAdAlarmCanceled{
    32013, 5, "Search Ad Campaign attribution alarm is already canceled"};
inline constexpr GWLAttributionLogLine kGWLSearchAdNoAdServices{
    32014, 7, "AdServices framework is not linked. Search Ad Attribution Reporter is disabled."};
inline constexpr GWLAttributionLogLine kGWLSearchAdRequestFailed{
    32015, 1, "Cannot send request for Search Ad campaign attribution. Error"};
inline constexpr GWLAttributionLogLine kGWLSearchAdTestData{
    32016, 7, "Search Ad Reporter returned test data. Will retry next time."};
inline constexpr GWLAttributionLogLine kGWLSearchAdUnparsableAnswer{
    32017, 1, "Search Ad Reporter failed to parse JSON data. Error"};
inline constexpr GWLAttributionLogLine kGWLSearchAdTokenFailed{
    32018, 1, "Cannot send request for Search Ad campaign attribution. Error"};
inline constexpr GWLAttributionLogLine kGWLSearchAdSimulator{
    32019, 7, "Search Ad Attribution Reporter is disabled on the simulator"};

// What an answer of the attribution API says.
struct GWLSearchAdAnswer {
  enum class Kind {
    kFailed,      // no answer, another status than 2xx, or no boolean "attribution" (32015)
    kUnparsable,  // a 2xx body that is not JSON (32017)
    kTestData,    // "adId" and "campaignId" both "1234567890" (32016)
    kAccepted,    // "attribution" with the campaign and keyword when present
  };
  Kind kind = Kind::kFailed;
  platform::Error error;  // kFailed and kUnparsable
  bool attributed = false;
  std::optional<std::string> campaign;  // "campaignId"
  std::optional<std::string> term;      // "keywordId"
};

// Reads one answer: `networkError` when the request failed, else the answer's
// head (null counts as a failure) and body. A JSON member is read as text when
// it is a string, a number (its decimal form) or a boolean ("1" or "0").
GWLSearchAdAnswer GWLReadSearchAdAnswer(const platform::HTTPURLResponse* response, std::span<const uint8_t> body,
                                        const std::optional<platform::Error>& networkError);

// What a search-ads reporter reads of its surroundings.
struct GWLSearchAdReporterDependencies {
  using EngineLookup = std::function<std::shared_ptr<GWLMeasurementEngineCalls>()>;

  std::shared_ptr<platform::Clock> clock;  // the system clock when null
  std::shared_ptr<GWLMonitor> monitor;     // the library's monitor when null
  // Answers the engine (null while there is none); the registry's shared engine when empty.
  EngineLookup engine;
  // Where the attribution API lives; when unset, the process's search-ads
  // host (GWLServiceHosts::forProcess) as it stands when the reporter is
  // made, so that hosts the host program chose after the library's load
  // call still apply.
  std::optional<GWLServiceEndpoint> endpoint;
  // The certificates trusted for an https endpoint; the system's when empty.
  std::string trustFile;
  // Whether the class "AAAttribution" is present; GWLAEU::classExists when empty.
  std::function<bool()> hasAdServices;
  // Whether the app runs in the simulator; GWLAEU::isNOD when empty.
  std::function<bool()> isSimulator;
  // The attribution token or an error; platform::AAAttribution's when empty.
  std::function<std::optional<std::string>(platform::Error*)> attributionToken;
};

class GWLSearchAdReporter : public std::enable_shared_from_this<GWLSearchAdReporter> {
 public:
  using Dependencies = GWLSearchAdReporterDependencies;

  // Null when a queue or settings are missing (32000, 32001), after more than
  // nine attempts, or once a campaign value is stored (32002).
  static std::shared_ptr<GWLSearchAdReporter> initWithWorkerQueue(std::shared_ptr<platform::Queue> queue,
                                                                  std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                                  Dependencies dependencies = {});
  ~GWLSearchAdReporter();

  // ---- worker queue ----
  // Without the attribution framework (32014) or in the simulator (32019)
  // nothing is scheduled; otherwise `scheduleSearchAdReport`.
  void start();
  // Arms the alarm for the next attempt unless the reporter is cancelled
  // (32013), disabled (the alarm is disarmed), answered (32004), already armed
  // (32005) or out of attempts (32007).
  void scheduleSearchAdReport();
  // Disarms the alarm and drops it: nothing is scheduled again.
  void cancelScheduling();
  // One attempt (the alarm's block): nothing without the framework or while
  // disabled; else the last attempt time becomes now, the token is fetched
  // and posted, and the next attempt is scheduled.
  void maybeLogIAdCampaignEvent();
  // Counts the attempt and posts the framework's token (32018 for its error).
  void fetchAttributionDetails();
  // Posts a non-empty token; the answer is handled on the worker queue.
  void requestAttributionPayloadWithToken(const std::string& token);
  // Handles one answer of the attribution API (see GWLReadSearchAdAnswer).
  void handleAttributionAnswer(const platform::HTTPURLResponse* response, std::span<const uint8_t> body,
                               const std::optional<platform::Error>& networkError);

  // ---- any thread ----
  // Stores `attributed` unless a value is stored (32008); when it was not and
  // the install is attributed, logs "_cmp" with the campaign and the term when
  // not empty and "click_timestamp" = first open in ms - 1 (left out, 32009,
  // for a first open below 2 ms).
  void logCampaignEventWithSearchAdCampaign(bool attributed, const std::optional<std::string>& campaign,
                                            const std::optional<std::string>& term);
  // Whether the attribution framework is present.
  bool adClientInstance() const;
  bool isSearchAdReporterEnabled() const { return searchAdReporterEnabled_.load(); }
  void setSearchAdReporterEnabled(bool enabled) { searchAdReporterEnabled_.store(enabled); }

 private:
  GWLSearchAdReporter(std::shared_ptr<platform::Queue> queue, std::shared_ptr<GWLPersistedConfig> persistedConfig,
                      Dependencies dependencies, std::shared_ptr<GWLAlarm> alarm);
  std::shared_ptr<GWLMonitor> monitor() const;
  std::shared_ptr<GWLAlarm> alarm() const;

  const std::shared_ptr<platform::Queue> queue_;
  const std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  const Dependencies dependencies_;
  const std::unique_ptr<platform::HVUNetwork> network_;
  std::atomic<bool> searchAdReporterEnabled_{false};

  mutable platform::Mutex alarmMutex_;
  // Null after cancelScheduling.
  std::shared_ptr<GWLAlarm> searchAdReporterAlarm_ ABSL_GUARDED_BY(alarmMutex_);
  // Held for the check-and-store of the campaign value.
  platform::Mutex campaignMutex_;
};
