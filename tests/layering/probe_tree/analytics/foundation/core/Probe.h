#pragma once
// The foundation never includes the engine; its core never includes the folders above it.
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/foundation/values/Probe.h"
