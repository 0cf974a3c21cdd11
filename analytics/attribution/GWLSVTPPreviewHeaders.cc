#include "analytics/attribution/GWLSVTPPreviewHeaders.h"

#include <utility>

#include "platform/util/Mutex.h"

namespace {

struct State {
  platform::Mutex mutex;
  std::shared_ptr<const GWLSVTPPreviewHeaders::Headers> headers ABSL_GUARDED_BY(mutex);
};

State& state() {
  static auto* shared = new State();  // never destroyed: uploads may read it while the process exits
  return *shared;
}

}  // namespace

std::shared_ptr<const GWLSVTPPreviewHeaders::Headers> GWLSVTPPreviewHeaders::current() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return s.headers;
}

void GWLSVTPPreviewHeaders::replace(std::shared_ptr<const Headers> headers) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.headers.swap(headers);
  // The old map, if this was its last holder, goes once the lock is released.
}

bool GWLSVTPPreviewHeaders::isValidPreviewKey(std::string_view key) {
  if (key.empty() || key.size() > kGWLSVTPPreviewKeyMaxLength) return false;
  for (char c : key) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7e) return false;
  }
  return true;
}
