// Argument operations used by every command evaluator, native function and
// method handler.
#pragma once

#include <cstddef>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

// Evaluates each value in order in `scope`; stops right after the first
// evaluation that fails, answering the results so far (the failing one
// included) with that error.
GWLPValueList GWLPEvaluateArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                    platform::Error* error = nullptr);

// Exactly, at least or at most `count` elements; else error 9 and false.
bool GWLPCheckArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckMinimumArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckMaximumArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error = nullptr);
