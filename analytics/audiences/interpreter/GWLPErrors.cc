#include "analytics/audiences/interpreter/GWLPErrors.h"


platform::Error GWLPRuntimeError(int64_t code) { return platform::Error(kGWLPRuntimeErrorDomain, code); }

platform::Error GWLPEditingError(int64_t code) { return platform::Error(kGWLPEditingErrorDomain, code); }

