#include "platform/adservices/AAAttribution.h"

#include <cerrno>
#include <filesystem>

#include "platform/env/AppEnvironment.h"
#include "platform/storage/FileBuffer.h"
#include "platform/storage/Paths.h"
#include "platform/text/Utf8.h"
#include "platform/util/Mutex.h"

namespace platform {
namespace {

struct TestAnswer {
  std::optional<std::string> token;
  Error error;
};

struct State {
  Mutex mutex;
  std::optional<TestAnswer> answer ABSL_GUARDED_BY(mutex);
};

// Never destroyed: queue threads may still ask while the process exits.
State& state() {
  static State* shared = new State();
  return *shared;
}

Error attributionError(int64_t code, std::string description) {
  return Error(kAAAttributionErrorDomain, code, std::move(description));
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<std::string> tokenFromFile(Error& error) {
  std::shared_ptr<Paths> paths = Paths::current();
  if (!paths) {
    error = attributionError(kAAAttributionErrorNoToken, "No data directory to read the attribution token from");
    return std::nullopt;
  }
  const std::string path = (std::filesystem::path(paths->libraryDirectory()) / kAAAttributionTokenDirectory /
                            kAAAttributionTokenFileName)
                               .string();
  Error readError;
  std::optional<FileBuffer> file = readRegularFile(path, kAAAttributionMaxTokenBytes, &readError);
  if (!file) {
    const bool missing = readError.domain == kPOSIXErrorDomain && readError.code == ENOENT;
    error = attributionError(missing ? kAAAttributionErrorNoToken : kAAAttributionErrorUnreadableToken,
                             "Cannot read the attribution token: " + readError.toString());
    return std::nullopt;
  }
  std::string_view text = file->text();
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) {
    error = attributionError(kAAAttributionErrorNoToken, "The attribution token file is empty");
    return std::nullopt;
  }
  if (!utf8::isValid(text)) {
    error = attributionError(kAAAttributionErrorUnreadableToken, "The attribution token is not UTF-8 text");
    return std::nullopt;
  }
  return std::string(text);
}

}  // namespace

bool AAAttribution::isPresent() { return AppEnvironment::shared()->hasComponent(kAAAttributionComponentName); }

std::optional<std::string> AAAttribution::attributionTokenWithError(Error* error) {
  Error local;
  std::optional<std::string> token;
  std::optional<TestAnswer> answer;
  {
    MutexLock lock(state().mutex);
    answer = state().answer;
  }
  if (!isPresent()) {
    local = attributionError(kAAAttributionErrorNotPresent, "The attribution framework is not present");
  } else if (answer) {
    token = answer->token;
    if (!token) local = answer->error;
  } else {
    token = tokenFromFile(local);
  }
  if (!token) setError(error, std::move(local));
  return token;
}

void AAAttribution::setAnswerForTesting(std::optional<std::string> token, Error error) {
  MutexLock lock(state().mutex);
  state().answer = TestAnswer{std::move(token), std::move(error)};
}

void AAAttribution::resetForTesting() {
  MutexLock lock(state().mutex);
  state().answer.reset();
}

}  // namespace platform
