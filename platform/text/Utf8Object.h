// UTF-8 clean-up of mixed values: every string of an object tree (dictionary
// keys included) with its ill-formed subparts replaced by U+FFFD, as
// utf8::replacingInvalid does for one string. Bytes, numbers and dates stay as
// they are. Where two keys of one dictionary become equal, the first in the
// dictionary's order is kept.
#pragma once

#include "platform/core/Object.h"

namespace platform::utf8 {

Object objectReplacingInvalid(const Object& object);
Dictionary dictionaryReplacingInvalid(const Dictionary& dictionary);
// Whether every string of the tree, keys included, is valid UTF-8.
bool isValidObject(const Object& object);

}  // namespace platform::utf8
