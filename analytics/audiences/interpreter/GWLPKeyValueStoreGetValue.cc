#include "analytics/audiences/interpreter/GWLPKeyValueStoreGetValue.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPKeyValueStoreGetValue::GWLPKeyValueStoreGetValue(GWLPGetValueBlock getValueBlock)
    : GWLPFunctionValue("getValue"), getValueBlock_(std::move(getValueBlock)) {}

GWLPValueRef GWLPKeyValueStoreGetValue::invokeWithArguments(const GWLPValueList& arguments,
                                                            const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  const GWLPValueRef& undefined = GWLPUndefinedValue::sharedInstance();
  if (!GWLPCheckArgumentCount(arguments, 2, out)) return undefined;
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return undefined;
  std::string key = values[0]->stringValueOrError(out);
  if (out.failed()) return undefined;
  std::optional<std::string> value = getValueBlock_ ? getValueBlock_(key) : std::nullopt;
  if (!value) return values[1];
  return GWLPStringValue::make(std::move(*value));
}
