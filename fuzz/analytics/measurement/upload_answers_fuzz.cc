// Server answers from outside through the engine's two completions: the
// upload's and the configuration fetch's, with any status, validator headers
// and body.
//
// Whatever the answer: nothing crashes, the in-flight list is released, the
// queue holds the sent bundles exactly when the answer was not a success,
// the stored configuration still decodes as this app's, and the validators
// kept are ones that can go back out in a header.
//
// Input: a selector byte (bit 0: the configuration fetch, bit 1: no answer at
// all), two status bytes (little endian), the ETag and Last-Modified texts
// and the body as chunks (two bytes of length, little endian, each).

#include <cstdint>
#include <string>
#include <vector>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLServerStrings.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLScheduler.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "fuzz/analytics/audiences/ChunkReader.h"
#include "fuzz/analytics/measurement/QuietStandaloneEngine.h"
#include "platform/net/HTTPURLResponse.h"

namespace {

using fuzz_support::check;

constexpr double kNow = 1767610740;
constexpr const char* kAppID = "1:123:ios:abc";

std::shared_ptr<GWLMeasurement>& engine() {
  static std::shared_ptr<GWLMeasurement>* made = [] {
    auto* engine = new std::shared_ptr<GWLMeasurement>(
        fuzz_support::makeQuietStandaloneEngine("upload_answers_fuzz", kNow, kAppID));
    // No request leaves the target: the engine sees no network.
    (*engine)->network()->setReachabilityOverrideForTesting(false);
    return engine;
  }();
  return *made;
}

std::string text(std::span<const uint8_t> chunk) { return std::string(chunk.begin(), chunk.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& e = engine();
  fuzz_support::ChunkReader reader(data, size);
  const uint8_t selector = reader.byte();
  const int status = reader.byte() | (reader.byte() << 8);
  const std::string etag = text(reader.chunk());
  const std::string lastModified = text(reader.chunk());
  const auto bodyChunk = reader.chunk();
  const std::vector<uint8_t> body(bodyChunk.begin(), bodyChunk.end());

  std::shared_ptr<platform::HTTPURLResponse> response;
  if (!(selector & 2)) {
    response = std::make_shared<platform::HTTPURLResponse>();
    response->statusCode = status;
    if (!etag.empty()) response->headerFields.emplace_back("ETag", etag);
    if (!lastModified.empty()) response->headerFields.emplace_back("Last-Modified", lastModified);
  }

  e->scheduler()->dispatchSyncOnWorkerQueueBlockID("upload_answers_fuzz", [&] {
    auto db = e->database();
    auto* store = db->sqliteStore();
    check(store->deleteAllRecordsFromTableWithName("queue"));
    e->setSuspendedUploadTimestamp(0);
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    bundle->setProtocolVersion(1);
    bundle->setAppId(kAppID);
    bundle->setEndTimestamp(static_cast<int64_t>(kNow * 1000));
    check(db->insertBundle(*bundle, false));
    check(db->insertBundle(*bundle, false));
    auto queued = db->queryBundlesWithCountLimit(10, 1 << 20);
    check(queued && queued->size() == 2);

    if (selector & 1) {
      e->networkRemoteConfigFetchCompletionHandler(response, body, std::nullopt);
      auto stored = db->queryMeasurementConfigWithError();
      check(!stored || stored->appId() == kAppID);
      auto tag = e->persistedConfig()->configServerETag();
      check(!tag || GWLIsValidEntityTag(*tag));
      auto modified = e->persistedConfig()->configServerLastModifiedString();
      check(!modified || GWLIsValidHTTPHeaderValue(*modified));
    } else {
      e->setUploadInProgressWithBundleIDs({queued->front().rowID});
      e->networkUploadCompletionHandlerWithResponse(
          response, response ? std::nullopt
                             : std::optional<platform::Error>(platform::Error(platform::kHVUNetworkErrorDomain,
                                                                              platform::kHVUNetworkErrorTimedOut,
                                                                              "timed out")));
      check(e->uploadingBundleIDs().empty());
      const bool success = response && (status == 200 || status == 204);
      auto left = db->queryBundlesWithCountLimit(10, 1 << 20);
      check(left && left->size() == (success ? 1u : 2u));
      if (!success) check(left->front().bundle->retryCount() >= 1 && left->back().bundle->retryCount() == 0);
    }
    check(!e->isNetworkRequestPending());
  });
  return 0;
}
