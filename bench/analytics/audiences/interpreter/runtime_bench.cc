// What bounds one event run: the longest run the instruction limit allows,
// a collection over many tracked values, and the array methods whose native
// work the run's work budget bounds.
#include <benchmark/benchmark.h>

#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"

namespace {

// A run that spends its whole instruction budget on literal evaluations.
void BM_FullInstructionBudget(benchmark::State& state) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  GWLPValueRef literal = GWLPNumberValue::make(1);
  for (auto _ : state) {
    runtime.resetInstructionCount();
    platform::Error error;
    for (int64_t i = 0; i <= kGWLPInstructionLimit; ++i) GWLPEvaluator::evaluateStatement(literal, scope, &error);
    benchmark::DoNotOptimize(error);
  }
}
BENCHMARK(BM_FullInstructionBudget)->Unit(benchmark::kMillisecond);

// Collection when half of the tracked maps are garbage.
void BM_CollectGarbage(benchmark::State& state) {
  const int64_t count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    GWLPRuntime runtime;
    auto run = runtime.getRunScope();
    for (int64_t i = 0; i < count; ++i) {
      auto map = GWLPObjectManager::mapValueWithScope(run);
      map->setValue(map, "self");
      if (i % 2 == 0) runtime.globalScope()->addValue(map, "m" + std::to_string(i));
    }
    run.reset();
    state.ResumeTiming();
    runtime.collectGarbage();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_CollectGarbage)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Sorting half the largest array a run may hold, by text, without a
// comparator: about half of a run's work budget.
void BM_SortHalfTheLargestArray(benchmark::State& state) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  GWLPValueList values;
  for (size_t i = 0; i < kGWLPMaxArraySlots / 2; ++i) {
    values.push_back(GWLPStringValue::make(std::to_string((i * 2654435761u) % 1000003)));
  }
  for (auto _ : state) {
    state.PauseTiming();
    runtime.resetInstructionCount();
    auto array = GWLPObjectManager::arrayValueWithArray(values, scope);
    state.ResumeTiming();
    platform::Error error;
    array->applyWithName("sort", {}, scope, &error);
    benchmark::DoNotOptimize(error);
  }
}
BENCHMARK(BM_SortHalfTheLargestArray)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
