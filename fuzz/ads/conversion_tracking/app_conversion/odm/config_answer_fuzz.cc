// The configuration answer comes from the on-device measurement endpoint: any
// body becomes the run's client and candidates request, or an error; never a
// crash or a hang, and a success leaves everything the next step needs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ODCFuzzContext.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConfigFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "fuzz/QuietLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  static const std::shared_ptr<ODCContext> context = MakeFuzzContext();
  static const std::shared_ptr<ODCConfigFetcher> fetcher = std::make_shared<ODCConfigFetcher>(context);
  context->setPSMClient(nullptr);
  context->setCandidateRequestPayload(std::nullopt);
  platform::Error error;
  if (!fetcher->createPSMRequestWithData(std::span<const uint8_t>(data, size), &error)) {
    if (error.domain.empty()) std::abort();  // every failure says what it was
    return 0;
  }
  const auto& payload = context->candidateRequestPayload();
  if (!context->PSMClient() || !context->PSMRequest() || context->PSMRequest()->empty() || !payload) std::abort();
  if (!ODCJSONDictionaryFromData(std::span<const uint8_t>(*payload))) std::abort();
  return 0;
}
