#pragma once
// The wire layer includes only the platform and nanopb.
#include "analytics/foundation/core/GWLError.h"
#include "platform/core/Log.h"
