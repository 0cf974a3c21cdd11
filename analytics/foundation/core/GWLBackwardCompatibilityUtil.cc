#include "analytics/foundation/core/GWLBackwardCompatibilityUtil.h"

bool GWLBackwardCompatibilityUtil::disableVQRMeasurement() {
  // The older library could only be found by its class name, and a name alone
  // reaches no instance that could be switched off: nothing ever is.
  return false;
}
