// Argument operations used by every command evaluator, native function and
// method handler.
#pragma once

#include <cstddef>
#include <new>
#include <span>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

// A command's arguments as the handler sees them: the statement's own
// argument list, or the values evaluated from it.
using GWLPValueSpan = std::span<const GWLPValueRef>;

// The evaluated arguments of one command. Up to four values live inside the
// buffer itself, so that the common command evaluates its arguments without
// allocating; more move to the heap. Only the slots in use are ever
// constructed or destroyed.
class GWLPValueBuffer {
 public:
  static constexpr size_t kInlineCount = 4;

  GWLPValueBuffer() {}
  ~GWLPValueBuffer() {
    if (!spilled_) {
      for (size_t i = 0; i < size_; ++i) inline_[i].~GWLPValueRef();
    }
  }
  GWLPValueBuffer(const GWLPValueBuffer&) = delete;
  GWLPValueBuffer& operator=(const GWLPValueBuffer&) = delete;

  // Prepares for `count` values.
  void reserve(size_t count) {
    if (count > kInlineCount) spill(count);
  }
  void push_back(GWLPValueRef value) {
    if (!spilled_ && size_ < kInlineCount) {
      new (&inline_[size_]) GWLPValueRef(std::move(value));
      ++size_;
      return;
    }
    pushBeyondInline(std::move(value));
  }
  size_t size() const { return spilled_ ? heap_.size() : size_; }
  GWLPValueSpan span() const { return spilled_ ? GWLPValueSpan(heap_) : GWLPValueSpan(inline_, size_); }
  GWLPValueList list() const {
    GWLPValueSpan values = span();
    return GWLPValueList(values.begin(), values.end());
  }

 private:
  // Moves the values to the heap, with room for `count`.
  void spill(size_t count);
  void pushBeyondInline(GWLPValueRef value);

  union {
    GWLPValueRef inline_[kInlineCount];
  };
  size_t size_ = 0;
  bool spilled_ = false;
  GWLPValueList heap_;
};

// Evaluates each value in order in `scope`; stops right after the first
// evaluation that fails, answering the results so far (the failing one
// included) with that error.
GWLPValueList GWLPEvaluateArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                    platform::Error* error = nullptr);
// The same into `values`; false on failure.
bool GWLPEvaluateArgumentsInto(GWLPValueSpan arguments, const GWLPScopeRef& scope, GWLPValueBuffer& values,
                               platform::Error* error = nullptr);

// Exactly, at least or at most `count` elements; else error 9 and false.
bool GWLPCheckArgumentCount(GWLPValueSpan arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckMinimumArgumentCount(GWLPValueSpan arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckMaximumArgumentCount(GWLPValueSpan arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckMinimumArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error = nullptr);
bool GWLPCheckMaximumArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error = nullptr);
