// The event write pipeline with events from outside: random origins, names
// (text that need not be UTF-8) and parameters (numbers, text, item arrays,
// the names the pipeline reads) through the engine's entries, under small
// daily limits, with the conditional user properties over the same database.
// Nothing crashes, and every stored event reads back with valid UTF-8 text.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "fuzz/analytics/audiences/ChunkReader.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/text/Utf8.h"
#include "platform/text/Utf8Object.h"
#include "fuzz/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;
using fuzz_support::check;
using platform::Array;
using platform::Dictionary;
using platform::Object;

constexpr double kStart = 1'700'000'000.0;

struct Setup {
  std::shared_ptr<platform::ManualClock> clock;
  std::shared_ptr<GWLMeasurement> engine;
};

// One started engine for the whole run, the registry's engine, so that the
// conditional user properties work over its database.
Setup& setup() {
  static Setup* made = [] {
    auto* s = new Setup();
    fuzz_support::installQuietLibraryMonitor();
    const fs::path root = fuzz_support::processScratchDirectory("pipeline_fuzz");
    auto standalone = measurement_testing::makeStandaloneMeasurement(root.string(), kStart, GWLLibraryMonitor::monitor());
    check(standalone.engine != nullptr);
    s->engine = standalone.engine;
    s->clock = standalone.clock;
    (void)GWLMeasurementRegistry::initializeSharedInstance([engine = s->engine] { return engine; });
    // Small limits, so that the limits' paths are reached.
    s->engine->engineRemoteConfig()->replaceCachedValues({{kGWLSettingMaxEventsPerDay, "40"},
                                                           {kGWLSettingMaxPublicEventsPerDay, "20"},
                                                           {kGWLSettingMaxErrorEventsPerDay, "5"},
                                                           {kGWLSettingMaxRealtimeEventCountPerDay, "2"}});
    return s;
  }();
  return *made;
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : in_(data, size), size_(size) {}
  bool done() const { return read_ >= size_; }
  uint8_t byte() {
    ++read_;
    return in_.byte();
  }
  // One of `pool`, or up to 40 raw bytes.
  std::string text(std::initializer_list<const char*> pool) {
    const uint8_t choice = byte();
    if (choice < 200) return *(pool.begin() + choice % pool.size());
    const size_t length = byte() % 41;
    std::string raw;
    while (raw.size() < length && !done()) raw.push_back(static_cast<char>(byte()));
    return raw;
  }
  int64_t integer() {
    read_ += 8;
    return in_.number<int64_t>();
  }
  Object value(int depth = 0) {
    switch (byte() % (depth > 0 ? 4 : 5)) {
      case 0: return Object(static_cast<int64_t>(byte() % 4));
      case 1: return Object(integer());
      case 2: {
        read_ += 8;
        return Object(in_.number<double>());
      }
      case 3: return Object(text({"USD", "EUR", "a,b", "", "1", "sku"}));
      default: {
        Array items;
        for (int n = byte() % 3; n > 0 && !done(); --n) {
          Dictionary item;
          for (int m = byte() % 3; m > 0 && !done(); --m) item.emplace(text({"item_id", "price", "x"}), value(1));
          items.emplace_back(std::move(item));
        }
        return Object(std::move(items));
      }
    }
  }
  Dictionary parameters() {
    Dictionary result;
    for (int n = byte() % 6; n > 0 && !done(); --n) {
      result.insert_or_assign(text({"value", "currency", "_did", "_ffr", "extend_session", "_sid", "_sno", "items",
                                    "subscription", "product_id", "_err", "_r", "_c", "vrt_x", "_o"}),
                              value());
    }
    return result;
  }

 private:
  fuzz_support::ChunkReader in_;
  size_t size_;
  size_t read_ = 0;
};

bool validParameters(const GWLParameters& parameters) {
  for (const auto& [name, value] : parameters) {
    if (!platform::utf8::isValid(name) || !platform::utf8::isValidObject(value.objectValue())) return false;
  }
  return true;
}

int testOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  auto engine = s.engine;
  Reader reader(data, size);
  auto limits = engine->remoteConfig()->valueLimits();
  for (int events = 0; events < 16 && !reader.done(); ++events) {
    const uint8_t entry = reader.byte();
    const std::string origin = reader.text({"app", "auto", "gw", "fcm", "app+kxw"});
    const std::string name = reader.text({"level_up", "_f", "_s", "_ssr", "_ae", "_assc", "_iap", "purchase",
                                          "_err", "_cmp", "_dcu", "_fx", "ecommerce_purchase", "screen_view"});
    const bool isPublic = (entry & 0x10) != 0;
    const Dictionary parameters = reader.parameters();
    auto event = GWLEvent::initWithOrigin(origin, isPublic, name, kStart + reader.byte(), 0, parameters, limits);
    if (!event) continue;
    if ((entry & 0x20) != 0) event->setRealtime(true);
    engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("fuzz", [&] {
      switch (entry % 4) {
        case 0: engine->handleInternalEventOnWorkerQueue(event); break;
        case 1: engine->writeFilteredEventOnWorkerQueue(event); break;
        default: engine->handleEventOnWorkerQueue(event); break;
      }
    });
  }
  // Let the posted consented first open run, then read back and start afresh.
  engine->scheduler()->workerQueue()->flush();
  engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("fuzz", [&] {
    auto database = engine->database();
    auto rows = database->allRawEventsWithError();
    check(rows.has_value());
    for (const auto& row : *rows) {
      const auto& stored = row->rawEvent();
      check(platform::utf8::isValid(stored->name()) && platform::utf8::isValid(stored->origin()));
      check(validParameters(stored->parameters()));
    }
    check(database->deleteRawEventsWithMaxRowID(std::numeric_limits<int64_t>::max()));
    check(database->deleteUnusedRawEventsMetadata());
  });
  s.clock->advance(86400);  // a new day: the daily counters start again
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
