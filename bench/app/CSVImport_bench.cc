// Comma-separated import throughput on a 50 MB file made at run time (words,
// numbers, quoted fields with commas, doubled quotes and line breaks, accented
// text), and the same file read by Python's csv module in the same run:
// BM_CSVReader50MB reads the file and splits it into records; BM_VersusPython
// times Python reading the same file (its own perf_counter, the file opened
// with newline="" and UTF-8) and reports both rates and their ratio.
// BM_ImportCSVNearTheStoreBudget runs the whole import (records to a document,
// and its size in the store checked) on a file of 45,000 records of 10 fields
// (about 500,000 cells), whose document takes most of the store's budget.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "app/CSVReader.h"
#include "app/TabuloIO.h"
#include "platform/storage/FileBuffer.h"

namespace tabulo {
namespace {

std::filesystem::path benchDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::filesystem::path directory = std::filesystem::path(base ? base : "/tmp") / "tabulo-csv-bench";
  std::filesystem::create_directories(directory);
  return directory;
}

std::string makeCSV(size_t targetBytes, size_t columns, size_t maxRows) {
  std::mt19937 random(7);
  static const char* kWords[] = {"alpha", "beta", "gamma", "delta", "epsilon", "Zürich", "café", "naïve", "x"};
  std::string text;
  text.reserve(std::min<size_t>(targetBytes, 64 << 20));
  for (size_t row = 0; text.size() < targetBytes && row < maxRows; ++row) {
    for (size_t c = 0; c < columns; ++c) {
      if (c > 0) text.push_back(',');
      switch (random() % 8) {
        case 0: text += "\"" + std::string(kWords[random() % 9]) + ", " + kWords[random() % 9] + "\""; break;
        case 1: text += "\"say \"\"" + std::string(kWords[random() % 9]) + "\"\"\""; break;
        case 2: text += "\"two\nlines\""; break;
        case 3: text += std::to_string(random() % 100000) + "." + std::to_string(random() % 100); break;
        default: text += kWords[random() % 9]; break;
      }
    }
    text += (row % 2) ? "\r\n" : "\n";
  }
  return text;
}

const std::filesystem::path& fiftyMegabyteFile() {
  static const std::filesystem::path path = [] {
    std::filesystem::path p = benchDirectory() / "fifty.csv";
    std::ofstream(p, std::ios::binary) << makeCSV(50'000'000, 10, SIZE_MAX);
    return p;
  }();
  return path;
}

size_t readRecords(const std::filesystem::path& path) {
  // Read as the import reads: one sized read into a buffer that is not
  // zero-filled first, split in place.
  auto bytes = platform::readRegularFile(path.string(), SIZE_MAX);
  if (!bytes) return 0;
  CSVReader reader(std::move(*bytes));
  size_t records = 0;
  while (auto record = reader.next()) {
    benchmark::DoNotOptimize(record->data());
    ++records;
  }
  return records;
}

void BM_CSVReader50MB(benchmark::State& state) {
  const auto& path = fiftyMegabyteFile();
  size_t bytes = std::filesystem::file_size(path);
  size_t records = 0;
  for (auto _ : state) records = readRecords(path);
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
  state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_CSVReader50MB)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_VersusPython(benchmark::State& state) {
  const auto& path = fiftyMegabyteFile();
  double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  std::string command =
      "/usr/bin/python3 -c 'import csv, sys, time\n"
      "t = time.perf_counter()\n"
      "n = 0\n"
      "with open(sys.argv[1], newline=\"\", encoding=\"utf-8\") as f:\n"
      "    for row in csv.reader(f): n += 1\n"
      "print(time.perf_counter() - t, n)' '" + path.string() + "'";
  double pythonSeconds = 0, tabuloSeconds = 0;
  for (auto _ : state) {
    FILE* pipe = ::popen(command.c_str(), "r");
    long pythonRecords = -1;
    if (!pipe || std::fscanf(pipe, "%lf %ld", &pythonSeconds, &pythonRecords) != 2) {
      if (pipe) ::pclose(pipe);
      state.SkipWithError("python3 did not report");
      return;
    }
    ::pclose(pipe);
    auto start = std::chrono::steady_clock::now();
    size_t records = readRecords(path);
    tabuloSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (static_cast<long>(records) != pythonRecords) state.SkipWithError("record counts differ");
    state.SetIterationTime(pythonSeconds);
  }
  state.counters["python_MBps"] = megabytes / pythonSeconds;
  state.counters["tabulo_MBps"] = megabytes / tabuloSeconds;
  state.counters["ratio"] = pythonSeconds / tabuloSeconds;
}
BENCHMARK(BM_VersusPython)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void BM_ImportCSVNearTheStoreBudget(benchmark::State& state) {
  std::filesystem::path path = benchDirectory() / "near-budget.csv";
  std::ofstream(path, std::ios::binary) << makeCSV(SIZE_MAX, 10, 45'000);
  size_t bytes = std::filesystem::file_size(path);
  TabuloIO io(std::make_shared<platform::FileSystem>(benchDirectory()), std::make_shared<platform::ManualClock>());
  for (auto _ : state) {
    std::string error;
    auto file = io.importCSV(path, &error);
    if (!file) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_ImportCSVNearTheStoreBudget)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace tabulo
