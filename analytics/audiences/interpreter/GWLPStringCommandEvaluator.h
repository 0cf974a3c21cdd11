// GWLPStringCommandEvaluator: the shared table of the 17 string methods
// ("charAt", "concat", "hasOwnProperty", "indexOf", "lastIndexOf", "match",
// "replace", "search", "slice", "split", "substring", "toLowerCase",
// "toLocaleLowerCase", "toUpperCase", "toLocaleUpperCase", "toString",
// "trim"). Lengths and positions count UTF-16 code units. Made once,
// read-only afterwards.
#pragma once

#include <string>
#include <string_view>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

// (receiver text, evaluated arguments, scope, error).
using GWLPStringMethodHandler = GWLPValueRef (*)(const std::string& text, GWLPValueSpan values,
                                                 const GWLPScopeRef& scope, platform::Error* error);

class GWLPStringCommandEvaluator {
 public:
  GWLPStringCommandEvaluator();
  static GWLPStringCommandEvaluator& sharedInstance();

  // Error 17 for a name the table lacks; else evaluates the arguments in
  // `scope` and runs the method on `text`.
  GWLPValueRef evaluateCommand(const std::string& name, const std::string& text, const GWLPValueList& arguments,
                               const GWLPScopeRef& scope, platform::Error* error = nullptr);
  bool hasMethod(const std::string& name) const { return handlerFor(name) != nullptr; }

 private:
  // The method of `name`, or none.
  static GWLPStringMethodHandler handlerFor(std::string_view name);
};
