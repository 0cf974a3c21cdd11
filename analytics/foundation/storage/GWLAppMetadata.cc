#include "analytics/foundation/storage/GWLAppMetadata.h"

#include <limits>
#include <string>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"

std::shared_ptr<GWLAppMetadata> GWLAppMetadata::initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                        int32_t lastDeliveryIndex,
                                                                        double lastBundleStartTimestamp,
                                                                        double lastBundleEndTimestamp) {
  if (lastBundleIndex < 0) {
    GWLLibraryMonitor::monitor()->logWithLevel(
        kGWLLevelErrorSilent, 4000,
        std::string("Failed to create app metadata object. Received negative last bundle index."));
    return nullptr;
  }
  std::shared_ptr<GWLAppMetadata> metadata(new GWLAppMetadata());
  metadata->lastBundleIndex_ = lastBundleIndex;
  metadata->lastDeliveryIndex_ = lastDeliveryIndex;
  metadata->lastBundleStartTimestamp_ = lastBundleStartTimestamp;
  metadata->lastBundleEndTimestamp_ = lastBundleEndTimestamp;
  return metadata;
}

std::shared_ptr<GWLAppMetadata> GWLAppMetadata::initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                        double lastBundleStartTimestamp,
                                                                        double lastBundleEndTimestamp) {
  return initWithLastBundleIndex(lastBundleIndex, 0, lastBundleStartTimestamp, lastBundleEndTimestamp);
}

void GWLAppMetadata::increaseLastBundleIndex(int32_t count) {
  const int64_t sum = static_cast<int64_t>(lastBundleIndex_) + count;
  if (sum < (int64_t{1} << 31)) {
    lastBundleIndex_ = static_cast<int32_t>(sum);
    return;
  }
  GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSilent, 4001,
                                             std::string("Bundle index overflow. Bundle index wraparound."));
  lastBundleIndex_ = count - 1;
}

void GWLAppMetadata::incrementLastDeliveryIndex() {
  if (lastDeliveryIndex_ == std::numeric_limits<int32_t>::max()) {
    lastDeliveryIndex_ = 0;
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSilent, 4002,
                                               std::string("Delivery index overflow. Delivery index reset to 0."));
    return;
  }
  ++lastDeliveryIndex_;
}
