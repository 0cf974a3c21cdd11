#include "analytics/audiences/interpreter/GWLPKeyValueStore.h"

#include "analytics/audiences/interpreter/GWLPKeyValueStoreGetValue.h"

GWLPKeyValueStore::GWLPKeyValueStore(std::string functionName, GWLPGetValueBlock getValueBlock)
    : GWLPFunctionValue(std::move(functionName)) {
  setValue(std::make_shared<GWLPKeyValueStoreGetValue>(std::move(getValueBlock)), "getValue");
}
