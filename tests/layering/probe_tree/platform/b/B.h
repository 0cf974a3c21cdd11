#pragma once
// Allowed by the layers, but closes a cycle between platform/a and platform/b.
#include "platform/a/A.h"
