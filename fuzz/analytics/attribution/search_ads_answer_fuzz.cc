// Answers of the search-ads attribution API: the first byte picks the answer's
// status (or a network error), the rest is its body; the top bit of the first
// byte stores a campaign value before the answer arrives. Whatever comes back,
// the reporter stores a value only for a 2xx JSON object with a boolean
// "attribution", never changes a value already stored, and logs the campaign
// event only for the attributed answer that stored it.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "analytics/attribution/GWLSearchAdReporter.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/storage/Paths.h"
#include "fuzz/ScratchDirectory.h"

namespace {

using fuzz_support::check;

class CountingEngine : public GWLMeasurementEngineCalls {
 public:
  void logInternalEventWithOrigin(const std::string&, const std::string& name, const GWLRawParameters&) override {
    if (name == kGWLCampaignEventName) campaignEvents.fetch_add(1);
  }
  std::atomic<int> campaignEvents{0};
};

struct Fixture {
  std::shared_ptr<platform::Paths> paths;
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::SerialQueue> queue = platform::SerialQueue::create("fuzz.worker");
  std::shared_ptr<CountingEngine> engine = std::make_shared<CountingEngine>();
  std::shared_ptr<GWLPersistedConfig> config;

  Fixture() {
    paths = platform::Paths::open(fuzz_support::processScratchDirectory("search_ads_answer_fuzz").string());
    check(paths != nullptr);
    platform::Paths::setCurrent(paths);
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = clock;
    dependencies.notificationCenter = platform::NotificationCenter::create();
    config = GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
    check(config != nullptr);
  }
};

constexpr int kStatuses[] = {0, 200, 201, 204, 299, 300, 304, 400, 404, 500, 503};

int testOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static Fixture* fixture = new Fixture();  // kept for the whole run
  const int status = kStatuses[(data[0] & 0x7f) % std::size(kStatuses)];
  const bool storedBefore = (data[0] & 0x80) != 0;
  const std::span<const uint8_t> body(data + 1, size - 1);

  platform::HTTPURLResponse response;
  response.statusCode = status;
  std::optional<platform::Error> networkError;
  if (status == 0) networkError = platform::Error("fuzz", 1, "no answer");
  const GWLSearchAdAnswer answer = GWLReadSearchAdAnswer(&response, body, networkError);
  const bool success = status >= 200 && status <= 299;
  check(success || answer.kind == GWLSearchAdAnswer::Kind::kFailed);

  fixture->config->clearValues();
  fixture->config->setFirstOpenTimestampMilliseconds(1'700'000'000'000);
  fixture->engine->campaignEvents.store(0);
  std::shared_ptr<GWLSearchAdReporter> reporter;
  GWLSearchAdReporter::Dependencies dependencies;
  dependencies.clock = fixture->clock;
  dependencies.engine = [engine = fixture->engine] { return engine; };
  dependencies.hasAdServices = [] { return true; };
  dependencies.isSimulator = [] { return false; };
  fixture->queue->sync([&] {
    // A stored value makes no reporter at launch: the value that matters is
    // one stored after the reporter was made (by an answer racing this one).
    reporter = GWLSearchAdReporter::initWithWorkerQueue(fixture->queue, fixture->config, dependencies);
    check(reporter != nullptr);
    if (storedBefore) fixture->config->setSearchAdCampaignValue(platform::Object(false));
    reporter->handleAttributionAnswer(status == 0 ? nullptr : &response, body, networkError);
    reporter.reset();
  });

  const std::optional<platform::Object> stored = fixture->config->searchAdCampaignValue();
  const bool accepted = answer.kind == GWLSearchAdAnswer::Kind::kAccepted;
  if (storedBefore) {
    check(stored == platform::Object(false));
    check(fixture->engine->campaignEvents.load() == 0);
  } else if (accepted) {
    check(stored == platform::Object(answer.attributed));
    check(fixture->engine->campaignEvents.load() == (answer.attributed ? 1 : 0));
  } else {
    check(!stored.has_value());
    check(fixture->engine->campaignEvents.load() == 0);
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
