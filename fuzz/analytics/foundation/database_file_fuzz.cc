// Stored data of the measurement database. The first byte chooses what the
// rest is:
//   0  the whole database file: it is opened (a file that is not a database
//      or is damaged is replaced by a new one) and every table is read;
//   1  the stored form of a raw event (raw_events.data), read back;
//   2  a queued bundle (queue.data), read back.
// Nothing may crash or hang; whatever opens must answer its reads, and a
// damaged file must open as a working database.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>

#include "QuietLibraryMonitor.h"
#include "analytics/foundation/core/GWLPaths.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "platform/storage/Paths.h"
#include "fuzz/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;

using fuzz_support::check;

const std::string& databasePath() {
  static const std::string path = [] {
    const fs::path root = fuzz_support::processScratchDirectory("database_file_fuzz");
    platform::Paths::setCurrent(platform::Paths::open(root.string()));
    return GWLMeasurementDirectoryPath(kGWLDatabaseFileName);
  }();
  return path;
}

// Only that each read survives the file matters here, not what it answers.
void readEverything(GWLDatabase& db) {
  (void)db.queryAppMetadata();
  (void)db.dailyCounts();
  (void)db.allRawEventsWithError();
  if (auto next = db.nextMetadataFingerprintToProcess()) {
    (void)db.queryRawEventsMetadataWithFingerprint(*next);
    (void)db.rawEventsWithMetadataFingerprint(*next, nullptr, nullptr);
  }
  (void)db.queryBundlesWithCountLimit(100, 1 << 20);
  (void)db.allEventAggregates();
  (void)db.userAttributesIncludingInternal(true);
  (void)db.allLifetimeValueUserAttributes();
  (void)db.allFilterResults();
  (void)db.allAudienceIDs();
  (void)db.allSessionScopedFilters();
  (void)db.queryMeasurementConfigWithError();
  (void)db.conditionalUserPropertiesWithPrefix(std::nullopt, std::nullopt);
  (void)db.mainEventAndChildCountPairWithEventID(1);
  (void)db.ODMValueWithName("odm1_value");
}

int testOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& path = databasePath();
  const uint8_t mode = data[0] % 3;
  std::span<const uint8_t> rest(data + 1, size - 1);
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
  if (mode == 0) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(rest.data()),
                                                static_cast<std::streamsize>(rest.size()));
  }
  GWLDatabase::Dependencies dependencies;
  dependencies.clock = std::make_shared<platform::ManualClock>();
  auto db = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
  if (!db) return 0;  // tables that cannot be made: the file is gone and the next opening starts anew
  const platform::Bytes bytes(rest.begin(), rest.end());
  if (mode == 0) {
    readEverything(*db);
    // Whatever was stored, the database still takes new events.
    auto event = GWLEvent::initWithOrigin("app", false, "level_up", 1.0, 0, platform::Dictionary{}, GWLValueLimits{});
    check(db->performTransaction([&] { return db->insertRawEvent(event, 1, false); }));
  } else if (mode == 1) {
    auto record = db->rawEventDataFromDictionary(
        {{"rowid", 1}, {"name", "e"}, {"timestamp", 1.0}, {"metadata_fingerprint", 1}, {"data", bytes}});
    if (record) check(record->rawEvent() != nullptr);
  } else {
    (void)db->sqliteStore()->upsertRecord({{"data", bytes}, {"bundle_end_timestamp", 1.0}}, "queue");
    (void)db->queryBundlesWithCountLimit(10, 1 << 20);
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
