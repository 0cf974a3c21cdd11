// The conversion store's file is stored data that may be damaged or foreign:
// any bytes give a store whose every key reads as its own type or as
// nothing, a wrong-typed value is dropped from the file for good, the next
// write lands, and nothing crashes or hangs.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"
#include "fuzz/QuietLog.h"

namespace {

struct ScratchDirectory {
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "odc-store-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

// Dates pass through the property list as whole seconds and microseconds,
// and a date before 2001 read back may come out a microsecond off: a date is
// the same when it is within two microseconds.
bool Same(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return std::fabs(*a - *b) <= 2e-6 || (*a != *a && *b != *b);  // NaN reads as itself
}

struct Reading {
  std::optional<double> firstLaunch, matchFound;
  std::optional<int64_t> count;
  std::optional<std::string> aggregate, measurement;
  bool operator==(const Reading& other) const {
    return Same(firstLaunch, other.firstLaunch) && Same(matchFound, other.matchFound) && count == other.count &&
           aggregate == other.aggregate && measurement == other.measurement;
  }
};

Reading ReadAll(ODCConversionStore& store) {
  return {store.firstLaunchTimestamp(), store.matchFoundTimestamp(), store.odm2RetryCount(),
          store.aggregateConversionInfo(), store.measurementInfo()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  static ScratchDirectory scratch;
  const std::string file = ODCConversionStoreFilePath(scratch.path);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  auto store = ODCConversionStore::create(scratch.path);
  if (!store) std::abort();
  const Reading first = ReadAll(*store);
  // What was dropped stays dropped: a new store reads the same from the file.
  auto reread = ODCConversionStore::create(scratch.path);
  if (!reread || !(ReadAll(*reread) == first) || !(ReadAll(*store) == first)) std::abort();
  // Nothing read from the file keeps the next whole-file write from landing.
  reread->setMeasurementInfo(first.measurement.value_or("") + "+");
  auto written = ODCConversionStore::create(scratch.path);
  if (!written || written->measurementInfo() != first.measurement.value_or("") + "+") std::abort();
  return 0;
}
