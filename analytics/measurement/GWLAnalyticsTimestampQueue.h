// GWLAnalyticsTimestampQueue — the entry class's serial queue "GWLAnalyticsTimestampQueue".
//
// It is only ever used synchronously: an event's timestamp is taken and the
// event queued inside one block, so that events leave in timestamp order from
// whichever threads they come. As a synchronous block on a serial queue may,
// the block runs on the caller's thread, one caller at a time; nothing hops
// to another thread. A block that calls `sync` again runs the inner block at
// once (it already holds the queue).
//
// Thread-safe: any thread.
#pragma once

#include <functional>
#include <string>

#include "platform/util/Mutex.h"

inline constexpr const char* kGWLAnalyticsTimestampQueueLabel = "GWLAnalyticsTimestampQueue";

class GWLAnalyticsTimestampQueue {
 public:
  const std::string& label() const { return label_; }
  // Runs `block` on the calling thread once no other caller is inside.
  void sync(const std::function<void()>& block);
  // Whether the calling thread is running one of this queue's blocks.
  bool isCurrent() const;

 private:
  const std::string label_ = kGWLAnalyticsTimestampQueueLabel;
  platform::Mutex mutex_;
};
