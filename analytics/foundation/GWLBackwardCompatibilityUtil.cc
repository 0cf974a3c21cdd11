#include "analytics/foundation/GWLBackwardCompatibilityUtil.h"

#include "analytics/foundation/GWLAEU.h"

namespace {
constexpr const char* kOlderLibraryClassName = "VQRMeasurement";
}

bool GWLBackwardCompatibilityUtil::disableVQRMeasurement() {
  // The older library is only known here by its name: a process that has it
  // registers the name, but no instance of it can be reached to be switched
  // off, so nothing ever is.
  (void)GWLAEU::classExists(kOlderLibraryClassName);
  return false;
}
