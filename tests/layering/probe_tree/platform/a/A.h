#pragma once
#include "platform/b/B.h"
