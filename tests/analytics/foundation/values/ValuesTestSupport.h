// A fixture for the tests of values, validation and events: the library's
// monitor records every printed report with its monitor level and code, and a
// test may take value limits from a configuration with given settings.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLValueLimits.h"

namespace foundation_test {

struct Report {
  int64_t level;
  int64_t code;
  std::string message;
  friend bool operator==(const Report&, const Report&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Report& report) {
    return out << "{" << report.level << ", " << report.code << ", \"" << report.message << "\"}";
  }
};

class RecordingLogger : public GWLASLLogger {
 public:
  void logMessage(const std::string& message, const std::string&, int64_t messageCode, int64_t logLevel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back({logLevel, messageCode, message});
  }
  std::vector<Report> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(reports_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Report> reports_;
};

// The limits of the default configuration.
inline const GWLValueLimits kDefaultLimits{};

class LibraryMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> lock(setup_.draws->mutex);
      setup_.draws->answers.assign(1000, 0);  // every sampled report replaces the sample
    }
    GWLMonitor::Dependencies dependencies;
    dependencies.monitorUserDefaults = setup_.monitorDefaults;
    dependencies.sharedUserDefaults = setup_.sharedDefaults;
    dependencies.clock = setup_.clock;
    dependencies.installedFromAppStore = false;
    dependencies.hasClass = [](const std::string&) { return false; };
    dependencies.randomBelow = [draws = setup_.draws](uint64_t bound) {
      std::lock_guard<std::mutex> lock(draws->mutex);
      if (draws->answers.empty()) return uint64_t{0} % bound;
      uint64_t answer = draws->answers.back();
      draws->answers.pop_back();
      return answer % bound;
    };
    monitor_ = GWLMonitor::create(6, logger_, kGWLLibraryVersion, dependencies);
    setup_.made.push_back(monitor_);
    monitor_->flush();
    GWLLibraryMonitor::resetForTesting(monitor_);
  }

  void TearDown() override {
    monitor_->flush();
    GWLLibraryMonitor::resetForTesting();
  }

  // Every printed report since the last call.
  std::vector<Report> reports() {
    monitor_->flush();
    return logger_->take();
  }

  // The key of the last report that fed the health sample ("1E_120500:text"
  // for levels 1 and 2, "1W_..." for 4 and 5); empty when none did.
  std::string lastSampledKey() {
    monitor_->flush();
    auto sample = setup_.monitorDefaults->arrayForKey(kGWLMonitorHealthMonitorKey);
    if (!sample || sample->size() < 3 || !(*sample)[2].stringValue()) return std::string();
    return *(*sample)[2].stringValue();
  }

  // The value limits of a configuration with these settings in force, as a
  // downloaded configuration would put them.
  GWLValueLimits useSettings(const std::map<std::string, std::string>& settings) {
    auto config = std::make_shared<GWLRemoteConfig>(monitor_);
    config->replaceCachedValues(settings);
    return config->valueLimits();
  }

  MonitorSetup setup_;
  std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
  std::shared_ptr<GWLMonitor> monitor_;
};

}  // namespace foundation_test
