// The document store with 20 documents of 2,500 cells (50 by 50) each, a
// 6 MB store, on a preferences suite on disk. Each benchmark times a pair in
// the same iterations, so both sides see the same machine load, and reports
// their ratio:
//   BM_SaveFileVersusAtomicWrite  one saveFile (splice, preferences write with
//       fsync and rename) against writeFileAtomically of the suite file's
//       own bytes;
//   BM_StartUpVersusRead  opening the suite and reading the list as the
//       document list does at its first appearance, against reading the suite
//       file's bytes; with the file in the page cache (warm) and evicted from
//       it first (cold), and the resident memory that start-up keeps. The
//       start-up is split into opening the suite (reading and parsing its
//       property list) and listing (decoding the stored array);
//   BM_LoadUncached  decoding the whole stored array (what a stored value
//       this process did not write costs).
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <benchmark/benchmark.h>

#include "app/PreferencesUserDefaults.h"
#include "app/SpreadsheetFileJSON.h"
#include "app/SpreadsheetPersistance.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileBuffer.h"

namespace tabulo {
namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::filesystem::path benchDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::filesystem::path directory = std::filesystem::path(base ? base : "/tmp") / "tabulo-store-bench";
  std::filesystem::create_directories(directory);
  return directory;
}

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

std::shared_ptr<PreferencesUserDefaults> openSuite(const std::filesystem::path& plist) {
  return std::make_shared<PreferencesUserDefaults>(
      platform::PreferencesStore::create("bench", plist.string(), platform::Clock::system(), nullptr));
}

// A suite file holding the twenty documents.
std::filesystem::path suiteWithTwentyDocuments() {
  static const std::filesystem::path plist = [] {
    std::filesystem::path path = benchDirectory() / "suite.plist";
    std::filesystem::remove(path);
    auto clock = std::make_shared<platform::ManualClock>();
    SpreadsheetPersistance store(openSuite(path), clock);
    if (!store.saveFiles(twentyDocuments(*clock))) std::abort();
    return path;
  }();
  return plist;
}

// Drops the file's pages from the page cache, so that the next read goes to the disk.
void evict(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

double residentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

void BM_SaveFileVersusAtomicWrite(benchmark::State& state) {
  const std::filesystem::path directory = benchDirectory() / "save";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::filesystem::path plist = directory / "suite.plist";
  auto clock = std::make_shared<platform::ManualClock>();
  SpreadsheetPersistance store(openSuite(plist), clock);
  auto files = twentyDocuments(*clock);
  if (!store.saveFiles(files)) state.SkipWithError("cannot save");
  double saveMs = 0, writeMs = 0;
  for (auto _ : state) {
    SpreadsheetFile& file = files[static_cast<size_t>(state.iterations()) % files.size()];
    file.contents[1][1].text = "edit " + std::to_string(state.iterations());
    clock->advance(1);
    auto start = Clock::now();
    if (!store.saveFile(file)) state.SkipWithError("save failed");
    saveMs += millisecondsSince(start);
    if (store.lastWritePath() != SpreadsheetPersistance::WritePath::splice) state.SkipWithError("not spliced");

    auto suite = platform::readRegularFile(plist.string(), SIZE_MAX);
    if (!suite) state.SkipWithError("cannot read the suite");
    start = Clock::now();
    if (!platform::writeFileAtomically((directory / "copy.plist").string(), suite->bytes())) {
      state.SkipWithError("cannot write");
    }
    writeMs += millisecondsSince(start);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["saveFile_ms"] = saveMs / n;
  state.counters["atomicWrite_ms"] = writeMs / n;
  state.counters["ratio"] = saveMs / writeMs;
  state.counters["suite_MB"] = static_cast<double>(std::filesystem::file_size(plist)) / 1e6;
}
BENCHMARK(BM_SaveFileVersusAtomicWrite)->Unit(benchmark::kMillisecond)->Iterations(40);

void startUpVersusRead(benchmark::State& state, bool cold) {
  const std::filesystem::path plist = suiteWithTwentyDocuments();
  auto clock = std::make_shared<platform::ManualClock>();
  double startMs = 0, readMs = 0, resident = 0, openMs = 0, listMs = 0;
  for (auto _ : state) {
    // Both sides start from memory handed back to the system, so that each
    // pays for the pages it touches.
    if (cold) evict(plist);
    ::malloc_trim(0);
    auto start = Clock::now();
    auto bytes = platform::readRegularFile(plist.string(), SIZE_MAX);
    readMs += millisecondsSince(start);
    if (!bytes) state.SkipWithError("cannot read");
    bytes.reset();

    if (cold) evict(plist);
    ::malloc_trim(0);
    const double before = residentMegabytes();
    start = Clock::now();
    {
      std::shared_ptr<PreferencesUserDefaults> suite = openSuite(plist);
      openMs += millisecondsSince(start);
      const auto listStart = Clock::now();
      SpreadsheetPersistance store(suite, clock);
      auto listed = store.readFiles();
      listMs += millisecondsSince(listStart);
      startMs += millisecondsSince(start);
      if (listed.files.size() != 20) state.SkipWithError("lost documents");
      ::malloc_trim(0);
      resident += residentMegabytes() - before;
    }
  }
  const double n = static_cast<double>(state.iterations());
  const double storeMB = static_cast<double>(std::filesystem::file_size(plist)) / 1e6;
  state.counters["startUp_ms"] = startMs / n;
  state.counters["openSuite_ms"] = openMs / n;
  state.counters["list_ms"] = listMs / n;
  state.counters["read_ms"] = readMs / n;
  state.counters["ratio"] = startMs / readMs;
  state.counters["resident_MB"] = resident / n;
  state.counters["resident_per_store"] = resident / n / storeMB;
}

void BM_StartUpVersusReadWarm(benchmark::State& state) { startUpVersusRead(state, false); }
BENCHMARK(BM_StartUpVersusReadWarm)->Unit(benchmark::kMillisecond)->Iterations(20);
void BM_StartUpVersusReadCold(benchmark::State& state) { startUpVersusRead(state, true); }
BENCHMARK(BM_StartUpVersusReadCold)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_LoadUncached(benchmark::State& state) {
  auto clock = std::make_shared<platform::ManualClock>();
  const std::string json = *SpreadsheetFileJSON::encodeArray(twentyDocuments(*clock));
  for (auto _ : state) {
    auto files = SpreadsheetFileJSON::decodeArray(json);
    if (!files || files->size() != 20) state.SkipWithError("lost documents");
    benchmark::DoNotOptimize(files);
  }
  state.SetBytesProcessed(static_cast<int64_t>(json.size()) * state.iterations());
}
BENCHMARK(BM_LoadUncached)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tabulo
