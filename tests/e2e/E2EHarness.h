// The end-to-end harness: the library as an app runs it, talking over
// loopback to the local collection service.
//
// Each scenario is its own process (the library and the core framework exist
// once per process). `start` runs, in the app host's order:
//   1. the collection service (a child process, tools/collection_service)
//      with the PSM double, recording every batch it accepts, capturing
//      every request, serving the scenario's configuration and answering
//      the attribution routes from the scenario's attribution file;
//   2. the app's platform: a data directory, an Info dictionary and the
//      library's service file written for the scenario, the preferences;
//   3. the library: its process-load call on the harness's manual clock, the
//      collection service as its hosts, the core framework's configure call,
//      did-finish-launching, then (once the library has started)
//      did-become-active; then the clock is moved until the engine has
//      fetched its configuration and uploaded its start's events.
// From there a scenario uses the library's public calls (CVNAnalytics) and
// the platform's notifications. The library's queues and HVUNetwork are the
// real ones; only time is the harness's: `advance` moves the clock and lets
// what falls due run. The waits are bounded and wait for the library's
// threads and socket I/O only; they never sleep in place of a timer.
//
// The test thread is the main thread: the harness drains the main queue
// while it waits.
//
// At the end of every scenario the privacy check (PrivacyCheck.h) runs over
// everything the service captured; the e-mail addresses and phone numbers a
// scenario hands to the library are named in its Scenario so that the check
// looks for them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PrivacyCheck.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Clock.h"
#include "platform/TestTmp.h"

class GWLPBMeasurementConfig;
class GWLPBMeasurementBatch;
class GWLPBMeasurementBundle;
class GWLPBEvent;
class GWLPBEventParam;
class GWLPBUserAttribute;

namespace tabulo::test {
class CollectionServiceProcess;
}

namespace e2e {

// The app ID of the scenarios' service file.
inline constexpr const char* kAppID = "1:482190637215:ios:7c3e51a09d4b2f68";
inline constexpr const char* kBundleID = "com.halcyra.tabulo";

struct Scenario {
  // The configuration the service serves for kAppID (the app ID is set by
  // the harness); none: the service has none (404) and the defaults apply.
  std::shared_ptr<GWLPBMeasurementConfig> config;
  // The attribution routes' scenario (JSON text, see
  // analytics/attribution/testing/AttributionScenario.h); none: empty.
  std::optional<std::string> attribution;
  // Entries added to the app's Info dictionary (consent defaults, switches).
  platform::Dictionary info;
  // Optional components the app links (platform::AppEnvironment), e.g. the
  // ad platform's attribution framework.
  std::vector<std::string> components;
  // Launch arguments after the program name. The debug-mode argument, with
  // which the library uploads a second after each event, is there unless
  // `debugMode` is false.
  std::vector<std::string> arguments;
  bool debugMode = true;
  // What the privacy check looks for besides any e-mail-shaped text.
  std::vector<std::string> emailAddresses;
  std::vector<std::string> phoneNumbers;
  // Whether the scenario lets the library send the membership debug key.
  bool debugKeyAllowed = false;
};

// A decoded upload: its file name and its batch.
struct RecordedBatch {
  std::string file;
  std::shared_ptr<GWLPBMeasurementBatch> batch;
  std::vector<std::shared_ptr<GWLPBMeasurementBundle>> bundles() const;
};

class E2ETest : public ::testing::Test {
 protected:
  E2ETest();
  ~E2ETest() override;
  void TearDown() override;

  // Starts the service and the library for `scenario` (see the header
  // comment); fails the test (fatally) when either cannot start. Call it
  // once, wrapped in ASSERT_NO_FATAL_FAILURE.
  void start(const Scenario& scenario = Scenario());

