// Configuration bodies from outside through the apply transaction.
//
// Whatever the bytes: nothing crashes; a body that is applied is stored as
// this app's configuration and is the one in force; a refused body leaves the
// stored configuration (its bytes) and the one in force as they were.
//
// Input: the whole input is the body.

#include <cstdint>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "fuzz/analytics/measurement/QuietStandaloneEngine.h"

namespace {

using fuzz_support::check;

constexpr double kNow = 1767610740;
constexpr const char* kAppID = "1:123:ios:abc";

std::shared_ptr<GWLMeasurement>& engine() {
  static auto* made =
      new std::shared_ptr<GWLMeasurement>(fuzz_support::makeQuietStandaloneEngine("config_apply_fuzz", kNow, kAppID));
  return *made;
}

std::optional<std::vector<uint8_t>> storedBytes(GWLDatabase& db) {
  auto stored = db.queryMeasurementConfigWithError();
  return stored ? stored->protoBuffer() : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& e = engine();
  const std::span<const uint8_t> body(data, size);
  e->scheduler()->dispatchSyncOnWorkerQueueBlockID("config_apply_fuzz", [&] {
    auto db = e->database();
    auto config = e->engineRemoteConfig();
    const auto before = storedBytes(*db);
    const auto inForce = config->snapshot();
    const bool committed = e->applyFetchedConfigInTransaction(body);
    auto stored = db->queryMeasurementConfigWithError();
    if (committed) {
      check(stored && stored->appId() == kAppID && stored->audiencesCount() == 0);
      check(config->snapshot()->measurementConfig != nullptr);
    } else {
      check(storedBytes(*db) == before);
      check(config->snapshot() == inForce);
    }
  });
  return 0;
}
