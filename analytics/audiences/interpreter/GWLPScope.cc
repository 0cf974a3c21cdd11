#include "analytics/audiences/interpreter/GWLPScope.h"

#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueAllocation.h"

GWLPScope::GWLPScope(GWLPScopeRef parentScope)
    : parentScope_(std::move(parentScope)), objectManager_(parentScope_ ? parentScope_->objectManager_ : nullptr) {}

GWLPScope::~GWLPScope() { GWLPDeferRelease(std::move(parentScope_)); }

GWLPScopeRef GWLPScope::createChildScope() { return GWLPMakeShared<GWLPScope>(shared_from_this()); }

bool GWLPScope::hasName(const std::string& name) const {
  for (const GWLPScope* scope = this; scope; scope = scope->parentScope_.get()) {
    if (scope->contents_.hasName(name)) return true;
  }
  return false;
}

void GWLPScope::addValue(GWLPValueRef value, const std::string& name) { contents_.setValue(std::move(value), name); }

void GWLPScope::addImmutableValue(GWLPValueRef value, const std::string& name) {
  contents_.setImmutableValue(std::move(value), name);
}

void GWLPScope::setValue(GWLPValueRef value, const std::string& name) {
  // The nearest scope that declares the name takes it, else this one; a
  // frozen scope on the way (this one included) stops the assignment.
  GWLPScope* target = nullptr;
  for (GWLPScope* scope = this; scope; scope = scope->parentScope_.get()) {
    if (scope->contents_.hasName(name)) {
      target = scope;
      break;
    }
  }
  GWLPScope* last = target ? target : this;
  for (GWLPScope* scope = this;; scope = scope->parentScope_.get()) {
    if (scope->contents_.isImmutable()) return;
    if (scope == last) break;
  }
  last->contents_.setValue(std::move(value), name);
}

GWLPValueRef GWLPScope::valueForName(const std::string& name) const {
  for (const GWLPScope* scope = this; scope; scope = scope->parentScope_.get()) {
    if (const GWLPValueRef* value = scope->contents_.find(name)) return *value;
  }
  return GWLPUndefinedValue::sharedInstance();
}

void GWLPScope::setObjectManager(std::shared_ptr<GWLPObjectManager> objectManager) {
  ownedObjectManager_ = std::move(objectManager);
  objectManager_ = ownedObjectManager_.get();
}

GWLPObjectManager* GWLPScope::findObjectManager() const {
  for (const GWLPScope* scope = parentScope_.get(); scope; scope = scope->parentScope_.get()) {
    if (scope->objectManager_) {
      objectManager_ = scope->objectManager_;
      return objectManager_;
    }
  }
  return nullptr;
}

void GWLPScope::markInto(GWLPMarkStack& stack) {
  for (GWLPScope* scope = this; scope; scope = scope->parentScope_.get()) {
    if (!stack.visitOnce(scope->lastMarkPass_)) return;
    scope->contents_.markValuesInto(stack);
  }
}
