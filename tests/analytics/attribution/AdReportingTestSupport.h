// Shared pieces of the ad reporter tests: an engine that records the internal
// events it is asked to log and answers scripted screen parameters, and a
// monitor fixture that prints every level but the silent ones (which the
// health sample shows).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/attribution/GWLAttributionLog.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"

namespace attribution_test {

struct LoggedEvent {
  std::string origin;
  std::string name;
  GWLParameters parameters;
};

class RecordingEngine : public GWLMeasurementEngine {
 public:
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return nullptr; }

  void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                  const GWLRawParameters& parameters) override {
    LoggedEvent event{origin, name, {}};
    for (const auto& [key, raw] : parameters) {
      if (const auto* value = std::get_if<GWLValue>(&raw)) {
        event.parameters.emplace(key, *value);
      } else if (auto converted = GWLValue::valueFromObject(std::get<platform::Object>(raw))) {
        event.parameters.emplace(key, *converted);
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }

  GWLParameters screenParameters() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return screen_;
  }
  void setScreenParameters(GWLParameters parameters) {
    std::lock_guard<std::mutex> lock(mutex_);
    screen_ = std::move(parameters);
  }

  // The events logged since the last call.
  std::vector<LoggedEvent> takeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
  }
  // Waits (for real I/O, at most `limit`) until `count` events are recorded.
  bool waitForEvents(size_t count, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LoggedEvent> events_;
  GWLParameters screen_;
};

// The monitor of the values tests with debug and verbose logging on, so that
// levels 7 and 8 print too.
class AdReportingTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setDebugModeEnabled(true);
    monitor_->setVerboseLoggingEnabled(true);
  }
  void TearDown() override {
    monitor_->setVerboseLoggingEnabled(false);
    monitor_->setDebugModeEnabled(false);
    LibraryMonitorTest::TearDown();
  }

  // The library's settings in the current data directory, on `clock`.
  std::shared_ptr<GWLPersistedConfig> openPersistedConfig(std::shared_ptr<platform::Clock> clock) {
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = std::move(clock);
    dependencies.monitor = monitor_;
    dependencies.notificationCenter = platform::NotificationCenter::create();
    return GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
  }

  // The codes of the printed reports since the last call, in order.
  std::vector<int64_t> printedCodes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) codes.push_back(report.code);
    return codes;
  }
  // Whether `line` was printed since the last call, at its level.
  bool printed(const GWLAttributionLogLine& line) {
    for (const auto& report : reports()) {
      if (report.code == line.code) return report.level == line.level;
    }
    return false;
  }
  // The health sample's key for a silent line (levels 2 and 5).
  static std::string sampleKey(const GWLAttributionLogLine& line) {
    return GWLMonitor::monitoringDataKeyWithMessage(line.message, line.level, kGWLLibraryVersion);
  }
  // Polls `condition` while real I/O goes on, at most 30 seconds.
  static bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
};

}  // namespace attribution_test
