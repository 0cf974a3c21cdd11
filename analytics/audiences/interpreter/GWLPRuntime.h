// GWLPRuntime: one script environment. It owns the initial scope (which
// carries the object manager), the global scope below it (which holds
// "require" and the program's top-level declarations), the module registry
// and the collector, and keeps the run's instruction count where no script
// can reach it. One thread uses a runtime at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPDynamicProvider.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntity.h"
#include "analytics/audiences/interpreter/GWLPScope.h"

class GWLPRuntime {
 public:
  // Scopes, collector and provider; "require" in the global scope; the
  // "internal.platform" module; the instruction count at 0.
  GWLPRuntime();
  // Drops the contents of every value the runtime's runs made, so that
  // cycles among them (a global function and the global scope) are freed.
  ~GWLPRuntime();
  GWLPRuntime(const GWLPRuntime&) = delete;
  GWLPRuntime& operator=(const GWLPRuntime&) = delete;

  // The version of the script runtime: 0.
  static int64_t runtimeVersion() { return 0; }

  void setModuleCreator(GWLPModuleCreator creator, const std::string& name);
  // Converts and evaluates each entity in order in the global scope; the
  // first failure stops the list. A control value does not stop it. The
  // value of the last statement (undefined for none).
  GWLPValueRef executeStatements(const std::vector<GWLPRuntimeEntity>& entities, platform::Error* error = nullptr);
  // A new child of the global scope.
  GWLPScopeRef getRunScope();
  // The count converted as GWLPToInt32 does.
  int32_t getInstructionCount(platform::Error* error = nullptr) const;
  // Starts a new run: the instruction count and the heap and work budgets
  // from zero.
  void resetInstructionCount();

  const GWLPScopeRef& initialScope() const { return initialScope_; }
  const GWLPScopeRef& globalScope() const { return globalScope_; }
  const std::shared_ptr<GWLPObjectManager>& objectManager() const { return objectManager_; }

  void addGarbageCollectionRoot(const std::shared_ptr<GWLPMarkable>& root);
  void collectGarbage();

 private:
  GWLPScopeRef initialScope_;
  GWLPScopeRef globalScope_;
  std::shared_ptr<GWLPDynamicProvider> apiProvider_;
  std::shared_ptr<GWLPObjectManager> objectManager_;
};