  // ---- time and waits ----
  platform::ManualClock& clock() { return *clock_; }
  // Moves the clock by `seconds`, a minute at a time, settling after each step.
  void advance(double seconds);
  // Waits until the library has done every call made before (through its
  // operation queue, GWLAnalyticsQueue and the worker queue), no request of
  // the engine is in flight and the main queue is empty. False after 20 s.
  bool settle();
  // Waits until the service has recorded `count` batches since the start, moving the
  // clock a second at a time (settling in between) for at most
  // `maxSeconds` of the clock. Answers the batches recorded by then.
  std::vector<RecordedBatch> waitForBatches(size_t count, double maxSeconds = 120);
  // The same until `done` holds for the batches recorded since the start.
  using UploadCheck = std::function<bool(const std::vector<RecordedBatch>&)>;
  std::vector<RecordedBatch> waitForUploads(const UploadCheck& done, double maxSeconds = 120);
  // The same until the batches since the start hold `count` events named `name`.
  std::vector<RecordedBatch> waitForEvent(const std::string& name, size_t count = 1, double maxSeconds = 120);
  // Posts a platform notification on the default centre, as the app host does.
  void post(const std::string& notification, const platform::Dictionary& userInfo = {});

  // ---- what the service saw ----
  // The batches recorded since the start (after the one or more that
  // carried the start's own events), decoded, in the order the service
  // accepted them.
  std::vector<RecordedBatch> batches() const;
  // Every batch recorded, the start's included.
  std::vector<RecordedBatch> allBatches() const;
  // Whether the engine has asked the service for its configuration.
  bool fetchedConfiguration() const;
  // Every request the service answered, in order (the /control/ ones aside).
  std::vector<CapturedRequest> captured() const;
  // How many uploads (POST /a) the service was sent, answered or not.
  size_t uploadAttempts() const;
  // The request lines captured, e.g. "POST /a HTTP/1.1".
  std::vector<std::string> requestLines() const;
  // A request to the service itself (its /control/ paths and the like):
  // the HTTP status and the body; -1 when no answer came.
  std::pair<int, std::string> serviceRequest(const std::string& method, const std::string& path,
                                            const std::string& body = "");
  // Makes the next `count` answers of the service fail: an HTTP status
  // ("fail"), or the connection closed after the header ("drop").
  void failNext(int status, int count = 1);
  void dropNext(int count = 1);
  std::string serviceURL(const std::string& path) const;

  const std::filesystem::path& root() const { return root_.path(); }
  const Scenario& scenario() const { return scenario_; }

 private:
  bool waitUntil(const std::function<bool()>& done, double seconds);
  bool libraryCaughtUp(double seconds);
  void checkPrivacy();

  tabulo_test::TestTmp root_;
  std::shared_ptr<platform::ManualClock> clock_;
  Scenario scenario_;
  std::unique_ptr<tabulo::test::CollectionServiceProcess> service_;
  bool started_ = false;
  size_t startBatches_ = 0;
};

// ---- reading decoded uploads ----

// The batches a service recorded into `directory` (--record), in the order it
// accepted them; a batch that does not decode has no `batch`.
std::vector<RecordedBatch> readRecordedBatches(const std::filesystem::path& directory);

struct LoggedEvent {
  std::shared_ptr<GWLPBMeasurementBundle> bundle;
  std::shared_ptr<GWLPBEvent> event;
};
// Every event of the batches, in upload order.
std::vector<LoggedEvent> eventsIn(const std::vector<RecordedBatch>& batches);
std::vector<std::string> eventNames(const std::vector<RecordedBatch>& batches);
// The first event of that name; none when there is none.
std::optional<LoggedEvent> eventNamed(const std::vector<RecordedBatch>& batches, const std::string& name);
// A parameter's value as "int 5", "double 1.5" or "text x"; "none" when absent.
std::string parameter(const std::shared_ptr<GWLPBEvent>& event, const std::string& name);
// Every event as `name{param: value, ...}`, one a line (for failure messages).
std::string describeEvents(const std::vector<RecordedBatch>& batches);
// A bundle's user property, in the same form.
std::string userProperty(const std::shared_ptr<GWLPBMeasurementBundle>& bundle, const std::string& name);

}  // namespace e2e
