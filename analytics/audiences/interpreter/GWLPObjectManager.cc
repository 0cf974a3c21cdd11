#include "analytics/audiences/interpreter/GWLPObjectManager.h"

#include <algorithm>
#include <cmath>

#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPValueAllocation.h"

void GWLPObjectManager::addRoot(const std::shared_ptr<GWLPMarkable>& root) {
  if (root) roots_.push_back(root);
}

void GWLPObjectManager::addObject(const GWLPValueRef& value) {
  if (!value) return;
  objects_.push_back(value);
  // Weak references to freed values still hold their memory blocks: drop
  // them whenever the list has doubled since the last compaction.
  if (objects_.size() >= 2 * compactedSize_ + 1024) compact();
}

void GWLPObjectManager::compact() {
  std::erase_if(objects_, [](const std::weak_ptr<GWLPRuntimeValue>& object) { return object.expired(); });
  compactedSize_ = objects_.size();
}

void GWLPObjectManager::collectGarbage() {
  mark();
  sweep();
}

namespace {

// Hands a work list back for the next collection, unless a large run left it
// too big to keep.
template <typename List>
void keepWorkList(List& list, List& spare) {
  constexpr size_t kKeptCapacity = 1024;
  list.clear();
  if (list.capacity() <= kKeptCapacity) spare = std::move(list);
}

}  // namespace

// The work lists of a collection are kept between collections, so that the
// collection after every event allocates nothing. A collection that starts
// while another runs (from a destructor) finds them taken and makes its own.
void GWLPObjectManager::mark() {
  std::vector<std::shared_ptr<GWLPMarkable>> alive = std::move(spareRoots_);
  appendRoots(alive);
  GWLPMarkStack stack(std::move(sparePending_));
  for (const auto& root : alive) stack.push(root.get());
  stack.drain();
  std::vector<GWLPMarkable*> pending = stack.takePending();
  keepWorkList(pending, sparePending_);
  keepWorkList(alive, spareRoots_);
}

void GWLPObjectManager::sweep() {
  std::vector<GWLPValueRef> alive = std::move(spareObjects_);
  appendTrackedObjects(alive);
  for (const auto& object : alive) object->sweep();
  keepWorkList(alive, spareObjects_);
  compact();
  std::erase_if(roots_, [](const std::weak_ptr<GWLPMarkable>& root) { return root.expired(); });
}

void GWLPObjectManager::releaseAll() {
  std::vector<GWLPValueRef> alive = trackedObjects();
  for (const auto& object : alive) object->releaseContents();
  for (auto& object : alive) GWLPDeferRelease(std::move(object));
  objects_.clear();
  compactedSize_ = 0;
}

std::vector<GWLPValueRef> GWLPObjectManager::trackedObjects() const {
  std::vector<GWLPValueRef> alive;
  appendTrackedObjects(alive);
  return alive;
}

void GWLPObjectManager::appendTrackedObjects(std::vector<GWLPValueRef>& alive) const {
  alive.reserve(alive.size() + objects_.size());
  for (const auto& weak : objects_) {
    if (auto object = weak.lock()) alive.push_back(std::move(object));
  }
}

std::vector<std::shared_ptr<GWLPMarkable>> GWLPObjectManager::roots() const {
  std::vector<std::shared_ptr<GWLPMarkable>> alive;
  appendRoots(alive);
  return alive;
}

void GWLPObjectManager::appendRoots(std::vector<std::shared_ptr<GWLPMarkable>>& alive) const {
  alive.reserve(alive.size() + roots_.size());
  for (const auto& weak : roots_) {
    if (auto root = weak.lock()) alive.push_back(std::move(root));
  }
}

std::shared_ptr<GWLPFunctionValue> GWLPObjectManager::functionValueWithFunctionName(
    std::string functionName, std::vector<std::string> parameterNames, GWLPValueList statements,
    const GWLPScopeRef& definingScope) {
  auto function = std::make_shared<GWLPFunctionValue>(std::move(functionName), std::move(parameterNames),
                                                      std::move(statements), definingScope);
  if (auto manager = definingScope ? definingScope->objectManager() : nullptr) {
    manager->noteAllocation(kGWLPContainerCost);
    manager->addObject(function);
  }
  return function;
}

std::shared_ptr<GWLPMapValue> GWLPObjectManager::mapValueWithScope(const GWLPScopeRef& scope) {
  auto map = GWLPMakeShared<GWLPMapValue>();
  if (auto manager = scope ? scope->objectManager() : nullptr) {
    manager->noteAllocation(kGWLPContainerCost);
    manager->addObject(map);
  }
  return map;
}

