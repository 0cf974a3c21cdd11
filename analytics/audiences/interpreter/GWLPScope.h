// GWLPScope: one lexical scope of a run, a property map of declared names and
// a parent. Lookup and assignment walk the parent chain; the runtime's
// initial scope carries the object manager that every descendant answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPMarkable.h"
#include "analytics/audiences/interpreter/GWLPPropertyMap.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPObjectManager;

class GWLPScope : public GWLPMarkable, public std::enable_shared_from_this<GWLPScope> {
 public:
  explicit GWLPScope(GWLPScopeRef parentScope = nullptr);
  ~GWLPScope() override;
  GWLPScope(const GWLPScope&) = delete;
  GWLPScope& operator=(const GWLPScope&) = delete;

  GWLPScopeRef createChildScope();
  const GWLPScopeRef& parentScope() const { return parentScope_; }

  // Declared in this scope or an ancestor.
  bool hasName(const std::string& name) const;
  // Declares (or overwrites) `name` here; ignored when this scope is frozen.
  void addValue(GWLPValueRef value, const std::string& name);
  // Declares `name` here as a constant.
  void addImmutableValue(GWLPValueRef value, const std::string& name);
  // Assignment: to the nearest scope that declares the name, else declares it
  // here. Ignored when the scope that would take it is frozen or the name is
  // immutable there.
  void setValue(GWLPValueRef value, const std::string& name);
  // The nearest declaration's value, or the shared undefined value.
  GWLPValueRef valueForName(const std::string& name) const;
  void makeImmutable() { contents_.makeImmutable(); }

  // Installs the manager that this scope owns and its descendants answer.
  void setObjectManager(std::shared_ptr<GWLPObjectManager> objectManager);
  // This scope's manager, else that of its nearest ancestor with one, or
  // none. A plain pointer: the scope that owns the manager is this one or an
  // ancestor, which this scope keeps alive through its parent chain.
  GWLPObjectManager* objectManager() const {
    return objectManager_ ? objectManager_ : findObjectManager();
  }

  const GWLPPropertyMap& contents() const { return contents_; }
  // Drops every declaration (the runtime's teardown, and a loop scope used again).
  void clearContents() { contents_.clear(); }
  // Drops every declaration but `name`, declared here (as a constant when
  // `immutable`) with `value`: a loop scope used again for the next item.
  void redeclareOnly(GWLPValueRef value, const std::string& name, bool immutable) {
    contents_.resetTo(std::move(value), name, immutable);
  }

  // Marks this scope's values and those of its parent chain.
  void markInto(GWLPMarkStack& stack) override;

 private:
  GWLPObjectManager* findObjectManager() const;

  GWLPScopeRef parentScope_;
  GWLPPropertyMap contents_;
  std::shared_ptr<GWLPObjectManager> ownedObjectManager_;
  // The answer of objectManager(), remembered once found: managers are
  // installed before a run starts and never removed.
  mutable GWLPObjectManager* objectManager_ = nullptr;
  // The last marking pass that visited this scope.
  uint64_t lastMarkPass_ = 0;
};
