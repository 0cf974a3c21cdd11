// The document store with 20 documents of 2,500 cells (50 by 50) each: loading
// (decode of the whole array), saving one document (load, encode, write), in
// memory and on a preferences suite on disk (with its synchronize).
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include <benchmark/benchmark.h>

#include "app/PreferencesUserDefaults.h"
#include "app/SpreadsheetFileJSON.h"
#include "app/SpreadsheetPersistance.h"
#include "platform/dispatch/Clock.h"

namespace tabulo {
namespace {

class InMemoryDefaults : public UserDefaults {
 public:
  std::optional<platform::Object> objectForKey(const std::string& key) const override {
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }
  bool setObject(platform::Object value, const std::string& key) override {
    values_[key] = std::move(value);
    return true;
  }
  void registerDefaults(const platform::Dictionary&) override {}
  bool synchronize() override { return true; }

 private:
  std::map<std::string, platform::Object> values_;
};

std::vector<SpreadsheetFile> twentyDocuments(const platform::Clock& clock) {
  std::vector<SpreadsheetFile> files;
  for (int d = 0; d < 20; ++d) {
    std::vector<std::vector<std::string>> rows(49, std::vector<std::string>(49));
    for (int r = 0; r < 49; ++r) {
      for (int c = 0; c < 49; ++c) rows[r][c] = (c % 3 == 0) ? std::to_string(r * 49 + c * 0.25) : "cell text";
    }
    SpreadsheetFile file("Document " + std::to_string(d), rows, clock);
    file.contents[3][4].textColor = {0.2f, 0.4f, 0.6f};
    file.contents[5][6].textAlignment = TextAlignment::center;
    file.mergedRanges.emplace_back(platform::Location{1, 1}, platform::Location{2, 3});
    files.push_back(std::move(file));
  }
  return files;
}

void BM_StoreLoad(benchmark::State& state) {
  auto clock = std::make_shared<platform::ManualClock>();
  SpreadsheetPersistance store(std::make_shared<InMemoryDefaults>(), clock);
  if (!store.saveFiles(twentyDocuments(*clock))) state.SkipWithError("cannot save");
  for (auto _ : state) {
    auto files = store.loadFiles();
    if (files.size() != 20) state.SkipWithError("lost documents");
    benchmark::DoNotOptimize(files);
  }
  state.counters["stored_MB"] = static_cast<double>(SpreadsheetFileJSON::encodeArray(store.loadFiles())->size()) / 1e6;
}
BENCHMARK(BM_StoreLoad)->Unit(benchmark::kMillisecond);

void BM_StoreSaveFile(benchmark::State& state) {
  auto clock = std::make_shared<platform::ManualClock>();
  SpreadsheetPersistance store(std::make_shared<InMemoryDefaults>(), clock);
  auto files = twentyDocuments(*clock);
  if (!store.saveFiles(files)) state.SkipWithError("cannot save");
  for (auto _ : state) {
    if (!store.saveFile(files[static_cast<size_t>(state.iterations()) % 20])) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_StoreSaveFile)->Unit(benchmark::kMillisecond);

void BM_StoreSaveFileOnDisk(benchmark::State& state) {
  const char* base = std::getenv("TMPDIR");
  std::filesystem::path directory = std::filesystem::path(base ? base : "/tmp") / "tabulo-store-bench";
  std::filesystem::create_directories(directory);
  auto clock = std::make_shared<platform::ManualClock>();
  auto defaults = std::make_shared<PreferencesUserDefaults>(platform::PreferencesStore::create(
      "bench", (directory / "bench.plist").string(), platform::Clock::system(), nullptr));
  SpreadsheetPersistance store(defaults, clock);
  auto files = twentyDocuments(*clock);
  if (!store.saveFiles(files)) state.SkipWithError("cannot save");
  for (auto _ : state) {
    if (!store.saveFile(files[static_cast<size_t>(state.iterations()) % 20])) state.SkipWithError("save failed");
  }
  std::filesystem::remove_all(directory);
}
BENCHMARK(BM_StoreSaveFileOnDisk)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tabulo
