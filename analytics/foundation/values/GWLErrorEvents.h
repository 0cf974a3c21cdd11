// GWLErrorEvents — the library's error event "_err": logged with the origin
// "auto" in place of something the app handed in and the library refused,
// carrying the error code and, where a name is known, the name and the
// length of the refused value.
//
// The events go through the entry class's internal-event call, which the
// engine installs with GWLSetInternalEventLogger; until then they go nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/foundation/values/GWLValue.h"

using GWLInternalEventLogger =
    std::function<void(const std::string& origin, const std::string& name, const GWLParameters& parameters)>;

// Installs (or, with an empty function, removes) the internal-event call.
void GWLSetInternalEventLogger(GWLInternalEventLogger logger);
// Logs an internal event through the installed call (the entry class's
// internal-event path); nothing while none is installed. The layers above the
// foundation that log internal events of their own (the purchase reporter's
// "_iap") use it too.
void GWLLogInternalEvent(const std::string& origin, const std::string& name, const GWLParameters& parameters);

// For a non-zero code: the error event with "_err" = code.
void GWLLogErrorEvent(int64_t code);
// For a non-zero code: "_err" = code, "_ev" = the name cut to `maxLength`
// code points (and "..."), and "_el" = the value's length in code points when
// a value is given and is longer than `maxLength` or the code is 4 or 7.
void GWLLogErrorEventWithName(int64_t code, std::string_view name, size_t maxLength,
                              std::optional<std::string_view> value);
