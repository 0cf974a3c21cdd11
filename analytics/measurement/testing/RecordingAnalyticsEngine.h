// RecordingAnalyticsEngine — an engine for tests, fuzz targets and benchmarks
// of the entry class: it records every call it is handed, in order, and
// answers from settable answers. Queries answer at once on the calling thread.
//
// Thread-safe: calls may arrive on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/measurement/GWLAnalyticsEngine.h"

namespace measurement_testing {

class RecordingAnalyticsEngine : public GWLAnalyticsEngine {
 public:
  struct LoggedEvent {
    std::string origin;
    bool isPublicEvent = false;
    std::string name;
    std::optional<GWLRawParameters> parameters;
    double timestamp = 0;
    bool enabled = false;
    bool ignoreEnabled = false;
    bool ignoreInterceptor = false;
    bool hasInterceptor = false;
    std::optional<GWLRawParameters> addedScreenParameters;
  };

  struct Answers {
    bool wasEnabledDuringInitialization = true;
    bool didInitializeComponents = true;
    bool resetSucceeds = true;
    int32_t maxUserProperties = 25;
    std::optional<bool> shouldDisableAdPersonalization;
    platform::Dictionary userProperties;
    std::optional<int64_t> sessionID;  // none: error 13
  };

  RecordingAnalyticsEngine() = default;

  void setAnswers(const Answers& answers);
  void updateAnswers(const std::function<void(Answers&)>& update);
  // When false, events are counted but not kept (benchmarks).
  void setKeepsEvents(bool keeps);
  // Called with every event as it arrives (on the calling thread).
  void setEventObserver(std::function<void(const LoggedEvent&)> observer);

  // What was handed over.
  std::vector<LoggedEvent> events() const;
  size_t eventCount() const;
  // Every other call, as text: "setEnabled 1", "setUserAttribute _id=u1 (app)",
  // "removeUserAttribute _lair", "setDefaultEventParameters {...}", "setUserData {...}",
  // "reset <id or none>", "sessionTimeout 30", "sessionID", "userProperties 1",
  // "maxUserProperties gw", "filter 2", "url <url> <referrer or none>".
  std::vector<std::string> calls() const;
  std::vector<std::shared_ptr<GWLUserAttribute>> setAttributes() const;
  // Forgets what was recorded.
  void clear();

  // ---- GWLAnalyticsEngine ----
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return nullptr; }
  bool wasEnabledDuringInitialization() const override;
  bool didInitializeComponents() const override;
  void setEnabled(bool enabled) override;
  void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                          const std::optional<GWLRawParameters>& parameters, double timestamp, bool enabled,
                          bool ignoreEnabled, bool ignoreInterceptor, const GWLLogEventInterceptor& interceptor,
                          const std::optional<GWLRawParameters>& addedScreenParameters) override;
  void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) override;
  void setUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) override;
  void removeUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) override;
  void userPropertiesIncludingInternal(bool includingInternal,
                                       std::function<void(const platform::Dictionary&)> callback) override;
  void maxUserPropertiesForOrigin(const std::string& origin, std::function<void(int32_t)> callback) override;
  std::optional<bool> shouldDisableAdPersonalization() override;
  void setSessionTimeoutInterval(double seconds) override;
  void sessionIDWithCompletion(SessionIDCompletion completion) override;
  bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) override;
  void setUserData(const platform::Dictionary& userData) override;
  void filterPurchaseTransactions(const std::vector<platform::PaymentTransaction>& transactions,
                                  std::function<void(const std::vector<platform::PaymentTransaction>&)> callback) override;
  using GWLAnalyticsEngine::handleNonFirstOpenEventURL;
  void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                  const std::optional<std::string>& referrerURL) override;

 private:
  void record(std::string call);
  Answers answers() const;

  mutable std::mutex mutex_;
  Answers answers_;
  bool keepsEvents_ = true;
  size_t eventCount_ = 0;
  std::function<void(const LoggedEvent&)> eventObserver_;
  std::vector<LoggedEvent> events_;
  std::vector<std::string> calls_;
  std::vector<std::shared_ptr<GWLUserAttribute>> setAttributes_;
};

}  // namespace measurement_testing
