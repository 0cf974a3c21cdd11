// Every bucket entry's unencrypted metadata comes from the endpoint: any bytes
// read as the three numbers or fail; never a crash or a hang, and what was
// read encodes back to bytes that read the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "fuzz/QuietLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  auto metadata = ODCDeserializeUnencryptedMetadata(std::string(reinterpret_cast<const char*>(data), size));
  if (!metadata.ok()) return 0;
  auto again = ODCDeserializeUnencryptedMetadata(
      tabulo::psm_double::SerializeOdmUnencryptedMetadata(metadata->order_key, metadata->kind, metadata->preferred));
  if (!again.ok() || !(*again == *metadata)) std::abort();
  return 0;
}
