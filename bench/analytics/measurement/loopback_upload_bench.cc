// A 500-event upload over loopback to the local collection service (a child
// process): the engine's own upload attempt (bundling the stored raw events,
// reading the queue, building the batch, the POST through its HVUNetwork and
// the answer's deletion of the sent bundles), timed until the answer has been
// handled; against a bare HVUNetwork POST of the same batch bytes to the same
// endpoint, timed until its completion runs. Items are uploads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analytics/foundation/config/GWLServiceHosts.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"
#include "tests/tools/CollectionServiceProcess.h"

namespace {

constexpr double kNow = 1767610740;  // 2026-01-05 10:59:00 UTC
constexpr int kEvents = 500;
constexpr const char* kAppID = "1:123:ios:abc";

// The service process and its configuration directory, which go when the
// program ends (the engine is left to the exit, as in the other benchmarks).
struct Service {
  std::unique_ptr<tabulo::test::CollectionServiceProcess> process;
  std::filesystem::path directory;
  ~Service() {
    process.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  }
};

Service& service() {
  static Service instance;
  return instance;
}

struct Setup {
  std::shared_ptr<GWLMeasurement> engine;
  std::shared_ptr<GWLDatabase> database;
  std::vector<uint8_t> body;  // a 500-event batch as the engine sends it
  std::string error;

  Setup() {
    // The service serves the app's configuration, which the first upload fetches.
    const std::filesystem::path directory = std::filesystem::temp_directory_path() / ("loopback_upload_bench.service." + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    config->setAppId(kAppID);
    const auto bytes = *config->protoBuffer();
    std::ofstream(directory / (std::string(kAppID) + ".pb"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    service().directory = directory;
    service().process = std::make_unique<tabulo::test::CollectionServiceProcess>(
        std::vector<std::string>{"--config-dir", directory.string()});
    if (service().process->port() <= 0) {
      error = "the collection service did not start";
      return;
    }
    GWLServiceHosts::setForProcess(
        GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service().process->port())));
    engine = measurement_testing::makeStandaloneMeasurementInTemporaryDirectory(
                 "loopback_upload_bench", kNow, measurement_testing::installQuietBenchmarkMonitor())
                 .engine;
    if (!engine) {
      error = "the engine did not start";
      return;
    }
    database = engine->database();
    engine->network()->setReachabilityOverrideForTesting(true);
    // A first upload: the configuration is fetched, then the events go.
    logEvents();
    upload();
    if (waiting() != std::pair<size_t, size_t>{0, 0}) {
      error = "the first upload did not go through";
      return;
    }
    // The bytes of the same upload, for the bare POST.
    logEvents();
    onWorker([&] {
      while (engine->bundleRawEvents()) {
      }
      auto queued = database->queryBundlesWithCountLimit(1000, 64 << 20);
      if (!queued) return;
      if (auto batch = engine->batchFromQueuedBundles(*queued, std::nullopt)) {
        body = batch->body;
        (void)database->deleteBundlesWithRowIDs(batch->bundleIDs);
      }
    });
    if (body.empty()) error = "no batch could be built";
  }
  // One upload attempt of the engine, until its answer (and what the answer
  // started) has been handled.
  void upload() {
    onWorker([&] { engine->uploadData(); });
    for (;;) {
      while (engine->isNetworkRequestPending()) std::this_thread::sleep_for(std::chrono::microseconds(20));
      bool pending = false;
      onWorker([&] { pending = engine->isNetworkRequestPending(); });
      if (!pending) return;
    }
  }
  void onWorker(const std::function<void()>& block) {
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("loopback_upload_bench", block);
  }
  // 500 app events stored as raw events.
  void logEvents() {
    const GWLRawParameters parameters = GWLRawParametersFromDictionary(
        {{"item", "sku-42"}, {"value", 9.99}, {"currency", "EUR"}, {"quantity", int64_t{1}}});
    for (int i = 0; i < kEvents; ++i) {
      engine->logEventWithOrigin("app", true, "purchase_item", parameters, kNow, true, false, false, nullptr,
                                 GWLRawParameters());
    }
    onWorker([] {});
  }
  // What waits to be sent: raw events and queued bundles.
  std::pair<size_t, size_t> waiting() {
    std::pair<size_t, size_t> counts;
    onWorker([&] {
      counts.first = database->allRawEventsWithError().value_or(std::vector<std::shared_ptr<GWLRawEventData>>{}).size();
      counts.second = database->queryBundlesWithCountLimit(1000, 64 << 20).value_or(std::vector<GWLQueuedBundle>{}).size();
    });
    return counts;
  }
};

Setup& setup() {
  static Setup* made = new Setup();
  return *made;
}

void BM_EngineUploadOf500Events(benchmark::State& state) {
  Setup& s = setup();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    s.logEvents();
    state.ResumeTiming();
    s.upload();
    state.PauseTiming();
    const auto [raw, queued] = s.waiting();
    state.ResumeTiming();
    if (raw != 0 || queued != 0) {
      state.SkipWithError(("after the upload " + std::to_string(raw) + " raw events and " + std::to_string(queued) +
                           " bundles were left")
                              .c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes"] = static_cast<double>(s.body.size());
}
BENCHMARK(BM_EngineUploadOf500Events)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareNetworkPostOfTheSameBytes(benchmark::State& state) {
  Setup& s = setup();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  platform::HVUNetwork client(std::string("127.0.0.1"));
  auto queue = platform::SerialQueue::create("bare_post");
  const std::string url = service().process->url("/a");
  for (auto _ : state) {
    std::promise<int> done;
    (void)client.postURL(url, s.body, queue, false,
                         [&done](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t>,
                                 std::optional<platform::Error>) { done.set_value(response ? response->statusCode : 0); });
    const int status = done.get_future().get();
    if (status != 204) {
      state.SkipWithError(("the service answered " + std::to_string(status)).c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes"] = static_cast<double>(s.body.size());
}
BENCHMARK(BM_BareNetworkPostOfTheSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
