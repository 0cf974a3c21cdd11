// GWLPKeyValueStore: a module (such as "internal.remoteConfig") whose
// "getValue" property answers from a lookup of the host. Calling the module
// itself evaluates the arguments, runs its empty body and answers
// undefined.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

// The host's value of a key, as text, or none.
using GWLPGetValueBlock = std::function<std::optional<std::string>(const std::string& key)>;

class GWLPKeyValueStore : public GWLPFunctionValue {
 public:
  GWLPKeyValueStore(std::string functionName, GWLPGetValueBlock getValueBlock);
};
