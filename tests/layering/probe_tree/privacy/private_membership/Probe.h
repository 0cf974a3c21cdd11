#pragma once
// The cryptographic layers include nothing of analytics.
#include "analytics/wire/NANO.h"
