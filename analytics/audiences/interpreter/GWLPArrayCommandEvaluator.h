// GWLPArrayCommandEvaluator: the shared table of the 21 array methods
// ("concat", "every", "filter", "forEach", "hasOwnProperty", "indexOf",
// "join", "lastIndexOf", "map", "pop", "push", "reduce", "reduceRight",
// "reverse", "shift", "slice", "some", "sort", "splice", "toString",
// "unshift"). Made once, read-only afterwards.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPArrayValue;

// (receiver, evaluated arguments, scope, error).
using GWLPArrayMethodHandler = std::function<GWLPValueRef(
    const std::shared_ptr<GWLPArrayValue>& array, const GWLPValueList& values, const GWLPScopeRef& scope,
    platform::Error* error)>;

class GWLPArrayCommandEvaluator {
 public:
  GWLPArrayCommandEvaluator();
  static GWLPArrayCommandEvaluator& sharedInstance();

  // Error 17 for a name the table lacks; else evaluates the arguments in
  // `scope` and runs the method on `array`.
  GWLPValueRef evaluateCommand(const std::string& name, const std::shared_ptr<GWLPArrayValue>& array,
                               const GWLPValueList& arguments, const GWLPScopeRef& scope,
                               platform::Error* error = nullptr);
  bool hasMethod(const std::string& name) const { return handlers_.count(name) != 0; }

 private:
  std::map<std::string, GWLPArrayMethodHandler> handlers_;
};
