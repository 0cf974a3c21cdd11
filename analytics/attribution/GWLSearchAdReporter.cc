#include "analytics/attribution/GWLSearchAdReporter.h"

#include <cmath>
#include <utility>

#include <nlohmann/json.hpp>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLAlarm.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/adservices/AAAttribution.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"

namespace {

constexpr const char* kContentTypeHeader = "Content-Type";
constexpr const char* kContentTypeTextPlain = "text/plain";
constexpr const char* kCacheControlHeader = "cache-control";
constexpr const char* kCacheControlNoCache = "no-cache";
// Answers of the attribution API are small; a larger body fails the request.
constexpr size_t kMaxAnswerBytes = 64 * 1024;

bool isSuccessStatus(int status) { return status >= 200 && status <= 299; }

// A member read as text: a string as it is, a number in decimal form, a
// boolean as "1" or "0"; nothing for anything else.
std::optional<std::string> textOf(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return std::nullopt;
  if (found->is_string()) return found->get<std::string>();
  if (found->is_boolean()) return found->get<bool>() ? "1" : "0";
  if (found->is_number()) return found->dump();
  return std::nullopt;
}

GWLSearchAdAnswer failed(platform::Error error) {
  GWLSearchAdAnswer answer;
  answer.kind = GWLSearchAdAnswer::Kind::kFailed;
  answer.error = std::move(error);
  return answer;
}

}  // namespace

GWLSearchAdAnswer GWLReadSearchAdAnswer(const platform::HTTPURLResponse* response, std::span<const uint8_t> body,
                                        const std::optional<platform::Error>& networkError) {
  if (networkError) return failed(*networkError);
  if (!response) return failed(gwl_errorWithCode(kGWLErrorCodeOperationFailed, "No answer"));
  if (!isSuccessStatus(response->statusCode)) {
    return failed(gwl_errorWithCode(kGWLErrorCodeOperationFailed,
                                    "The attribution API answered status " + std::to_string(response->statusCode)));
  }
  const nlohmann::json json = nlohmann::json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    GWLSearchAdAnswer answer;
    answer.kind = GWLSearchAdAnswer::Kind::kUnparsable;
    answer.error = gwl_errorWithCode(kGWLErrorCodeInvalidArgument, "The answer is not JSON");
    return answer;
  }
  if (!json.is_object()) {
    return failed(gwl_errorWithCode(kGWLErrorCodeInvalidArgument, "The answer is not a JSON object"));
  }
  GWLSearchAdAnswer answer;
  answer.campaign = textOf(json, kGWLSearchAdCampaignIDKey);
  answer.term = textOf(json, kGWLSearchAdKeywordIDKey);
  if (answer.campaign == kGWLSearchAdTestDataID && textOf(json, kGWLSearchAdAdIDKey) == kGWLSearchAdTestDataID) {
    answer.kind = GWLSearchAdAnswer::Kind::kTestData;
    return answer;
  }
  const auto attribution = json.find(kGWLSearchAdAttributionKey);
  if (attribution == json.end() || !attribution->is_boolean()) {
    return failed(gwl_errorWithCode(kGWLErrorCodeInvalidArgument, "The answer holds no boolean \"attribution\""));
  }
  answer.kind = GWLSearchAdAnswer::Kind::kAccepted;
  answer.attributed = attribution->get<bool>();
  return answer;
}

std::shared_ptr<GWLSearchAdReporter> GWLSearchAdReporter::initWithWorkerQueue(
    std::shared_ptr<platform::Queue> queue, std::shared_ptr<GWLPersistedConfig> persistedConfig,
    Dependencies dependencies) {
  auto log = dependencies.monitor ? dependencies.monitor : GWLLibraryMonitor::monitor();
  if (!queue) {
    GWLLogAttributionLine(*log, kGWLSearchAdNoQueue);
    return nullptr;
  }
  if (!persistedConfig) {
    GWLLogAttributionLine(*log, kGWLSearchAdNoPersistedConfig);
    return nullptr;
  }
  if (persistedConfig->searchAdRetryCount() > kGWLSearchAdMaxAttempts - 1) return nullptr;
  if (persistedConfig->searchAdCampaignValue()) {
    GWLLogAttributionLine(*log, kGWLSearchAdAlreadyReportedAtInit);
    return nullptr;
  }
  if (!dependencies.clock) dependencies.clock = platform::Clock::system();
  if (!dependencies.endpoint) dependencies.endpoint = GWLServiceHosts::forProcess().searchAds;
  auto alarm = GWLAlarm::create(queue, kGWLSearchAdReporterAlarmName, dependencies.clock, dependencies.monitor);
  return std::shared_ptr<GWLSearchAdReporter>(
      new GWLSearchAdReporter(std::move(queue), std::move(persistedConfig), std::move(dependencies), std::move(alarm)));
}

