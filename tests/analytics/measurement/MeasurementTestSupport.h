// Shared pieces of the measurement tests: a fixture whose library monitor
// records what it prints, with the consent state of a new process, a data
// directory of its own, a manual clock, a settable platform identity service
// and helpers that build an app environment from an Info dictionary.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analytics/foundation/FoundationTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLPlatformIdentitySupport.h"
#include "analytics/foundation/values/ValuesTestSupport.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "platform/dispatch/Clock.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"

namespace measurement_test {

using foundation_test::Report;

// The platform's advertising services as a test sets them. Called on the
// default identity support's own queue.
class FakePlatformIdentity : public GWLIdentitySupport {
 public:
  struct State {
    bool hasStatus = true;
    int64_t status = 3;
    bool hasIdentifierManager = true;
    std::optional<std::string> identifier;
  };

  void set(const State& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
  }
  void setIdentifier(std::optional<std::string> identifier) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.identifier = std::move(identifier);
  }
  int fetches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fetches_;
  }

  bool hasAppDataConsentStatus() const override { return get().hasStatus; }
  int64_t appDataConsentStatus() const override { return get().status; }
  bool hasLimitedAdTracking() const override { return get().hasIdentifierManager; }
  bool limitedAdTracking() const override { return false; }
  std::optional<std::string> resettableDeviceID() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++fetches_;
    return state_.identifier;
  }

 private:
  State get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
  }
  mutable std::mutex mutex_;
  State state_;
  mutable int fetches_ = 0;
};

// Records what the consent calls hand on; a test may run something inside a call.
class RecordingSink : public GWLAnalyticsConsentSink {
 public:
  struct Event {
    std::string origin;
    std::string name;
    platform::Dictionary parameters;
  };

  void logInternalEvent(const std::string& origin, const std::string& name,
                        const platform::Dictionary& parameters) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back({origin, name, parameters});
    }
    if (duringCall) duringCall();
  }
  void setUserPropertyString(const std::optional<std::string>& value, const std::string& name) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      properties_.emplace_back(name, value);
    }
    if (duringCall) duringCall();
  }
  std::vector<Event> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> properties() {
    std::lock_guard<std::mutex> lock(mutex_);
    return properties_;
  }

  std::function<void()> duringCall;

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
  std::vector<std::pair<std::string, std::optional<std::string>>> properties_;
};

// A configuration in force with the given settings and, when given, consent
// defaults (consent type number -> status number) as a downloaded one brings them.
std::shared_ptr<GWLRemoteConfig> configWith(const std::shared_ptr<GWLMonitor>& monitor,
                                            const std::map<std::string, std::string>& settings,
                                            const std::map<int32_t, int32_t>& consentDefaults = {});

// The library's monitor records what it prints; the consent state is that of
// a new process; preferences and settings live in a data directory of the test's own.
class MeasurementTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    GWLConsentSettingsUtil::resetForTesting();
  }
  void TearDown() override {
    GWLConsentSettingsUtil::resetForTesting();
    GWLPersistedConfig::resetSharedInstanceForTesting();
    LibraryMonitorTest::TearDown();
  }

  // The codes of the printed reports since the last call.
  std::vector<int64_t> codes() {
    std::vector<int64_t> result;
    for (const Report& report : reports()) result.push_back(report.code);
    return result;
  }

  // An app environment whose Info dictionary file holds `info`, with
  // `serviceFile` (when given) written beside it as "HalcyraService-Info.plist".
  std::shared_ptr<platform::AppEnvironment> environmentWith(const platform::Dictionary& info,
                                                           const std::optional<std::string>& serviceFileBytes =
                                                               std::nullopt);

  std::shared_ptr<GWLPersistedConfig> persistedConfig() {
    GWLPersistedConfig::Dependencies dependencies;
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    return GWLPersistedConfig::create(kGWLPersistedConfigSuiteName, dependencies);
  }

  foundation_test::DataDirectory data_;
  foundation_test::ScratchDirectory app_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
};

}  // namespace measurement_test
