#include "analytics/measurement/GWLAnalyticsTimestampQueue.h"

namespace {

// The timestamp queue whose block the calling thread is running, if any.
thread_local const GWLAnalyticsTimestampQueue* tCurrent = nullptr;

}  // namespace

void GWLAnalyticsTimestampQueue::sync(const std::function<void()>& block) {
  if (isCurrent()) {
    block();
    return;
  }
  platform::MutexLock lock(mutex_);
  struct Inside {
    explicit Inside(const GWLAnalyticsTimestampQueue* queue) { tCurrent = queue; }
    ~Inside() { tCurrent = nullptr; }
  } inside(this);
  block();
}

bool GWLAnalyticsTimestampQueue::isCurrent() const { return tCurrent == this; }
