// Deeply nested programs made of the real commands end with error 19 at the
// evaluation-depth bound, on half the stack the library's queue threads get
// (8 MB): the heaviest nesting needs about 3 MB under the address sanitizer
// and under 1 MB in an optimised build.
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>

#include "ScriptBuilders.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"

using namespace script;

namespace {

// Runs `body` on a thread whose stack has `bytes`.
void onThreadWithStack(size_t bytes, std::function<void()> body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, bytes);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(GWLPEvaluationDepthTest, NestedCommandsStopAtTheBoundWithinTheStack) {
  const size_t stack = 4u << 20;
  const int depth = kGWLPMaxEvaluationDepth + 10;
  struct Shape {
    const char* name;
    std::function<GWLPValueRef(GWLPValueRef)> wrap;
  } shapes[] = {
      {"add", [](GWLPValueRef inner) { return C(0, {N(1), inner}); }},
      {"if", [](GWLPValueRef inner) { return C(22, {B(true), inner}); }},
      {"block", [](GWLPValueRef inner) { return C(53, {inner}); }},
      {"callMethod", [](GWLPValueRef inner) { return Call(S("a"), "concat", {inner}); }},
      {"logicalAnd", [](GWLPValueRef inner) { return C(1, {B(true), inner}); }},
      {"switch", [](GWLPValueRef inner) { return C(38, {N(1), List({N(1)}), List({inner})}); }},
      {"forOf", [](GWLPValueRef inner) { return C(66, {S("v"), S("a"), List({inner})}); }},
      {"forLet", [](GWLPValueRef inner) {
         return C(63, {List({}), B(true), Undefined(), List({inner})});
       }},
  };
  for (const auto& shape : shapes) {
    GWLPValueRef program = N(1);
    for (int i = 0; i < depth; ++i) program = shape.wrap(program);
    std::string answer;
    onThreadWithStack(stack, [&] {
      GWLPRuntime runtime;
      answer = script::Run(runtime, {program});
    });
    EXPECT_EQ(answer, "error 19") << shape.name;
  }
}

}  // namespace