std::shared_ptr<GWLPArrayValue> GWLPObjectManager::arrayValueWithScope(const GWLPScopeRef& scope) {
  auto array = GWLPMakeShared<GWLPArrayValue>();
  if (auto manager = scope ? scope->objectManager() : nullptr) {
    manager->noteAllocation(kGWLPContainerCost);
    array->setObjectManager(manager);
    manager->addObject(array);
  }
  return array;
}

bool GWLPObjectManager::reserveArray(size_t count, const GWLPScopeRef& scope, platform::Error* error) {
  return reserveArray(count, scope ? scope->objectManager() : nullptr, error);
}

std::shared_ptr<GWLPArrayValue> GWLPObjectManager::arrayValueWithArray(GWLPValueList values,
                                                                       const GWLPScopeRef& scope,
                                                                       platform::Error* error) {
  if (!reserveArray(values.size(), scope, error)) return nullptr;
  GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr;
  auto array = GWLPMakeShared<GWLPArrayValue>(std::move(values));
  if (manager) {
    array->setObjectManager(manager);
    manager->addObject(array);
  }
  return array;
}

std::shared_ptr<GWLPArrayValue> GWLPObjectManager::subarrayWithArray(const GWLPArrayValue& array, size_t location,
                                                                     size_t length, const GWLPScopeRef& scope,
                                                                     platform::Error* error) {
  auto sub = array.subarrayWithRange(location, length);
  return arrayValueWithArray(sub->takeElements(), scope, error);
}

int64_t GWLPObjectManager::refuseInstruction(platform::Error* error) {
  if (instructionCount_ >= kGWLPInstructionLimit) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorInstructionLimit));
    return instructionCount_ + 1;
  }
  if (heapUsed_ > kGWLPHeapBudgetBytes) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
    return instructionCount_ + 1;
  }
  return ++instructionCount_;
}

void GWLPObjectManager::resetRunBudget() {
  instructionCount_ = 0;
  heapUsed_ = 0;
  workUsed_ = 0;
  logLines_ = 0;
}

bool GWLPObjectManager::takeLogLine() {
  if (logLines_ >= kGWLPMaxLogLinesPerRun) return false;
  ++logLines_;
  return true;
}

bool GWLPObjectManager::refuseResource(platform::Error* error) {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
  return false;
}

void GWLPObjectManager::noteAllocation(size_t bytes) {
  heapUsed_ = bytes > SIZE_MAX - heapUsed_ ? SIZE_MAX : heapUsed_ + bytes;
}

void GWLPObjectManager::DepthGuard::refuse(platform::Error* error) {
  platform::setError(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
}

bool GWLPReserveText(const GWLPScopeRef& scope, size_t bytes, platform::Error* error) {
  if (bytes > kGWLPMaxTextBytes) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
    return false;
  }
  auto manager = scope ? scope->objectManager() : nullptr;
  return !manager || manager->reserveHeap(bytes, error);
}

bool GWLPReserveHeap(const GWLPScopeRef& scope, size_t bytes, platform::Error* error) {
  auto manager = scope ? scope->objectManager() : nullptr;
  return !manager || manager->reserveHeap(bytes, error);
}

namespace {

size_t nativeCost(const platform::Object& value);

size_t nativeCost(const platform::Dictionary& dictionary) {
  size_t cost = kGWLPContainerCost;
  for (const auto& [key, element] : dictionary) cost += key.size() + nativeCost(element);
  return cost;
}

size_t nativeCost(const platform::Object& value) {
  size_t cost = kGWLPSlotCost;
  if (const std::string* text = value.stringValue()) {
    cost += text->size();
  } else if (const platform::Array* array = value.arrayValue()) {
    for (const auto& element : *array) cost += nativeCost(element);
  } else if (const platform::Dictionary* dictionary = value.dictionaryValue()) {
    cost += nativeCost(*dictionary);
  }
  return cost;
}

}  // namespace

bool GWLPReserveNativeValue(const GWLPScopeRef& scope, const platform::Object& value, platform::Error* error) {
  return GWLPReserveHeap(scope, nativeCost(value), error);
}

bool GWLPReserveNativeValue(const GWLPScopeRef& scope, const platform::Dictionary& value, platform::Error* error) {
  return GWLPReserveHeap(scope, nativeCost(value), error);
}

bool GWLPTakeLogLine(const GWLPScopeRef& scope) {
  auto manager = scope ? scope->objectManager() : nullptr;
  return !manager || manager->takeLogLine();
}

bool GWLPReserveProperty(const GWLPScopeRef& scope, size_t keyBytes, platform::Error* error) {
  auto manager = scope ? scope->objectManager() : nullptr;
  return !manager || manager->reserveHeap(kGWLPSlotCost + std::min(keyBytes, kGWLPMaxTextBytes), error);
}
