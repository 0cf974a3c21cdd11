// A burst of preferences changes followed by synchronize: the cost of many
// in-memory sets plus one atomic write of the whole suite.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/PreferencesStore.h"

namespace {

void PreferencesWriteBurst(benchmark::State& state) {
  std::string templ = (std::filesystem::temp_directory_path() / "prefs-bench-XXXXXX").string();
  const std::string dir = ::mkdtemp(templ.data());
  auto clock = std::make_shared<platform::ManualClock>();  // the delayed write never fires
  auto queue = platform::SerialQueue::create("bench");
  auto store = platform::PreferencesStore::create("bench", dir + "/bench.plist", clock, queue);
  const auto sets = state.range(0);
  std::vector<std::string> keys;
  for (int64_t i = 0; i < sets; ++i) keys.push_back("/halcyra/measurement/key_" + std::to_string(i));
  int64_t round = 0;
  for (auto _ : state) {
    ++round;
    for (int64_t i = 0; i < sets; ++i) {
      store->setInteger(round * sets + i, keys[static_cast<size_t>(i)]);
    }
    if (!store->synchronize()) state.SkipWithError("synchronize failed");
  }
  state.SetItemsProcessed(state.iterations() * sets);
  std::filesystem::remove_all(dir);
}
BENCHMARK(PreferencesWriteBurst)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
