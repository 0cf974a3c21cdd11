// GWLPRequire: the native function "require". It answers the module of the
// given name, creating it through the runtime's provider on first use and
// caching it, so every caller of a runtime shares one instance. The cache is
// marked by the collector with the function itself.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPDynamicProvider.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

class GWLPRequire : public GWLPFunctionValue {
 public:
  explicit GWLPRequire(std::shared_ptr<GWLPDynamicProvider> provider);

  // Exactly one argument (error 9), its text names the module.
  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;

  void markInto(GWLPMarkStack& stack) override;
  void releaseContents() override;

 private:
  std::shared_ptr<GWLPDynamicProvider> provider_;
  std::map<std::string, GWLPValueRef> modules_;
};
