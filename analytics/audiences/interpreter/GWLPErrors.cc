#include "analytics/audiences/interpreter/GWLPErrors.h"


platform::Error GWLPRuntimeError(int64_t code) { return platform::Error(kGWLPRuntimeErrorDomain, code); }

platform::Error GWLPEditingError(int64_t code) { return platform::Error(kGWLPEditingErrorDomain, code); }


void GWLPErrorOut::useLocal(platform::Error* out) {
  out_ = out;
  local_ = new platform::Error();
  target_ = local_;
}

void GWLPErrorOut::handOut() {
  if (out_ && GWLPFailed(*local_)) *out_ = std::move(*local_);
  delete local_;
}
