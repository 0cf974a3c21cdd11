#include "analytics/audiences/interpreter/GWLPDynamicProvider.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

void GWLPDynamicProvider::setModuleCreator(GWLPModuleCreator creator, const std::string& name) {
  if (creator) {
    creators_[name] = std::move(creator);
  } else {
    creators_.erase(name);
  }
}

GWLPValueRef GWLPDynamicProvider::moduleForName(const std::string& name, platform::Error* error) {
  auto it = creators_.find(name);
  if (it == creators_.end()) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef module = it->second();
  if (!module) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorModuleNotCreated));
    return GWLPUndefinedValue::sharedInstance();
  }
  return module;
}