GWLSearchAdReporter::GWLSearchAdReporter(std::shared_ptr<platform::Queue> queue,
                                         std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                         Dependencies dependencies, std::shared_ptr<GWLAlarm> alarm)
    : queue_(std::move(queue)),
      persistedConfig_(std::move(persistedConfig)),
      dependencies_(std::move(dependencies)),
      network_(std::make_unique<platform::HVUNetwork>(dependencies_.endpoint->host)),
      searchAdReporterAlarm_(std::move(alarm)) {
  network_->setTimeoutInterval(kGWLSearchAdRequestTimeout);
  network_->setMaxBodyBytes(kMaxAnswerBytes);
  if (!dependencies_.trustFile.empty()) network_->setTrustFile(dependencies_.trustFile);
}

GWLSearchAdReporter::~GWLSearchAdReporter() { cancelScheduling(); }

std::shared_ptr<GWLMonitor> GWLSearchAdReporter::monitor() const {
  return dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
}

std::shared_ptr<GWLAlarm> GWLSearchAdReporter::alarm() const {
  platform::MutexLock lock(alarmMutex_);
  return searchAdReporterAlarm_;
}

bool GWLSearchAdReporter::adClientInstance() const {
  return dependencies_.hasAdServices ? dependencies_.hasAdServices() : GWLAEU::classExists(kGWLAdServicesClassName);
}

void GWLSearchAdReporter::start() {
  if (!adClientInstance()) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdNoAdServices);
    return;
  }
  if (dependencies_.isSimulator ? dependencies_.isSimulator() : GWLAEU::isNOD()) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdSimulator);
    return;
  }
  scheduleSearchAdReport();
}

void GWLSearchAdReporter::scheduleSearchAdReport() {
  std::shared_ptr<GWLAlarm> reportAlarm = alarm();
  if (!reportAlarm) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdAlarmCanceled);
    return;
  }
  if (!isSearchAdReporterEnabled()) {
    reportAlarm->cancel();
    return;
  }
  if (persistedConfig_->searchAdCampaignValue()) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdAlreadyReported);
    cancelScheduling();
    return;
  }
  if (reportAlarm->scheduledTimestamp()) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdAlreadyScheduled);
    return;
  }
  if (persistedConfig_->searchAdRetryCount() >= kGWLSearchAdMaxAttempts) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdTooManyAttempts);
    cancelScheduling();
    return;
  }
  GWLLogAttributionLine(*monitor(), kGWLSearchAdScheduling);
  const double sinceLastAttempt =
      std::fabs(dependencies_.clock->now() - persistedConfig_->lastSearchAdLookUpTimestamp());
  const double delay = kGWLSearchAdReportInterval - sinceLastAttempt;
  std::weak_ptr<GWLSearchAdReporter> weakSelf = weak_from_this();
  reportAlarm->runAfterDelay(delay, [weakSelf] {
    if (auto self = weakSelf.lock()) self->maybeLogIAdCampaignEvent();
  });
}

void GWLSearchAdReporter::cancelScheduling() {
  std::shared_ptr<GWLAlarm> dropped;
  {
    platform::MutexLock lock(alarmMutex_);
    dropped = std::move(searchAdReporterAlarm_);
  }
  if (dropped) dropped->cancel();
}

void GWLSearchAdReporter::maybeLogIAdCampaignEvent() {
  if (!adClientInstance()) return;
  // Collection switched off since the alarm was armed: no token leaves the
  // device; scheduling disarms the alarm.
  if (isSearchAdReporterEnabled()) {
    persistedConfig_->setLastSearchAdLookUpTimestamp(dependencies_.clock->now());
    fetchAttributionDetails();
  }
  scheduleSearchAdReport();
}

