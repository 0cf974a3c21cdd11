// GWLPStatementValue: one program statement, a command or function name and
// its argument values (literals and nested statements, evaluated only when the
// statement runs). Immutable after conversion and shared by every run.
#pragma once

#include <string>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPStatementValue final : public GWLPRuntimeValue {
 public:
  GWLPStatementValue(std::string functionName, GWLPValueList arguments)
      : functionName_(std::move(functionName)), arguments_(std::move(arguments)) {}
  ~GWLPStatementValue() override;

  const std::string& functionName() const { return functionName_; }
  const GWLPValueList& arguments() const { return arguments_; }

  GWLPValueKind valueKind() const override { return GWLPValueKind::Statement; }
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  std::string functionName_;
  GWLPValueList arguments_;
};
