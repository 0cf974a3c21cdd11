#include "analytics/foundation/storage/GWLEventAggregates.h"

#include <limits>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"

namespace {
void increment(int32_t& count, int64_t code, const char* message) {
  if (count == std::numeric_limits<int32_t>::max()) {
    count = 0;
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSilent, code, std::string(message));
    return;
  }
  ++count;
}
}  // namespace

std::shared_ptr<GWLEventAggregates> GWLEventAggregates::initWithName(const std::string& name, int32_t lifetimeCount,
                                                                     int32_t currentBundleCount,
                                                                     int32_t currentSessionCount,
                                                                     double lastFireTimestamp) {
  if (!GWLDataTypeValidator::isValidInternalEventName(name)) return nullptr;
  if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
    GWLLibraryMonitor::monitor()->logWithLevel(
        kGWLLevelWarningSilent, 17000,
        std::string("Failed to create event aggregates object. Received negative count."));
    return nullptr;
  }
  std::shared_ptr<GWLEventAggregates> aggregates(new GWLEventAggregates());
  aggregates->name_ = name;
  aggregates->lifetimeCount_ = lifetimeCount;
  aggregates->currentBundleCount_ = currentBundleCount;
  aggregates->currentSessionCount_ = currentSessionCount;
  aggregates->lastFireTimestamp_ = lastFireTimestamp;
  return aggregates;
}

void GWLEventAggregates::incrementLifetimeCount() {
  increment(lifetimeCount_, 17001, "Lifetime count overflow. Lifetime count reset to 0.");
}
void GWLEventAggregates::incrementCurrentBundleCount() {
  increment(currentBundleCount_, 17002, "Bundle count overflow. Bundle count reset to 0.");
}
void GWLEventAggregates::incrementCurrentSessionCount() {
  increment(currentSessionCount_, 17003, "Session count overflow. Session count reset to 0.");
}
