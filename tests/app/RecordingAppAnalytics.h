// A recording AppAnalytics for tests: keeps every configure call and event.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AppAnalytics.h"

namespace tabulo {

class RecordingAppAnalytics : public AppAnalytics {
 public:
  struct Event {
    std::string name;
    std::optional<platform::Dictionary> parameters;  // none: the event has no parameters
  };

  void configure() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++configureCount_;
  }
  void logEvent(const std::string& name, const std::optional<platform::Dictionary>& parameters) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({name, parameters});
  }

  int configureCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return configureCount_;
  }
  std::vector<Event> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::string> eventNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& e : events_) names.push_back(e.name);
    return names;
  }

 private:
  mutable std::mutex mutex_;
  int configureCount_ = 0;
  std::vector<Event> events_;
};

// Installs a recording instance for the lifetime of the object.
class ScopedRecordingAnalytics {
 public:
  ScopedRecordingAnalytics() : analytics_(std::make_shared<RecordingAppAnalytics>()) {
    AppAnalytics::setShared(analytics_);
  }
  ~ScopedRecordingAnalytics() { AppAnalytics::setShared(nullptr); }
  RecordingAppAnalytics& operator*() { return *analytics_; }
  RecordingAppAnalytics* operator->() { return analytics_.get(); }

 private:
  std::shared_ptr<RecordingAppAnalytics> analytics_;
};

}  // namespace tabulo
