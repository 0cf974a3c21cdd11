// GWLPObjectManager: the collector of one runtime, and the keeper of that
// runtime's per-run limits.
//
// It observes every map, array and function a run creates through weak
// references, never owning them; collectGarbage marks what its roots reach
// and sweeps the rest, whose dropped contents free unreachable cycles. It
// also holds the run's private counters: instructions (error 18 beyond the
// limit), nested evaluations and script calls, and the heap budget (error 19).
// No script can reach these counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"
#include "analytics/audiences/interpreter/GWLPScope.h"

class GWLPArrayValue;
class GWLPFunctionValue;
class GWLPMapValue;

class GWLPObjectManager : public std::enable_shared_from_this<GWLPObjectManager> {
 public:
  GWLPObjectManager() = default;
  GWLPObjectManager(const GWLPObjectManager&) = delete;
  GWLPObjectManager& operator=(const GWLPObjectManager&) = delete;

  void addRoot(const std::shared_ptr<GWLPMarkable>& root);
  void addObject(const GWLPValueRef& value);
  // Marks from the roots, then sweeps every tracked value.
  void collectGarbage();
  void mark();
  void sweep();
  // Drops the contents of every tracked value, reachable or not (teardown).
  void releaseAll();
  std::vector<GWLPValueRef> trackedObjects() const;
  std::vector<std::shared_ptr<GWLPMarkable>> roots() const;

  // Factories: each registers the new value with the manager of the given
  // scope (for functions, of the defining scope); without a manager the value
  // stays untracked.
  static std::shared_ptr<GWLPFunctionValue> functionValueWithFunctionName(std::string functionName,
                                                                          std::vector<std::string> parameterNames,
                                                                          GWLPValueList statements,
                                                                          const GWLPScopeRef& definingScope);
  static std::shared_ptr<GWLPMapValue> mapValueWithScope(const GWLPScopeRef& scope);
  static std::shared_ptr<GWLPArrayValue> arrayValueWithScope(const GWLPScopeRef& scope);
  // None, with error 19, beyond the slot cap or the heap budget.
  // Admits a new array of `count` slots made in the run of `scope`: at most
  // the slot cap, its slots charged to the heap budget; else error 19.
  static bool reserveArray(size_t count, const GWLPScopeRef& scope, platform::Error* error = nullptr);
  // The same for a run whose manager the caller holds (none charges nothing
  // beyond the slot cap).
  static bool reserveArray(size_t count, GWLPObjectManager* manager, platform::Error* error = nullptr) {
    if (count > kGWLPMaxArraySlots) return refuseResource(error);
    return !manager || manager->reserveHeap(kGWLPContainerCost + count * kGWLPSlotCost, error);
  }
  static std::shared_ptr<GWLPArrayValue> arrayValueWithArray(GWLPValueList values, const GWLPScopeRef& scope,
                                                             platform::Error* error = nullptr);
  static std::shared_ptr<GWLPArrayValue> subarrayWithArray(const GWLPArrayValue& array, size_t location,
                                                           size_t length, const GWLPScopeRef& scope,
                                                           platform::Error* error = nullptr);

  // Admits a statementList command of `count` statements whose array is not
  // built: charged as evaluating it charges, in the same order (its
  // instruction, one nesting level entered and left, its array's slots);
  // false with the error where that evaluation would fail.
  bool admitStatementList(size_t count, platform::Error* error) {
    if (instructionCount_ >= kGWLPInstructionLimit || heapUsed_ > kGWLPHeapBudgetBytes) {
      refuseInstruction(error);
      return false;
    }
    ++instructionCount_;
    if (evaluationDepth_ >= kGWLPMaxEvaluationDepth) return refuseResource(error);
    return reserveArray(count, this, error);
  }

  // Per-run limits.
  // Counts one evaluation: the new count, or error 18 beyond the limit (the
  // count then stays put) and error 19 once the heap budget is spent.
  int64_t countInstruction(platform::Error* error = nullptr) {
    if (instructionCount_ < kGWLPInstructionLimit && heapUsed_ <= kGWLPHeapBudgetBytes) return ++instructionCount_;
    return refuseInstruction(error);
  }
  int64_t instructionCount() const { return instructionCount_; }
  // Starts a new run: instructions, heap and work budgets and log lines from zero.
  void resetRunBudget();
  // Takes `bytes` from the heap budget, or error 19 when it does not suffice.
  bool reserveHeap(size_t bytes, platform::Error* error = nullptr) {
    if (bytes > kGWLPHeapBudgetBytes || heapUsed_ > kGWLPHeapBudgetBytes - bytes) return refuseResource(error);
    heapUsed_ += bytes;
    return true;
  }
  // Records an allocation too small to fail on its own; a spent budget fails
  // the next counted instruction.
  void noteAllocation(size_t bytes);
  size_t heapUsed() const { return heapUsed_; }
  // Takes `steps` element steps of native work (searches, sorts, joins,
  // copies) from the run's work budget, or error 19 when it is spent.
  bool chargeWork(size_t steps, platform::Error* error = nullptr) {
    if (steps > kGWLPWorkBudgetSteps || workUsed_ > kGWLPWorkBudgetSteps - steps) return refuseResource(error);
    workUsed_ += steps;
    return true;
  }
  // Takes one line from the run's budget of script log lines; false once
  // kGWLPMaxLogLinesPerRun lines were taken.
  bool takeLogLine();

