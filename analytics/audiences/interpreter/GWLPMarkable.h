// GWLPMarkable: what the collector can mark (values and scopes), and the
// work list that makes marking iterative, so that a deeply nested structure
// never overflows the native stack. Also home of GWLPDeferRelease, which
// makes releasing deeply nested values iterative for the same reason.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class GWLPMarkable;

// The pending work of one marking pass.
class GWLPMarkStack {
 public:
  // Each pass has a number of its own.
  GWLPMarkStack();
  // A pass whose pending list starts as `storage` (emptied), so that a caller
  // can reuse one list across passes; takePending hands it back.
  explicit GWLPMarkStack(std::vector<GWLPMarkable*> storage);
  std::vector<GWLPMarkable*> takePending() { return std::move(pending_); }

  void push(GWLPMarkable* markable) {
    if (markable) pending_.push_back(markable);
  }
  // Marks everything pushed so far and everything it reaches.
  void drain();
  // Scopes carry no mark flag that a sweep clears: each remembers the last
  // pass that visited it, so that a pass visits each scope once.
  bool visitOnce(uint64_t& lastPass) {
    if (lastPass == pass_) return false;
    lastPass = pass_;
    return true;
  }

 private:
  uint64_t pass_;
  std::vector<GWLPMarkable*> pending_;
};

class GWLPMarkable {
 public:
  virtual ~GWLPMarkable() = default;
  // Marks this object and everything it reaches.
  void mark();
  // Marks this object (when not yet marked) and pushes what it reaches.
  virtual void markInto(GWLPMarkStack& stack) = 0;
};

// Releases `reference` without recursing into the destructors of what it
// holds: nested releases queue up and are run one after another by the
// outermost call on this thread.
void GWLPDeferRelease(std::shared_ptr<void> reference);
