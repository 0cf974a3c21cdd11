// platform::UUID helpers — random (version 4) UUIDs in their text form.
//
// The text form is the canonical 36-character one with upper-case hexadecimal
// digits, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", as the platform prints UUIDs.
#pragma once

#include <string>
#include <string_view>

#include "platform/util/Random.h"

namespace platform {

// A new random UUID (version 4, RFC 4122 variant) drawn from `random`.
std::string randomUUIDString(Random& random);

// Whether `text` is a UUID in the canonical text form (either letter case).
bool isUUIDString(std::string_view text);

}  // namespace platform