  // Scoped depth counters: error 19 when entering would pass the bound. A
  // guard without a manager does nothing.
  class DepthGuard {
   public:
    DepthGuard(int* depth, int limit, platform::Error* error) : depth_(depth) {
      if (!depth_) return;
      if (*depth_ >= limit) {
        refuse(error);
        return;
      }
      ++*depth_;
      entered_ = true;
    }
    ~DepthGuard() {
      if (entered_) --*depth_;
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    static void refuse(platform::Error* error);

    int* depth_;
    bool entered_ = false;
  };
  class EvaluationGuard : public DepthGuard {
   public:
    EvaluationGuard(GWLPObjectManager* manager, platform::Error* error)
        : DepthGuard(manager ? &manager->evaluationDepth_ : nullptr, kGWLPMaxEvaluationDepth, error) {}
  };
  class CallGuard : public DepthGuard {
   public:
    CallGuard(GWLPObjectManager* manager, platform::Error* error)
        : DepthGuard(manager ? &manager->callDepth_ : nullptr, kGWLPMaxCallDepth, error) {}
  };

 private:
  void compact();
  void appendTrackedObjects(std::vector<GWLPValueRef>& alive) const;
  void appendRoots(std::vector<std::shared_ptr<GWLPMarkable>>& alive) const;
  // countInstruction past a limit: error 18, or 19 once the heap budget is
  // spent; the count stays put.
  int64_t refuseInstruction(platform::Error* error);
  // Sets error 19 and answers false.
  static bool refuseResource(platform::Error* error);

  std::vector<std::weak_ptr<GWLPMarkable>> roots_;
  std::vector<std::weak_ptr<GWLPRuntimeValue>> objects_;
  size_t compactedSize_ = 0;
  // Emptied work lists of the last collection, kept for the next.
  std::vector<std::shared_ptr<GWLPMarkable>> spareRoots_;
  std::vector<GWLPMarkable*> sparePending_;
  std::vector<GWLPValueRef> spareObjects_;

  int64_t instructionCount_ = 0;
  int evaluationDepth_ = 0;
  int callDepth_ = 0;
  size_t heapUsed_ = 0;
  size_t workUsed_ = 0;
  size_t logLines_ = 0;
};

// Counts one instruction in the run that `scope` belongs to (through its
// object manager): the new count, or error 18 past the limit. A scope outside
// any runtime counts nothing and answers 0.
inline int64_t GWLPCountInstruction(const GWLPScopeRef& scope, platform::Error* error = nullptr) {
  GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr;
  return manager ? manager->countInstruction(error) : 0;
}
// Takes `steps` of native work from the run of `scope` (error 19 when spent).
// A scope outside any runtime is not charged.
inline bool GWLPChargeWork(const GWLPScopeRef& scope, size_t steps, platform::Error* error = nullptr) {
  GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr;
  return !manager || manager->chargeWork(steps, error);
}
// Admits a text of `bytes` that a command or method is about to build: at
// most kGWLPMaxTextBytes, charged to the heap budget of the run of `scope`;
// else error 19.
bool GWLPReserveText(const GWLPScopeRef& scope, size_t bytes, platform::Error* error = nullptr);
// Takes `bytes` from the heap budget of the run of `scope` (error 19 when it
// does not suffice). A scope outside any runtime is not charged.
bool GWLPReserveHeap(const GWLPScopeRef& scope, size_t bytes, platform::Error* error = nullptr);
// Charges a native value the run hands to its host (an event parameter, a
// created event's parameters): a slot per value and its texts' bytes, taken
// from the heap budget of the run of `scope` (error 19 when it does not
// suffice).
bool GWLPReserveNativeValue(const GWLPScopeRef& scope, const platform::Object& value,
                            platform::Error* error = nullptr);
bool GWLPReserveNativeValue(const GWLPScopeRef& scope, const platform::Dictionary& value,
                            platform::Error* error = nullptr);
// Takes one log line from the run of `scope`; false once the run has logged
// kGWLPMaxLogLinesPerRun lines. A scope outside any runtime always may log.
bool GWLPTakeLogLine(const GWLPScopeRef& scope);
// Charges one new property or name (and its key's bytes) to the heap budget
// of the run of `scope`; else error 19.
bool GWLPReserveProperty(const GWLPScopeRef& scope, size_t keyBytes, platform::Error* error = nullptr);
