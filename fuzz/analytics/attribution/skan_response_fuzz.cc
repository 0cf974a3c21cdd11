// Answers of the conversion-value service, as the network delivers them,
// through the engine's response handling on its worker queue (a test engine
// with real persisted settings, a scripted ad network, a manual clock that
// never moves, so no retry fires). The first bytes choose the frame:
//
//   byte 0  bit 0: Content-Encoding "gzip" declared; bit 1: the body is
//           gzip-compressed before it is handed over (so the decoder is
//           reached through inflation too); bits 2-3: the HTTP status
//           (200, 200, 304, 503); bit 4: no answer at all (a transport error)
//   byte 1  the ad network's answer: no error, its code 10, another error
//   rest    the body
//
// Properties: the retry count never goes below 0; the stored evaluation time
// changes only with a "_skan" event, and then it is that event's "_skane".
// Nothing may crash or hang.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analytics/attribution/GWLMeasurementSKAdNetwork.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/compression/Gzip.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/storage/Paths.h"
#include "tests/analytics/attribution/SKANTestEngine.h"
#include "fuzz/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;
using fuzz_support::check;

constexpr double kNow = 1'700'000'000.0;
constexpr int64_t kNowMs = 1'700'000'000'000;
constexpr int64_t kStoredEvaluationTime = 1234;

struct Setup {
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>(kNow);
  std::shared_ptr<skan_test::SKANTestEngine> engine;
  std::shared_ptr<const platform::AppEnvironment> environment;
};

Setup& setup() {
  static Setup* made = [] {
    auto* s = new Setup();
    fuzz_support::installQuietLibraryMonitor();
    const fs::path root = fuzz_support::processScratchDirectory("skan_response_fuzz");
    platform::Paths::setCurrent(platform::Paths::open(root.string()));
    s->engine = std::make_shared<skan_test::SKANTestEngine>(nullptr, std::nullopt);
    s->engine->useSettings({{kGWLSettingSKANUpdateConversionValueEnabled, "1"}});
    auto persisted = s->engine->persistedConfig();
    check(persisted != nullptr);
    persisted->setFirstOpenTimestampMilliseconds(kNowMs - 3'600'000);
    persisted->setLastUploadedEventTimestampMillis(kNowMs - 60'000);
    platform::AppEnvironment::Configuration environment;
    environment.systemVersion = "17.0";
    s->environment = platform::AppEnvironment::create(environment);
    return s;
  }();
  return *made;
}

int testOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  const uint8_t frame = size > 0 ? data[0] : 0;
  const uint8_t platformAnswer = size > 1 ? data[1] : 0;
  std::vector<uint8_t> body(data + std::min<size_t>(size, 2), data + size);

  auto persisted = s.engine->persistedConfig();
  persisted->setSKANEvaluationEventTimeMillis(kStoredEvaluationTime);
  persisted->setSKANEvaluationUpdateBackoffMillis(0);
  auto adNetwork = std::make_shared<skan_test::ScriptedAdNetwork>();
  switch (platformAnswer % 3) {
    case 0: break;
    case 1: adNetwork->answerNext(platform::Error(platform::kSKANErrorDomain, 10, "counted as taken")); break;
    default: adNetwork->answerNext(platform::Error(platform::kSKANErrorDomain, 3, "refused")); break;
  }
  GWLMeasurementSKAdNetwork::Dependencies dependencies;
  dependencies.engine = [engine = s.engine] { return engine; };
  dependencies.adNetwork = adNetwork;
  dependencies.clock = s.clock;
  dependencies.environment = s.environment;
  auto skan = GWLMeasurementSKAdNetwork::create(std::move(dependencies));

  std::shared_ptr<platform::HTTPURLResponse> response;
  std::optional<platform::Error> error;
  if (frame & 0x10) {
    error = platform::Error("fuzz", 1, "no answer");
  } else {
    static const int kStatuses[] = {200, 200, 304, 503};
    response = std::make_shared<platform::HTTPURLResponse>();
    response->statusCode = kStatuses[(frame >> 2) & 3];
    if (frame & 1) response->headerFields.emplace_back("Content-Encoding", "GZip");
    if (frame & 2) {
      if (auto compressed = platform::gzip(body)) body = std::move(*compressed);
    }
  }
  s.engine->onWorkerQueue([&] { skan->handleSKANFetchResponse(response, std::move(body), error); });
  s.engine->flush();

  check(skan->SKANRetryCount() >= 0);
  auto events = s.engine->takeEvents();
  check(events.size() <= 1);
  if (events.empty()) {
    check(persisted->SKANEvaluationEventTimeMillis() == kStoredEvaluationTime);
  } else {
    const auto& parameters = events[0]->parameters();
    const auto eventTime = parameters.find(kGWLSKANEventTimeParameter);
    check(eventTime != parameters.end() && eventTime->second.isInt64());
    check(persisted->SKANEvaluationEventTimeMillis() == eventTime->second.int64Value());
  }
  skan.reset();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
