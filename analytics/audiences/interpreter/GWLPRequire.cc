#include "analytics/audiences/interpreter/GWLPRequire.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPRequire::GWLPRequire(std::shared_ptr<GWLPDynamicProvider> provider)
    : GWLPFunctionValue("require"), provider_(std::move(provider)) {}

GWLPValueRef GWLPRequire::invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                              platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(arguments, 1, out)) return GWLPUndefinedValue::sharedInstance();
  GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  std::string name = values[0]->stringValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();

  auto cached = modules_.find(name);
  if (cached != modules_.end()) return cached->second;
  GWLPValueRef module = provider_ ? provider_->moduleForName(name, out) : GWLPUndefinedValue::sharedInstance();
  if (out.failed() || !module) return GWLPUndefinedValue::sharedInstance();
  // Modules are functions whose properties scripts may change: the collector
  // tracks them like any value the run made. A name without a creator is
  // cached as undefined.
  auto manager = scope ? scope->objectManager() : nullptr;
  if (manager && (module->isFunction() || module->isMap() || module->isArray())) manager->addObject(module);
  modules_[name] = module;
  return module;
}

void GWLPRequire::markInto(GWLPMarkStack& stack) {
  bool wasMarked = isMarked();
  GWLPFunctionValue::markInto(stack);
  if (wasMarked) return;
  for (const auto& [name, module] : modules_) stack.push(module.get());
}

void GWLPRequire::releaseContents() {
  GWLPFunctionValue::releaseContents();
  std::map<std::string, GWLPValueRef> modules;
  modules.swap(modules_);
  for (auto& [name, module] : modules) GWLPDeferRelease(std::move(module));
}
