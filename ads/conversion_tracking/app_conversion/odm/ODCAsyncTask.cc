#include "ads/conversion_tracking/app_conversion/odm/ODCAsyncTask.h"

#include <limits>
#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "platform/dispatch/Queue.h"
#include "platform/text/PercentEncoding.h"

namespace {

std::string QueryValue(const std::string& value) {
  return platform::percent::encode(value, platform::percent::AllowedSet::queryValue());
}

// The store's run count as the query's 32-bit number, saturating.
int32_t Int32Count(int64_t count) {
  if (count > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (count < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(count);
}

}  // namespace

ODCAsyncTask::ODCAsyncTask(std::shared_ptr<ODCContext> context) : context_(std::move(context)) {}

ODCAsyncTask::~ODCAsyncTask() = default;

void ODCAsyncTask::startTaskWithCompletion(Completion completion) {
  completion_ = std::move(completion);
  retryCount_ = 0;
  executeTask();
}

void ODCAsyncTask::executeTask() { finishTaskWithError(std::nullopt); }

void ODCAsyncTask::finishTaskWithError(std::optional<platform::Error> error) {
  if (!error && nextTask_) {
    nextTask_->startTaskWithCompletion(completion_);
    return;
  }
  if (error && retryCount_ < kODCMaxRetryCount) {
    const double delay = kODCRetryBaseDelaySeconds * static_cast<double>(int64_t{1} << retryCount_);
    std::weak_ptr<ODCAsyncTask> weakSelf = weak_from_this();
    context_->serialQueue()->after(context_->clock(), delay, [weakSelf] {
      if (std::shared_ptr<ODCAsyncTask> self = weakSelf.lock()) self->executeTask();
    });
    ++retryCount_;
    return;
  }
  finishTaskChainWithError(std::move(error));
}

void ODCAsyncTask::finishTaskChainWithError(std::optional<platform::Error> error) {
  if (completion_) completion_(std::move(error));
}

std::string ODCAsyncTask::commonQueryParameters() const {
  ODCConversionStoreReader* store = context_->conversionStore();
  const int64_t runs = store ? store->odm2RetryCount().value_or(0) : 0;
  return std::string("version=") + kODCQueryVersion + "&bundle_id=" + QueryValue(context_->bundleID()) +
         "&app_version=" + QueryValue(context_->appVersion()) + "&sdk_version=" + kODCSDKVersionPrefix +
         QueryValue(context_->SDKVersion()) + "&retry_count=" + std::to_string(Int32Count(retryCount_)) +
         "&odm2_count=" + std::to_string(Int32Count(runs)) +
         "&source=" + (context_->isSourceVEXA() ? kODCSourceVEXA : kODCSourceAAPS);
}

bool ODCAsyncTask::checkHTTPResponse(const platform::HTTPURLResponse* response, platform::Error* error) {
  const int status = response ? response->statusCode : 0;
  if (status == platform::kHVUNetworkHTTPStatusOK || status == platform::kHVUNetworkHTTPStatusNoContent) return true;
  platform::setError(error, ODCMakeError(ODCErrorCodeHTTPStatusNotOK, kODCMessageHTTPStatusNotOK));
  return false;
}

std::optional<platform::Error> ODCAsyncTask::errorOfAnswer(const platform::HTTPURLResponse* response,
                                                          std::optional<platform::Error> networkError) {
  if (networkError) return networkError;
  platform::Error error;
  if (!checkHTTPResponse(response, &error)) return error;
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> ODCAsyncTask::bodyWithExtensionData(const char* key,
                                                                        const std::string& value) const {
  ODCJSONDictionary body = ODCJSONDictionary::object();
  body[key] = value;
  body[kODCExtensionDataBodyKey] = context_->extensionData().value_or("");
  return ODCJSONDataFromDictionary(body);
}

std::string ODCAsyncTask::requestURL(const std::string& path, const std::string& query) const {
  return context_->endpoint().origin() + path + "?" + query;
}

void ODCAsyncTask::sendRequest(const std::string& url, std::optional<std::span<const uint8_t>> payload,
                               platform::HVUNetwork::CompletionHandler completion) {
  const std::shared_ptr<platform::HVUNetwork>& network = context_->network();
  if (!network) {
    // Answered like a request the network client refused, on the same queue.
    context_->serialQueue()->async([completion = std::move(completion)] {
      completion(nullptr, {},
                 platform::Error(platform::kHVUNetworkErrorDomain, platform::kHVUNetworkErrorInvalidRequest,
                                 "no network client"));
    });
    return;
  }
  if (!payload) {
    network->getURL(url, {}, context_->serialQueue(), /*usingBackgroundSession=*/false, std::move(completion));
    return;
  }
  network->postURL(url, *payload, context_->serialQueue(), /*usingBackgroundSession=*/false, std::move(completion));
}
