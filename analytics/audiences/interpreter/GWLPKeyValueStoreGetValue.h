// GWLPKeyValueStoreGetValue: "getValue"(key, default) of a key-value module.
// Exactly two arguments (error 9), evaluated; the key is the first one's
// text (its conversion error ends the call). A value the lookup has comes
// back as a new text; a missing one answers the default unchanged, of
// whatever type.
#pragma once

#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPKeyValueStore.h"

class GWLPKeyValueStoreGetValue : public GWLPFunctionValue {
 public:
  explicit GWLPKeyValueStoreGetValue(GWLPGetValueBlock getValueBlock);

  GWLPValueRef invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr) override;

 private:
  GWLPGetValueBlock getValueBlock_;
};
