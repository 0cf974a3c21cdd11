#include "analytics/foundation/storage/GWLRawEventData.h"

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLEvent.h"

namespace {
constexpr int64_t kInvalidRawEventCode = 28000;
constexpr const char* kInvalidRawEventMessage = "Failed to create raw event data. Received invalid raw event.";
constexpr int64_t kInvalidRowIDCode = 28001;
constexpr const char* kInvalidRowIDMessage = "Failed to create raw event data. Received invalid row ID. Row ID";
}  // namespace

std::shared_ptr<GWLRawEventData> GWLRawEventData::initWithRawEvent(std::shared_ptr<GWLEvent> rawEvent, int64_t rowID,
                                                                   int64_t metadataFingerprint) {
  if (!rawEvent) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSampled, kInvalidRawEventCode, kInvalidRawEventMessage);
    return nullptr;
  }
  if (rowID < 0) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSampled, kInvalidRowIDCode, kInvalidRowIDMessage, rowID);
    return nullptr;
  }
  return std::shared_ptr<GWLRawEventData>(new GWLRawEventData(std::move(rawEvent), rowID, metadataFingerprint));
}
