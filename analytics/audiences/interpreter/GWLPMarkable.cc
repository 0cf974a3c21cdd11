#include "analytics/audiences/interpreter/GWLPMarkable.h"

#include <atomic>
#include <utility>

namespace {

// Pass numbers are unique in the process (starting at 1: a scope that was
// never visited holds 0), whichever thread marks.
uint64_t nextPass() {
  static std::atomic<uint64_t> lastPass{0};
  return lastPass.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

GWLPMarkStack::GWLPMarkStack() : pass_(nextPass()) { pending_.reserve(32); }

GWLPMarkStack::GWLPMarkStack(std::vector<GWLPMarkable*> storage) : pass_(nextPass()), pending_(std::move(storage)) {
  pending_.clear();
  pending_.reserve(32);
}

void GWLPMarkStack::drain() {
  while (!pending_.empty()) {
    GWLPMarkable* next = pending_.back();
    pending_.pop_back();
    next->markInto(*this);
  }
}

void GWLPMarkable::mark() {
  GWLPMarkStack stack;
  markInto(stack);
  stack.drain();
}

void GWLPDeferRelease(std::shared_ptr<void> reference) {
  // Only the last reference runs a destructor; others just drop their count.
  if (!reference || reference.use_count() > 1) return;
  thread_local std::vector<std::shared_ptr<void>> pending;
  thread_local bool draining = false;
  pending.push_back(std::move(reference));
  if (draining) return;
  draining = true;
  while (!pending.empty()) {
    std::shared_ptr<void> next = std::move(pending.back());
    pending.pop_back();
    next.reset();
  }
  draining = false;
}
