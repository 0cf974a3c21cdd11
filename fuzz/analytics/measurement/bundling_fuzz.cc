// Bundling over stored rows from outside: raw-event and metadata rows whose
// bytes come from the input (besides well-formed ones), then bundling passes
// until one answers NO, the way the upload step drives them.
//
// Whatever the bytes: nothing crashes or hangs, the passes end, and every
// bundle in the upload queue inflates and decodes.
//
// Input: a flags byte (analytics storage denied, sampling, a small event
// count, a small bundle size, customer types, denied signals in the metadata),
// a seed for the sampling draws, a row count (below 48), then the rows: a kind byte, a fingerprint chooser byte, a time byte and a chunk
// (two bytes of length, little endian) each. Kinds: a raw event of these
// bytes, a well-formed raw event (name and values from the chunk), a
// metadata row of these bytes, a well-formed metadata row.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "fuzz/analytics/audiences/ChunkReader.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/compression/Gzip.h"
#include "platform/dispatch/Clock.h"
#include "platform/util/Random.h"
#include "fuzz/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;
using fuzz_support::check;

constexpr double kNow = 1767610740;  // 2026-01-05 10:59:00 UTC
constexpr int kMaxPasses = 500;
const char* const kNames[] = {"lvl", "_e", "_s", "_f", "_iap", "_dcu", "_fx", "purchase", "in_app_purchase", "view"};

struct Setup {
  std::shared_ptr<GWLMeasurement> engine;
  std::shared_ptr<GWLDatabase> database;
};

Setup& setup() {
  static Setup* made = [] {
    fuzz_support::installQuietLibraryMonitor();
    const fs::path root = fuzz_support::processScratchDirectory("bundling_fuzz");
    auto* setup = new Setup();
    setup->engine =
        measurement_testing::makeStandaloneMeasurement(root.string(), kNow, GWLLibraryMonitor::monitor()).engine;
    check(setup->engine != nullptr);
    setup->database = setup->engine->database();
    return setup;
  }();
  return *made;
}

// Two well-formed metadata bundles, stored anew for each input.
std::vector<uint8_t> metadataBytes(int which, bool denied) {
  auto metadata = GWLPBMeasurementBundle::initWithMessageInfo();
  metadata->setProtocolVersion(1);
  metadata->setPlatform("ios");
  metadata->setAppId(which == 0 ? "1:123:ios:abc" : "");
  metadata->setConsentSignals(denied ? "G110" : "G111");
  metadata->setSessionStitchingToken("token");
  return *metadata->protoBuffer();
}

