#include "security/util/merkledamgaard.h"

#include <atomic>

namespace security {

namespace {
std::atomic<int> update_after_digest_log_severity{2};
}  // namespace

void SetUpdateAfterDigestLogSeverity(int severity) { update_after_digest_log_severity.store(severity); }

int UpdateAfterDigestLogSeverity() {
  const int severity = update_after_digest_log_severity.load();
  if (severity < 0) return 0;
  if (severity > 3) return 2;
  return severity;
}

}  // namespace security
