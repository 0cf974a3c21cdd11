// Response bytes come from the ad service: any bytes deserialise into a
// response or give InvalidArgument, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analytics/attribution/GWLSerializationUtil.h"
#include "fuzz/QuietLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  auto response = DeserializeBlindersResponse(data, size);
  if (!response.ok()) {
    if (response.status().code() != absl::StatusCode::kInvalidArgument ||
        response.status().message() != kGWLDeserializePSMResponseFailedMessage) {
      std::abort();
    }
    return 0;
  }
  // Every metadata record read from the wire has its secondary bytes set.
  for (const auto& part : response->encrypted_response) {
    for (const auto* bucket : {&part.encrypted_bucket, &part.binned_encrypted_bucket}) {
      for (const auto& metadata : bucket->metadata) {
        if (!metadata.secondary_bytes || metadata.tertiary_bytes) std::abort();
      }
    }
    if (part.extra_number != 0) std::abort();
  }
  return 0;
}
