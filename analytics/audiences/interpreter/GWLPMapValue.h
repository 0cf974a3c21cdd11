// GWLPMapValue: the script's plain object, a property map with a collector
// mark. Maps that scripts create come from GWLPObjectManager, which tracks
// them for collection.
#pragma once

#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPPropertyMap.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPMapValue : public GWLPRuntimeValue {
 public:
  GWLPMapValue() : GWLPRuntimeValue(GWLPValueKind::Map) {}

  bool hasProperty(const std::string& name) const { return propertyMap_.hasName(name); }
  void setValue(GWLPValueRef value, const std::string& property) { propertyMap_.setValue(std::move(value), property); }
  GWLPValueRef valueForProperty(const std::string& name) const { return propertyMap_.valueForName(name); }
  void removeValueForProperty(const std::string& name) { propertyMap_.removeValueForName(name); }
  std::vector<std::string> allPropertyNames() const { return propertyMap_.allNames(); }
  GWLPPropertyMap& propertyMap() { return propertyMap_; }
  const GWLPPropertyMap& propertyMap() const { return propertyMap_; }

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                             platform::Error* error = nullptr) override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;
  void markInto(GWLPMarkStack& stack) override;
  void sweep() override;
  void releaseContents() override { propertyMap_.clear(); }

  bool isMarked() const { return mark_; }

 private:
  GWLPPropertyMap propertyMap_;
  bool mark_ = false;
};

// Method lookup shared by maps and functions: an own property that holds a
// function is invoked (any other own property: error 17); else
// "hasOwnProperty" (exactly one argument) and "toString"; else error 17.
GWLPValueRef GWLPApplyPropertyMethod(GWLPRuntimeValue& receiver, const GWLPPropertyMap& properties,
                                     const std::string& name, const GWLPValueList& arguments,
                                     const GWLPScopeRef& scope, platform::Error* error);
