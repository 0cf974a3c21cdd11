// The validation answer comes from the on-device measurement endpoint: any
// body stores both strings or neither; never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ODCFuzzContext.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCMatchValidator.h"
#include "fuzz/QuietLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  static const std::shared_ptr<ODCContext> context = MakeFuzzContext();
  static const std::shared_ptr<ODCMatchValidator> validator = std::make_shared<ODCMatchValidator>(context);
  context->setMeasurementInfo(std::nullopt);
  context->setAggregateConversionInfo(std::nullopt);
  platform::Error error;
  const bool stored = validator->storeValidatedPSMValue(std::span<const uint8_t>(data, size), &error);
  const bool both = context->measurementInfo() && context->aggregateConversionInfo();
  const bool neither = !context->measurementInfo() && !context->aggregateConversionInfo();
  if (stored ? !both : (!neither || error.domain.empty())) std::abort();
  return 0;
}