void GWLSearchAdReporter::fetchAttributionDetails() {
  persistedConfig_->setSearchAdRetryCount(persistedConfig_->searchAdRetryCount() + 1);
  platform::Error error;
  std::optional<std::string> token = dependencies_.attributionToken
                                         ? dependencies_.attributionToken(&error)
                                         : platform::AAAttribution::attributionTokenWithError(&error);
  if (!token) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdTokenFailed, error);
    return;
  }
  if (!token->empty()) requestAttributionPayloadWithToken(*token);
}

void GWLSearchAdReporter::requestAttributionPayloadWithToken(const std::string& token) {
  if (token.empty()) return;
  const std::vector<uint8_t> payload(token.begin(), token.end());
  const platform::HVUNetwork::Headers headers = {{kContentTypeHeader, kContentTypeTextPlain},
                                                 {kCacheControlHeader, kCacheControlNoCache}};
  std::weak_ptr<GWLSearchAdReporter> weakSelf = weak_from_this();
  network_->postURL(dependencies_.endpoint->origin() + kGWLSearchAdAttributionPath, headers, payload, queue_,
                    /*usingBackgroundSession=*/false,
                    [weakSelf](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                               std::optional<platform::Error> error) {
                      if (auto self = weakSelf.lock()) self->handleAttributionAnswer(response.get(), body, error);
                    });
}

void GWLSearchAdReporter::handleAttributionAnswer(const platform::HTTPURLResponse* response,
                                                  std::span<const uint8_t> body,
                                                  const std::optional<platform::Error>& networkError) {
  const GWLSearchAdAnswer answer = GWLReadSearchAdAnswer(response, body, networkError);
  switch (answer.kind) {
    case GWLSearchAdAnswer::Kind::kFailed:
      GWLLogAttributionLine(*monitor(), kGWLSearchAdRequestFailed, answer.error);
      scheduleSearchAdReport();
      return;
    case GWLSearchAdAnswer::Kind::kUnparsable:
      GWLLogAttributionLine(*monitor(), kGWLSearchAdUnparsableAnswer, answer.error);
      scheduleSearchAdReport();
      return;
    case GWLSearchAdAnswer::Kind::kTestData:
      GWLLogAttributionLine(*monitor(), kGWLSearchAdTestData);
      scheduleSearchAdReport();
      return;
    case GWLSearchAdAnswer::Kind::kAccepted:
      logCampaignEventWithSearchAdCampaign(answer.attributed, answer.campaign, answer.term);
      cancelScheduling();
      return;
  }
}

void GWLSearchAdReporter::logCampaignEventWithSearchAdCampaign(bool attributed,
                                                               const std::optional<std::string>& campaign,
                                                               const std::optional<std::string>& term) {
  bool alreadySet = false;
  {
    platform::MutexLock lock(campaignMutex_);
    alreadySet = persistedConfig_->searchAdCampaignValue().has_value();
    if (!alreadySet) persistedConfig_->setSearchAdCampaignValue(platform::Object(attributed));
  }
  if (alreadySet) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdAlreadyTracked);
    return;
  }
  if (!attributed) return;
  GWLRawParameters parameters;
  parameters.emplace(kGWLCampaignSourceParameter, platform::Object(kGWLSearchAdCampaignSource));
  parameters.emplace(kGWLCampaignMediumParameter, platform::Object(kGWLSearchAdCampaignMedium));
  if (campaign && !campaign->empty()) parameters.emplace(kGWLCampaignParameter, platform::Object(*campaign));
  if (term && !term->empty()) parameters.emplace(kGWLCampaignTermParameter, platform::Object(*term));
  const int64_t firstOpenMilliseconds = persistedConfig_->firstOpenTimestampMilliseconds();
  if (firstOpenMilliseconds < 2) {
    GWLLogAttributionLine(*monitor(), kGWLSearchAdNoClickTimestamp);
  } else {
    parameters.emplace(kGWLClickTimestampParameter, platform::Object(firstOpenMilliseconds - 1));
  }
  auto engine = dependencies_.engine ? dependencies_.engine() : GWLMeasurementRegistry::sharedInstance();
  if (engine) engine->logInternalEventWithOrigin(kGWLCampaignOriginAuto, kGWLCampaignEventName, parameters);
}
