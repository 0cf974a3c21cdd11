// Argument operations used by every command evaluator, native function and
// method handler.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

// A command's arguments as the handler sees them: the statement's own
// argument list, or the values evaluated from it.
using GWLPValueSpan = std::span<const GWLPValueRef>;

// The evaluated arguments of one command. Up to four values live inside the
// buffer itself, so that the common command evaluates its arguments without
// allocating; more move to the heap.
class GWLPValueBuffer {
 public:
  static constexpr size_t kInlineCount = 4;

  GWLPValueBuffer() = default;
  GWLPValueBuffer(const GWLPValueBuffer&) = delete;
  GWLPValueBuffer& operator=(const GWLPValueBuffer&) = delete;

  // Prepares for `count` values.
  void reserve(size_t count) {
    if (count > kInlineCount) spill(count);
  }
  void push_back(GWLPValueRef value) {
    if (!spilled_ && size_ < kInlineCount) {
      inline_[size_++] = std::move(value);
      return;
    }
    if (!spilled_) spill(size_ + 1);
    heap_.push_back(std::move(value));
  }
  size_t size() const { return spilled_ ? heap_.size() : size_; }
  GWLPValueSpan span() const { return spilled_ ? GWLPValueSpan(heap_) : GWLPValueSpan(inline_.data(), size_); }
  GWLPValueList list() const {
    GWLPValueSpan values = span();
    return GWLPValueList(values.begin(), values.end());
  }

 private:
  void spill(size_t count) {
    if (spilled_) return heap_.reserve(count);
    heap_.reserve(count);
    for (size_t i = 0; i < size_; ++i) heap_.push_back(std::move(inline_[i]));
    size_ = 0;
    spilled_ = true;
  }

  std::array<GWLPValueRef, kInlineCount> inline_;
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
