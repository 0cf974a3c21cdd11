#include "analytics/measurement/testing/RecordingAnalyticsEngine.h"

#include "analytics/foundation/core/GWLError.h"

namespace measurement_testing {

void RecordingAnalyticsEngine::setAnswers(const Answers& answers) {
  std::lock_guard lock(mutex_);
  answers_ = answers;
}

void RecordingAnalyticsEngine::updateAnswers(const std::function<void(Answers&)>& update) {
  std::lock_guard lock(mutex_);
  update(answers_);
}

void RecordingAnalyticsEngine::setKeepsEvents(bool keeps) {
  std::lock_guard lock(mutex_);
  keepsEvents_ = keeps;
}

void RecordingAnalyticsEngine::setEventObserver(std::function<void(const LoggedEvent&)> observer) {
  std::lock_guard lock(mutex_);
  eventObserver_ = std::move(observer);
}

std::vector<RecordingAnalyticsEngine::LoggedEvent> RecordingAnalyticsEngine::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

size_t RecordingAnalyticsEngine::eventCount() const {
  std::lock_guard lock(mutex_);
  return eventCount_;
}

std::vector<std::string> RecordingAnalyticsEngine::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::shared_ptr<GWLUserAttribute>> RecordingAnalyticsEngine::setAttributes() const {
  std::lock_guard lock(mutex_);
  return setAttributes_;
}

void RecordingAnalyticsEngine::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
  calls_.clear();
  setAttributes_.clear();
}

void RecordingAnalyticsEngine::record(std::string call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

RecordingAnalyticsEngine::Answers RecordingAnalyticsEngine::answers() const {
  std::lock_guard lock(mutex_);
  return answers_;
}

bool RecordingAnalyticsEngine::wasEnabledDuringInitialization() const { return answers().wasEnabledDuringInitialization; }

bool RecordingAnalyticsEngine::didInitializeComponents() const { return answers().didInitializeComponents; }

void RecordingAnalyticsEngine::setEnabled(bool enabled) { record(std::string("setEnabled ") + (enabled ? "1" : "0")); }

void RecordingAnalyticsEngine::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                                  const std::string& name,
                                                  const std::optional<GWLRawParameters>& parameters, double timestamp,
                                                  bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                                  const GWLLogEventInterceptor& interceptor,
                                                  const std::optional<GWLRawParameters>& addedScreenParameters) {
  LoggedEvent event{origin,  isPublicEvent, name, parameters, timestamp, enabled, ignoreEnabled, ignoreInterceptor,
                    static_cast<bool>(interceptor), addedScreenParameters};
  std::function<void(const LoggedEvent&)> observer;
  {
    std::lock_guard lock(mutex_);
    ++eventCount_;
    observer = eventObserver_;
    if (keepsEvents_) events_.push_back(event);
  }
  if (observer) observer(event);
}

void RecordingAnalyticsEngine::setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) {
  record("setDefaultEventParameters " + (parameters ? platform::Object(*parameters).description() : "none"));
}

void RecordingAnalyticsEngine::setUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) {
  if (!attribute) {
    record("setUserAttribute none");
    return;
  }
  record("setUserAttribute " + attribute->name() + "=" + attribute->value().description() + " (" +
         attribute->origin() + ")");
  std::lock_guard lock(mutex_);
  setAttributes_.push_back(attribute);
}

void RecordingAnalyticsEngine::removeUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute) {
  record("removeUserAttribute " + (attribute ? attribute->name() : std::string("none")));
}

void RecordingAnalyticsEngine::userPropertiesIncludingInternal(
    bool includingInternal, std::function<void(const platform::Dictionary&)> callback) {
  record(std::string("userProperties ") + (includingInternal ? "1" : "0"));
  callback(answers().userProperties);
}

void RecordingAnalyticsEngine::maxUserPropertiesForOrigin(const std::string& origin,
                                                          std::function<void(int32_t)> callback) {
  record("maxUserProperties " + origin);
  callback(answers().maxUserProperties);
}

std::optional<bool> RecordingAnalyticsEngine::shouldDisableAdPersonalization() {
  return answers().shouldDisableAdPersonalization;
}

void RecordingAnalyticsEngine::setSessionTimeoutInterval(double seconds) {
  record("sessionTimeout " + platform::Object(seconds).description());
}

void RecordingAnalyticsEngine::sessionIDWithCompletion(SessionIDCompletion completion) {
  record("sessionID");
  auto sessionID = answers().sessionID;
  if (sessionID) {
    completion(*sessionID, std::nullopt);
  } else {
    completion(0, gwl_errorWithCode(kGWLErrorCodeUninitialized, "Session ID not found"));
  }
}

bool RecordingAnalyticsEngine::resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) {
  record("reset " + appInstanceID.value_or("none"));
  return answers().resetSucceeds;
}

void RecordingAnalyticsEngine::setUserData(const platform::Dictionary& userData) {
  record("setUserData " + platform::Object(userData).description());
}

void RecordingAnalyticsEngine::filterPurchaseTransactions(
    const std::vector<platform::PaymentTransaction>& transactions,
    std::function<void(const std::vector<platform::PaymentTransaction>&)> callback) {
  record("filter " + std::to_string(transactions.size()));
  std::vector<platform::PaymentTransaction> purchased;
  for (const auto& transaction : transactions) {
    if (transaction.transactionState == platform::PaymentTransactionState::Purchased) purchased.push_back(transaction);
  }
  callback(purchased);
}

void RecordingAnalyticsEngine::handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                                          const std::optional<std::string>& referrerURL) {
  record("url " + url + " " + referrerURL.value_or("none") + " @" + platform::Object(eventTimestampInSeconds).description());
}

}  // namespace measurement_testing
