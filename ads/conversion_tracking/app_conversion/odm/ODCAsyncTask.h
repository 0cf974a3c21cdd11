// ODCAsyncTask — one network step of the on-device conversion layer's task
// chain (configuration, then candidates, then validation), and what the three
// share: starting, retrying, handing success to the next task and ending the
// chain.
//
// An attempt that fails is repeated by the same task after 60 s << retries
// (60, 120, 240, 480, 960 s on the context's clock), at most five times; the
// repeat sends this task's request again with the payload already in the
// context and the new retry count in its URL, never the earlier tasks'. A
// success starts the next task with the same completion (its retry count back
// at 0); the chain ends, calling the completion once, when the last task
// succeeds or a task gives up (with the error of its sixth attempt).
//
// Requests go to the context's endpoint through its network client; answers
// and retries run on the context's serial queue and hold the task weakly (a
// task that is gone ignores them). Tasks must be owned by std::shared_ptr and
// are used on the serial queue only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ads/conversion_tracking/app_conversion/odm/ODCContext.h"
#include "platform/core/Error.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/HVUNetwork.h"

inline constexpr int64_t kODCMaxRetryCount = 5;
inline constexpr double kODCRetryBaseDelaySeconds = 60;
inline constexpr const char* kODCQueryVersion = "1.2";
inline constexpr const char* kODCSDKVersionPrefix = "odm-sdk-i-v";
inline constexpr const char* kODCSourceVEXA = "vexa";
inline constexpr const char* kODCSourceAAPS = "aaps";
// The extension data echoed in the candidates and validation bodies.
inline constexpr const char* kODCExtensionDataBodyKey = "odmed";

class ODCAsyncTask : public std::enable_shared_from_this<ODCAsyncTask> {
 public:
  // Called once when the chain ends: no error after the last task succeeded
  // (or the configuration was empty), else the error of the task that gave up.
  using Completion = std::function<void(std::optional<platform::Error>)>;

  explicit ODCAsyncTask(std::shared_ptr<ODCContext> context);
  virtual ~ODCAsyncTask();
  ODCAsyncTask(const ODCAsyncTask&) = delete;
  ODCAsyncTask& operator=(const ODCAsyncTask&) = delete;

  // Keeps `completion`, sets the retry count to 0 and makes the first attempt.
  void startTaskWithCompletion(Completion completion);
  // One attempt: the subclasses send their request; this base class finishes
  // at once without an error.
  virtual void executeTask();
  // What follows an attempt: the next task, a retry, or the end of the chain.
  void finishTaskWithError(std::optional<platform::Error> error);
  // Calls the completion with `error`; nothing else.
  void finishTaskChainWithError(std::optional<platform::Error> error);

  const std::shared_ptr<ODCContext>& context() const { return context_; }
  // "version=1.2&bundle_id=…&app_version=…&sdk_version=odm-sdk-i-v3.2.0&retry_count=N&odm2_count=N&source=vexa|aaps",
  // each value percent-encoded for a query value.
  std::string commonQueryParameters() const;
  // False with error 4000 unless `response` has status 200 or 204 (no
  // response counts as status 0); `error` is left alone otherwise.
  [[nodiscard]] static bool checkHTTPResponse(const platform::HTTPURLResponse* response, platform::Error* error);

  const std::shared_ptr<ODCAsyncTask>& nextTask() const { return nextTask_; }
  void setNextTask(std::shared_ptr<ODCAsyncTask> nextTask) { nextTask_ = std::move(nextTask); }
  // Attempts this task has repeated in the current run.
  int64_t retryCount() const { return retryCount_; }

 protected:
  // The answer handlers of the subclasses.
  template <class Task>
  using AnswerHandler = void (Task::*)(const platform::HTTPURLResponse* response, std::span<const uint8_t> data,
                                       std::optional<platform::Error> error);

  // The endpoint's origin, `path`, "?" and `query`.
  std::string requestURL(const std::string& path, const std::string& query) const;
  // The attempt's error so far: the network's, else 4000 (made here) for a
  // status other than 200 or 204; nullopt when the answer may be read.
  static std::optional<platform::Error> errorOfAnswer(const platform::HTTPURLResponse* response,
                                                      std::optional<platform::Error> networkError);
  // The JSON body {`key`: `value`, "odmed": the context's extension data or
  // ""}, or nullopt when it cannot be written.
  std::optional<std::vector<uint8_t>> bodyWithExtensionData(const char* key, const std::string& value) const;

  // A GET of `url`; the answer goes to `handle` on the serial queue while this task exists.
  template <class Task>
  void get(const std::string& url, AnswerHandler<Task> handle) {
    send<Task>(url, std::nullopt, handle);
  }
  // A POST of `payload` (no body when absent), answered as above.
  template <class Task>
  void post(const std::string& url, const std::optional<std::vector<uint8_t>>& payload, AnswerHandler<Task> handle) {
    send<Task>(url, payload ? std::span<const uint8_t>(*payload) : std::span<const uint8_t>(), handle);
  }

 private:
  template <class Task>
  void send(const std::string& url, std::optional<std::span<const uint8_t>> payload, AnswerHandler<Task> handle) {
    std::weak_ptr<ODCAsyncTask> weakSelf = weak_from_this();
    platform::HVUNetwork::CompletionHandler completion =
        [weakSelf, handle](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                           std::optional<platform::Error> error) {
          std::shared_ptr<ODCAsyncTask> self = weakSelf.lock();
          if (!self) return;
          (static_cast<Task&>(*self).*handle)(response.get(), body, std::move(error));
        };
    sendRequest(url, payload, std::move(completion));
  }

  void sendRequest(const std::string& url, std::optional<std::span<const uint8_t>> payload,
                   platform::HVUNetwork::CompletionHandler completion);

  std::shared_ptr<ODCContext> context_;
  Completion completion_;
  int64_t retryCount_ = 0;
  std::shared_ptr<ODCAsyncTask> nextTask_;
};
