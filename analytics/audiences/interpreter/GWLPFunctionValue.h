// GWLPFunctionValue: a script function (name, parameter names, body and the
// scope it was defined in) with its own properties, and the base of every
// native function. A native function has no parameters, no body and a fresh
// parentless defining scope, and overrides invokeWithArguments.
#pragma once

#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPPropertyMap.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPFunctionValue : public GWLPRuntimeValue {
 public:
  GWLPFunctionValue(std::string functionName, std::vector<std::string> parameterNames, GWLPValueList statements,
                    GWLPScopeRef definingScope);
  // A native function named `functionName`.
  explicit GWLPFunctionValue(std::string functionName);
  ~GWLPFunctionValue() override;

  const std::string& functionName() const { return functionName_; }
  const std::vector<std::string>& parameterNames() const { return parameterNames_; }
  const GWLPValueList& statements() const;
  const GWLPScopeRef& definingScope() const { return definingScope_; }

  bool hasProperty(const std::string& name) const { return propertyMap_.hasName(name); }
  void setValue(GWLPValueRef value, const std::string& property) { propertyMap_.setValue(std::move(value), property); }
  GWLPValueRef valueForProperty(const std::string& name) const { return propertyMap_.valueForName(name); }
  void removeValueForProperty(const std::string& name) { propertyMap_.removeValueForName(name); }
  std::vector<std::string> allPropertyNames() const { return propertyMap_.allNames(); }
  GWLPPropertyMap& propertyMap() { return propertyMap_; }

  // Evaluates the arguments in the calling scope, then invokes.
  virtual GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                           platform::Error* error = nullptr);
  // Runs the body in a new child of the defining scope with the parameters
  // bound; answers the data of a return, else the last statement's value.
  virtual GWLPValueRef invokeWithEvaluatedArguments(GWLPValueSpan arguments, platform::Error* error = nullptr);

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                             platform::Error* error = nullptr) override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;
  void markInto(GWLPMarkStack& stack) override;
  void sweep() override;
  void releaseContents() override;

  bool isMarked() const { return mark_; }

 private:
  // Keeps `scope`, an invocation's finished scope, as the spare when nothing else holds it.
  void keepSpareScope(GWLPScopeRef scope, const GWLPScopeRef& definingScope);

  std::string functionName_;
  std::vector<std::string> parameterNames_;
  // The body, shared with the invocations running it, so that a function
  // released while it runs still finishes its body.
  std::shared_ptr<const GWLPValueList> statements_;
  GWLPScopeRef definingScope_;
  // An empty child of the defining scope that a finished invocation left and
  // nothing kept: the next invocation runs in it instead of a new one.
  GWLPScopeRef spareScope_;
  GWLPPropertyMap propertyMap_;
  bool mark_ = false;
};
