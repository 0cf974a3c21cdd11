#pragma once
#include "analytics/foundation/core/Probe.h"
#include "analytics/wire/GWLPBEvent.h"
