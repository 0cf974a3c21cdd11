// GWLPDynamicProvider: the module registry of a runtime, a creator per module
// name. Each request makes a new module; GWLPRequire caches them.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

// Makes one module value, or none.
using GWLPModuleCreator = std::function<GWLPValueRef()>;

class GWLPDynamicProvider {
 public:
  // Replaces an earlier creator of that name.
  void setModuleCreator(GWLPModuleCreator creator, const std::string& name);
  // A new module; undefined without an error when no creator has that name,
  // undefined with error 15 when the creator makes nothing.
  GWLPValueRef moduleForName(const std::string& name, platform::Error* error = nullptr);

 private:
  std::map<std::string, GWLPModuleCreator> creators_;
};
