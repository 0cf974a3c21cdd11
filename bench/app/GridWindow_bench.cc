// Opening a document in the editor and one tap on a cell, as the browser page
// does it (the host's answers to GET /api/tree and POST /api/action), for the
// default 5 by 5 grid and for a document of 50,000 records of 5 fields: the
// milliseconds and the bytes of each answer. The page is handed the part of
// the grid it shows, so both sizes stay alike.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "app/ImageFetcher.h"
#include "app/SheetEditorView.h"
#include "app/SpreadsheetPersistance.h"
#include "platform/dispatch/Queue.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/web/WebHost.h"
#include "platform/ui/web/WebPresenter.h"

namespace tabulo {
namespace {

using Clock = std::chrono::steady_clock;

class MemoryDefaults : public UserDefaults {
 public:
  std::optional<platform::Object> objectForKey(const std::string& key) const override {
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }
  bool setObject(platform::Object value, const std::string& key, std::string*) override {
    values_[key] = std::move(value);
    return true;
  }
  void registerDefaults(const platform::Dictionary&) override {}
  bool synchronize() override { return true; }

 private:
  platform::Dictionary values_;
};

SpreadsheetFile document(bool large) {
  platform::ManualClock clock;
  if (!large) return SpreadsheetFile("Default", clock);
  std::vector<std::vector<std::string>> rows(50'000, std::vector<std::string>(5));
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < 5; ++c) rows[r][c] = "r" + std::to_string(r + 1) + "c" + std::to_string(c + 1);
  }
  return SpreadsheetFile("Large", rows, clock);
}

void openAndTap(benchmark::State& state, bool large) {
  auto mainQueue = platform::MainQueue::create();
  auto environment = std::make_shared<platform::UIEnvironment>();
  environment->presenter = std::make_shared<platform::WebPresenter>();
  auto navigation = std::make_shared<platform::NavigationController>(environment);
  navigation->setRoot(std::make_shared<platform::ViewController>(environment));
  navigation->beginAppearanceTransition(true, false);
  navigation->endAppearanceTransition();
  mainQueue->drain();  // this thread runs the main queue: requests are answered inline
  platform::WebHost::Configuration configuration;
  configuration.mainQueue = mainQueue;
  configuration.rootController = [navigation]() -> std::shared_ptr<platform::ViewController> { return navigation; };
  configuration.token = "bench";
  platform::WebHost host(configuration);
  auto request = [](std::string method, std::string path, std::string body) {
    platform::WebHost::Request r;
    r.method = std::move(method);
    r.path = std::move(path);
    r.body = std::move(body);
    r.headers = {{"host", "127.0.0.1:0"}, {"x-tabulo-token", "bench"}};
    return r;
  };

  const std::filesystem::path outputs = std::filesystem::temp_directory_path() / "tabulo-grid-bench";
  auto fileSystem = std::make_shared<platform::FileSystem>(outputs);
  auto clock = std::make_shared<platform::ManualClock>();
  SheetEditorViewController::Collaborators collaborators{
      std::make_shared<SpreadsheetPersistance>(std::make_shared<MemoryDefaults>(), clock),
      std::make_shared<TabuloIO>(fileSystem, clock), fileSystem, std::make_shared<ImageFetcher>()};
  const SpreadsheetFile file = document(large);

  double openMs = 0, tapMs = 0;
  size_t openBytes = 0, tapBytes = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    navigation->pushViewController(SheetEditorView{file}.makeHost(environment, collaborators), false);
    platform::WebHost::Response opened = host.handle(request("GET", "/api/tree", ""));
    openMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    openBytes = opened.body.size();

    start = Clock::now();
    platform::WebHost::Response tapped =
        host.handle(request("POST", "/api/action", R"({"screen":0,"action":"grid.tap","value":{"row":3,"section":2}})"));
    tapMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    tapBytes = tapped.body.size();
    if (opened.status != 200 || tapped.status != 200) state.SkipWithError(tapped.body.c_str());

    state.PauseTiming();
    host.handle(request("POST", "/api/action", R"({"screen":1,"action":"cancelTapped"})"));
    navigation->popViewController(false);
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["open_ms"] = openMs / n;
  state.counters["open_bytes"] = static_cast<double>(openBytes);
  state.counters["tap_ms"] = tapMs / n;
  state.counters["tap_bytes"] = static_cast<double>(tapBytes);
  std::filesystem::remove_all(outputs);
}

void BM_OpenAndTapDefaultGrid(benchmark::State& state) { openAndTap(state, false); }
BENCHMARK(BM_OpenAndTapDefaultGrid)->Unit(benchmark::kMillisecond)->Iterations(20);
void BM_OpenAndTap50000By5(benchmark::State& state) { openAndTap(state, true); }
BENCHMARK(BM_OpenAndTap50000By5)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace tabulo
