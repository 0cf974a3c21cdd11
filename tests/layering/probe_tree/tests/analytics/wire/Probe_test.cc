// A test of the wire layer may not reach the foundation either.
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/wire/NANO.h"
