#include "analytics/audiences/interpreter/GWLPRuntime.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPRequire.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPRuntimePlatform.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

GWLPRuntime::GWLPRuntime()
    : initialScope_(std::make_shared<GWLPScope>()),
      globalScope_(initialScope_->createChildScope()),
      apiProvider_(std::make_shared<GWLPDynamicProvider>()),
      objectManager_(std::make_shared<GWLPObjectManager>()) {
  objectManager_->addRoot(initialScope_);
  objectManager_->addRoot(globalScope_);
  initialScope_->setObjectManager(objectManager_);

  auto require = std::make_shared<GWLPRequire>(apiProvider_);
  objectManager_->addObject(require);
  globalScope_->addValue(require, "require");
  apiProvider_->setModuleCreator([] { return std::make_shared<GWLPRuntimePlatform>(); }, kGWLPPlatformModuleName);
  resetInstructionCount();
}

GWLPRuntime::~GWLPRuntime() {
  objectManager_->releaseAll();
  globalScope_->clearContents();
  initialScope_->clearContents();
}

void GWLPRuntime::setModuleCreator(GWLPModuleCreator creator, const std::string& name) {
  apiProvider_->setModuleCreator(std::move(creator), name);
}

GWLPValueRef GWLPRuntime::executeStatements(const std::vector<GWLPRuntimeEntity>& entities,
                                            platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPValueRef result = GWLPUndefinedValue::sharedInstance();
  for (const auto& entity : entities) {
    GWLPValueRef statement = GWLPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(entity, out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    result = GWLPEvaluator::evaluateStatement(statement, globalScope_, out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  }
  return result;
}

GWLPScopeRef GWLPRuntime::getRunScope() { return globalScope_->createChildScope(); }

int32_t GWLPRuntime::getInstructionCount(platform::Error*) const {
  return GWLPToInt32(static_cast<double>(objectManager_->instructionCount()));
}

void GWLPRuntime::resetInstructionCount() { objectManager_->resetRunBudget(); }

void GWLPRuntime::addGarbageCollectionRoot(const std::shared_ptr<GWLPMarkable>& root) {
  objectManager_->addRoot(root);
}

void GWLPRuntime::collectGarbage() { objectManager_->collectGarbage(); }
