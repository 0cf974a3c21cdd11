#pragma once
// The platform includes nothing of the project.
#include "analytics/foundation/core/GWLMonitor.h"