platform::Dictionary wellFormedEvent(std::span<const uint8_t> chunk, double timestamp) {
  const char* name = kNames[chunk.empty() ? 0 : chunk[0] % std::size(kNames)];
  platform::Dictionary parameters;
  for (size_t i = 1; i + 1 < chunk.size() && parameters.size() < 6; i += 2) {
    static const char* const keys[] = {"_et", "_fr", "price", "value", "quantity", "_elt", "_eid", "_sr", "_r", "_c"};
    const char* key = keys[chunk[i] % std::size(keys)];
    switch (chunk[i + 1] % 3) {
      case 0: parameters[key] = static_cast<int64_t>(chunk[i + 1]) - 64; break;
      case 1: parameters[key] = chunk[i + 1] * 0.37; break;
      default: parameters[key] = std::string(chunk[i + 1] % 5, 'x'); break;
    }
  }
  auto event = GWLEvent::initWithOrigin(chunk.size() > 1 && chunk[1] % 2 ? "auto" : "app", false, name, timestamp, 0,
                                        parameters, GWLValueLimits{});
  if (!event) return {};
  auto proto = event->protoEvent();
  NANOClearField(proto, GWLPBEvent::Field::name);
  return {{"data", *proto->protoBuffer()},
          {"name", std::string(name)},
          {"is_realtime", int64_t{event->isRealtime() ? 1 : 0}}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  fuzz_support::ChunkReader reader(data, size);
  const uint8_t flags = reader.byte();
  const uint8_t seed = reader.byte();
  const int rows = reader.byte() % 48;

  bool passesEnded = false;
  s.engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("bundling_fuzz", [&] {
    // The tables a pass reads and writes start empty (the app metadata row stays).
    for (const char* table : {"raw_events", "raw_events_metadata", "queue", "events", "user_attributes"}) {
      check(s.database->sqliteStore()->deleteAllRecordsFromTableWithName(table));
    }
    s.engine->setRandomSource(std::make_shared<platform::SeededRandom>(seed));
    s.engine->persistedConfig()->setPreviousBundledConsentSignals(std::nullopt);
    if (flags & 1) {
      GWLConsentSettingsUtil::updateSettings({{"analytics_storage", "denied"}}, 30);
    } else {
      GWLConsentSettingsUtil::setConsentSettings(std::nullopt);
    }
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    config->setAppId("1:123:ios:abc");
    std::vector<std::shared_ptr<GWLPBEventConfig>> events;
    for (const char* name : {"lvl", "view"}) {
      auto entry = GWLPBEventConfig::initWithMessageInfo();
      entry->setEventName(name);
      entry->setSamplingRate(flags & 2 ? 3 : 1);
      events.push_back(entry);
    }
    config->setEventConfig(events);
    (void)s.engine->engineRemoteConfig()->updateMeasurementConfig(config);  // the settings below are set either way
    s.engine->engineRemoteConfig()->replaceCachedValues(
        {{kGWLSettingIsEventSamplingEnabled, flags & 2 ? "1" : "0"},
         {kGWLSettingUploadMaxEventsPerBundle, flags & 4 ? "2" : "1000"},
         {kGWLSettingUploadMaxSizeLimitBytes, flags & 8 ? "64" : "65536"},
         {kGWLSettingCustomerTypeEnabled, flags & 16 ? "1" : "0"}});

    auto* store = s.database->sqliteStore();
    std::vector<int64_t> fingerprints;
    for (int which = 0; which < 2; ++which) {
      auto bytes = metadataBytes(which, flags & 32);
      const auto fingerprint = static_cast<int64_t>(gwl_64LSBMD5(bytes));
      fingerprints.push_back(fingerprint);
      // Rows the store refuses are simply absent: bundling must cope either way.
      (void)store->upsertRecord({{"metadata_fingerprint", fingerprint}, {"metadata", bytes}}, "raw_events_metadata");
    }
    for (int row = 0; row < rows; ++row) {
      const uint8_t kind = reader.byte();
      const uint8_t chooser = reader.byte();
      const double timestamp = kNow - 7200 + reader.byte() * 60.0;
      auto chunk = reader.chunk();
      int64_t fingerprint = chooser < 200 ? fingerprints[chooser % 2] : int64_t{chooser};
      switch (kind % 4) {
        case 0:
          (void)store->upsertRecord({{"data", platform::Bytes(chunk.begin(), chunk.end())},
                               {"name", std::string(kNames[chooser % std::size(kNames)])},
                               {"timestamp", timestamp},
                               {"is_realtime", int64_t{kind & 4 ? 1 : 0}},
                               {"metadata_fingerprint", fingerprint}},
                              "raw_events");
          break;
        case 1: {
          auto row = wellFormedEvent(chunk, timestamp);
          if (row.empty()) break;
          row["timestamp"] = timestamp;
          row["metadata_fingerprint"] = fingerprint;
          (void)store->upsertRecord(row, "raw_events");
          break;
        }
        case 2:
          (void)store->upsertRecord({{"metadata_fingerprint", int64_t{chooser}},
                               {"metadata", platform::Bytes(chunk.begin(), chunk.end())}},
                              "raw_events_metadata");
          break;
        default: {
          auto bytes = metadataBytes(chooser % 2, kind & 4);
          (void)store->upsertRecord({{"metadata_fingerprint", int64_t{chooser}}, {"metadata", bytes}},
                              "raw_events_metadata");
          break;
        }
      }
    }

    for (int pass = 0; pass < kMaxPasses; ++pass) {
      if (!s.engine->bundleRawEvents()) {
        passesEnded = true;
        break;
      }
    }

    auto queued = store->recordsForQuery("SELECT data FROM queue", {});
    check(queued.has_value());
    for (const auto& row : *queued) {
      const platform::Bytes* compressed = row.at("data").bytesValue();
      check(compressed != nullptr);
      auto inflated = platform::hvu_dataByInflatingGzippedData(*compressed);
      check(inflated.has_value());
      check(GWLPBMeasurementBundle::initWithBuffer(std::span<const uint8_t>(*inflated)) != nullptr);
    }
  });
  check(passesEnded);
  fuzz_support::flushQuietLibraryMonitor();
  return 0;
}
