// GWLPControlValue: the result of break, continue and return, which ends the
// statement list that meets it. Break and continue are shared instances.
#pragma once

#include <string>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

inline constexpr const char* kGWLPControlTypeBreak = "break";
inline constexpr const char* kGWLPControlTypeContinue = "continue";
inline constexpr const char* kGWLPControlTypeReturn = "return";

class GWLPControlValue final : public GWLPRuntimeValue {
 public:
  // `data` none means undefined.
  GWLPControlValue(std::string type, GWLPValueRef data);
  ~GWLPControlValue() override;

  static const GWLPValueRef& breakValue();
  static const GWLPValueRef& continueValue();
  static GWLPValueRef returnValueWithData(GWLPValueRef data);
  // The data of `result`, a return value. A return value that nothing else
  // holds is kept (emptied) for the next return on this thread, so that a
  // function call makes no new one.
  static GWLPValueRef takeReturnData(GWLPValueRef result);

  const std::string& type() const { return type_; }
  const GWLPValueRef& data() const { return data_; }

  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  std::string type_;
  GWLPValueRef data_;
};
