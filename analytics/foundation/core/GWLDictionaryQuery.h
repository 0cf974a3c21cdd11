// Query strings: building one from a dictionary and reading the arguments of one.
#pragma once

#include <map>
#include <string>

#include "platform/core/Object.h"

// Every entry in the dictionary's (ascending key) order as key=value, each
// part percent-encoded for a query value, the pairs joined by "&". Strings
// stand as they are, other values as their descriptions.
std::string gwl_queryString(const platform::Dictionary& dictionary);

// The arguments of a query string: parts split at "&", each at its first "="
// (a part without one is all key, with an empty value), "+" read as a blank
// and percent escapes decoded (an undecodable part gives the empty string).
// The first occurrence of a key wins; empty parts are skipped.
std::map<std::string, std::string> gwl_dictionaryWithHttpArgumentsString(const std::string& arguments);
