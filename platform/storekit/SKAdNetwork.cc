#include "platform/storekit/SKAdNetwork.h"

#include <filesystem>
#include <limits>

#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PropertyList.h"

namespace platform {

const char* SKAdNetworkCoarseConversionValueName(SKAdNetworkCoarseConversionValue value) {
  switch (value) {
    case SKAdNetworkCoarseConversionValue::kHigh:
      return "high";
    case SKAdNetworkCoarseConversionValue::kMedium:
      return "medium";
    case SKAdNetworkCoarseConversionValue::kLow:
      break;
  }
  return "low";
}

SKAdNetwork::SKAdNetwork(std::string recordPath, std::shared_ptr<Clock> clock)
    : recordPath_(std::move(recordPath)), clock_(clock ? std::move(clock) : Clock::system()) {}

std::shared_ptr<SKAdNetwork> SKAdNetwork::defaultInstance() {
  static const auto* instance = new std::shared_ptr<SKAdNetwork>(std::make_shared<SKAdNetwork>());
  return *instance;
}

std::optional<std::string> SKAdNetwork::recordPath(Error* error) const {
  if (!recordPath_.empty()) return recordPath_;
  std::shared_ptr<Paths> paths = Paths::current();
  if (!paths) {
    setError(error, Error(kPlatformErrorDomain, 0, "no data directory to record the postback update in"));
    return std::nullopt;
  }
  return paths->applicationSupportDirectory() + "/" + kSKAdNetworkRecordFileName;
}

void SKAdNetwork::updatePostbackConversionValue(int64_t fineValue, SKAdNetworkCoarseConversionValue coarseValue,
                                                bool lockWindow, Completion completion) {
  std::optional<Error> failure;
  if (fineValue < 0 || fineValue > kSKAdNetworkMaxFineConversionValue) {
    failure = Error(kSKANErrorDomain, kSKANErrorInvalidConversionValue,
                    "fine conversion value outside 0 to 63: " + std::to_string(fineValue));
  } else {
    Dictionary record;
    record[kSKAdNetworkRecordFineValueKey] = fineValue;
    record[kSKAdNetworkRecordCoarseValueKey] = SKAdNetworkCoarseConversionValueName(coarseValue);
    record[kSKAdNetworkRecordLockWindowKey] = lockWindow;
    record[kSKAdNetworkRecordUpdateDateKey] = Date{clock_->now()};
    Error error;
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<std::string> path = recordPath(&error);
    if (!path || !PropertyList::writeFile(*path, Object(std::move(record)), PropertyListFormat::Binary, &error)) {
      failure = std::move(error);
    }
  }
  if (completion) completion(std::move(failure));
}

std::optional<Dictionary> SKAdNetwork::lastUpdate(Error* error) const {
  Error failure;
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> path = recordPath(&failure);
  return readDictionary(path, std::move(failure), error);
}

std::optional<std::string> SKAdNetwork::registrationPath(Error* error) const {
  std::optional<std::string> record = recordPath(error);
  if (!record) return std::nullopt;
  return (std::filesystem::path(*record).parent_path() / kSKAdNetworkRegistrationFileName).string();
}

std::optional<Dictionary> SKAdNetwork::readDictionary(const std::optional<std::string>& path, Error failure,
                                                      Error* error) const {
  if (path) {
    if (std::optional<Object> record = PropertyList::readFile(*path, &failure)) {
      if (const Dictionary* dictionary = record->dictionaryValue()) return *dictionary;
      failure = Error(kPropertyListErrorDomain, PropertyList::kUnreadable, "the record is no dictionary");
    }
  }
  setError(error, std::move(failure));
  return std::nullopt;
}

void SKAdNetwork::registerAppForAdNetworkAttribution() {
  Error error;
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> path = registrationPath(&error);
  if (path) {
    int64_t count = 0;
    if (auto previous = readDictionary(path, Error(), nullptr)) {
      auto found = previous->find(kSKAdNetworkRegistrationCountKey);
      if (found != previous->end()) count = found->second.integerValueOrZero();
    }
    Dictionary record;
    record[kSKAdNetworkRegistrationDateKey] = Date{clock_->now()};
    record[kSKAdNetworkRegistrationCountKey] = count < std::numeric_limits<int64_t>::max() ? count + 1 : count;
    if (PropertyList::writeFile(*path, Object(std::move(record)), PropertyListFormat::Binary, &error)) return;
  }
  log::write(LogLevel::Warning, "SKAdNetwork", "registration", "",
             "the ad network registration could not be recorded: " + error.toString());
}

std::optional<Dictionary> SKAdNetwork::lastRegistration(Error* error) const {
  Error failure;
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> path = registrationPath(&failure);
  return readDictionary(path, std::move(failure), error);
}

}  // namespace platform
