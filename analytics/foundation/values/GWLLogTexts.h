// GWLLogTexts — how names and parameters appear in log lines.
//
// While debug mode is on and the public analytics class is present, internal
// names are shown with the public name they stand for ("session_start (_s)")
// and parameter dictionaries are written one entry per line, with "_err"
// codes named ("InvalidParameterName (3)"). Otherwise names and values are
// written as they are.
#pragma once

#include <string>
#include <string_view>

#include "analytics/foundation/values/GWLValue.h"
#include "platform/core/Object.h"

std::string GWLEventNameForLog(std::string_view name);
std::string GWLParameterNameForLog(std::string_view name);
// "_exp_..." names read "experiment_id (_exp_...)".
std::string GWLUserPropertyNameForLog(std::string_view name);
std::string GWLDescriptionForLog(const GWLParameters& parameters);
std::string GWLDescriptionForLog(const platform::Object& object);
