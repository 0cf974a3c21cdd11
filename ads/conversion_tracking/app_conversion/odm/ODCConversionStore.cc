#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStore.h"

#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "platform/storage/PropertyList.h"

std::string ODCConversionStoreFilePath(const std::optional<std::string>& applicationSupportDirectory) {
  if (!applicationSupportDirectory || applicationSupportDirectory->empty()) {
    ODCLogError(kODCNoApplicationSupportCode, "%s", kODCNoApplicationSupportMessage);
    return {};
  }
  return (std::filesystem::path(*applicationSupportDirectory) / kODCConversionStoreDirectory /
          kODCConversionStoreFileName)
      .string();
}

bool ODCDatesEqualToTheSecond(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a && !b) return true;
  if (!a || !b) return false;
  return std::floor(*a) == std::floor(*b);
}

std::shared_ptr<ODCConversionStore> ODCConversionStore::create(
    const std::optional<std::string>& applicationSupportDirectory) {
  const std::string path = ODCConversionStoreFilePath(applicationSupportDirectory);
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::path(path).parent_path();
  // An empty path has no directory to make: no store.
  if (directory.empty() || (!std::filesystem::create_directories(directory, error) && error) ||
      !std::filesystem::is_directory(directory, error)) {
    ODCLogError(kODCCreateDirectoryFailedCode, "%s", kODCCreateDirectoryFailedMessage);
    return nullptr;
  }
  return std::shared_ptr<ODCConversionStore>(new ODCConversionStore(path));
}

ODCConversionStore::ODCConversionStore(std::string filePath) : filePath_(std::move(filePath)) {
  // A missing or unreadable file, or one that holds no dictionary, starts empty.
  if (auto read = platform::PropertyList::readFile(filePath_)) {
    if (const platform::Dictionary* dictionary = read->dictionaryValue()) content_ = *dictionary;
  }
}

const platform::Object* ODCConversionStore::typedValue(const char* key, bool (platform::Object::*isValid)() const,
                                                       int64_t code, const char* message) {
  auto found = content_.find(key);
  if (found == content_.end()) return nullptr;
  if ((found->second.*isValid)()) return &found->second;
  ODCLogWarning(code, "%s", message);
  setObject(std::nullopt, key);
  return nullptr;
}

std::optional<double> ODCConversionStore::date(const char* key, int64_t code, const char* message) {
  const platform::Object* value = typedValue(key, &platform::Object::isDate, code, message);
  if (!value) return std::nullopt;
  return value->dateValue()->secondsSince1970;
}

void ODCConversionStore::setDate(const char* key, std::optional<double> timestamp, int64_t code,
                                 const char* message) {
  if (ODCDatesEqualToTheSecond(timestamp, date(key, code, message))) return;
  setObject(timestamp ? std::optional<platform::Object>(platform::Date{*timestamp}) : std::nullopt, key);
}

std::optional<std::string> ODCConversionStore::string(const char* key, const char* message) {
  const platform::Object* value = typedValue(key, &platform::Object::isString, kODCInvalidInfoCode, message);
  if (!value) return std::nullopt;
  return *value->stringValue();
}

void ODCConversionStore::setString(const char* key, std::optional<std::string> value, const char* message) {
  if (string(key, message) == value) return;
  setObject(value ? std::optional<platform::Object>(std::move(*value)) : std::nullopt, key);
}

std::optional<double> ODCConversionStore::firstLaunchTimestamp() {
  return date(kODCFirstLaunchTimestampKey, kODCInvalidFirstLaunchCode, kODCInvalidFirstLaunchMessage);
}

void ODCConversionStore::setFirstLaunchTimestamp(std::optional<double> timestamp) {
  setDate(kODCFirstLaunchTimestampKey, timestamp, kODCInvalidFirstLaunchCode, kODCInvalidFirstLaunchMessage);
}

std::optional<double> ODCConversionStore::matchFoundTimestamp() {
  return date(kODCMatchFoundTimestampKey, kODCInvalidMatchFoundCode, kODCInvalidMatchFoundMessage);
}

void ODCConversionStore::setMatchFoundTimestamp(std::optional<double> timestamp) {
  setDate(kODCMatchFoundTimestampKey, timestamp, kODCInvalidMatchFoundCode, kODCInvalidMatchFoundMessage);
}

std::optional<int64_t> ODCConversionStore::odm2RetryCount() {
  const platform::Object* value =
      typedValue(kODCODM2RetryCountKey, &platform::Object::isNumber, kODCInvalidRetryCountCode,
                 kODCInvalidRetryCountMessage);
  if (!value) return std::nullopt;
  return value->integerValueOrZero();
}

void ODCConversionStore::setOdm2RetryCount(std::optional<int64_t> count) {
  if (!count) {
    setObject(std::nullopt, kODCODM2RetryCountKey);
    return;
  }
  if (odm2RetryCount() == count) return;
  setObject(platform::Object(*count), kODCODM2RetryCountKey);
}

std::optional<std::string> ODCConversionStore::aggregateConversionInfo() {
  return string(kODCStoreAggregateConversionInfoKey, kODCInvalidAggregateInfoMessage);
}

void ODCConversionStore::setAggregateConversionInfo(std::optional<std::string> info) {
  setString(kODCStoreAggregateConversionInfoKey, std::move(info), kODCInvalidAggregateInfoMessage);
}

std::optional<std::string> ODCConversionStore::measurementInfo() {
  return string(kODCStoreMeasurementInfoKey, kODCInvalidMeasurementInfoMessage);
}

void ODCConversionStore::setMeasurementInfo(std::optional<std::string> info) {
  setString(kODCStoreMeasurementInfoKey, std::move(info), kODCInvalidMeasurementInfoMessage);
}

void ODCConversionStore::setObject(std::optional<platform::Object> object, const std::string& key) {
  if (object) {
    content_[key] = std::move(*object);
  } else {
    content_.erase(key);
  }
  writeToFile();
}

void ODCConversionStore::writeToFile() {
  platform::Error error;
  if (!platform::PropertyList::writeFile(filePath_, platform::Object(content_), platform::PropertyListFormat::Binary,
                                         &error)) {
    ODCLogError(kODCPersistFailedCode, "%s", kODCPersistFailedMessage);
    return;
  }
  // Excluding the file from backups has no counterpart on this platform;
  // 3005 would be logged here if it had one and it failed.
}
