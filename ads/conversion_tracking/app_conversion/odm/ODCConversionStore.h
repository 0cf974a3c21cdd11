// ODCConversionStore — the conversion layer's own store: the app's first
// launch as the layer knows it, the number of matching runs started, when a
// run last succeeded and that run's two answers.
//
// The store is one property-list dictionary in memory, written whole to
// "<Application Support>/Halcyra/Ads/OnDeviceConversion/
// com.halcyra.ads.on_device_conversion.plist" after every change (binary
// property list, atomic: temporary file, fsync, rename; a crash leaves the
// old file or the new one, never a torn one). Keys and their types:
//
//   "FirstLaunchTimestamp"     date
//   "MatchFoundTimestamp"      date
//   "ODM2RetryCount"           number
//   "AggregateConversionInfo"  string
//   "MeasurementInfo"          string
//
// A value of another type (a damaged or foreign file) is logged as a warning
// (3001, 3002, 3006, 3003), removed, the file rewritten, and read as absent.
// A file that is missing or unreadable starts an empty store. A write that
// fails is logged (3004) and the in-memory dictionary stays in use for the
// rest of the process. The platform here has no backup exclusion flag for a
// single file, so the step that would set it after each write does nothing.
//
// Writes through the setters happen only on a change: the two dates compare
// at whole seconds since 1970 (rounded down), the count and the strings by
// value; absent sets (or keeps) the key absent.
//
// Threads: made on any thread, then used on the conversion layer's serial
// queue only; nothing is locked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStoreReader.h"
#include "platform/core/Object.h"

inline constexpr const char* kODCConversionStoreDirectory = "Halcyra/Ads/OnDeviceConversion";
inline constexpr const char* kODCConversionStoreFileName = "com.halcyra.ads.on_device_conversion.plist";

inline constexpr const char* kODCFirstLaunchTimestampKey = "FirstLaunchTimestamp";
inline constexpr const char* kODCMatchFoundTimestampKey = "MatchFoundTimestamp";
inline constexpr const char* kODCODM2RetryCountKey = "ODM2RetryCount";
inline constexpr const char* kODCStoreAggregateConversionInfoKey = "AggregateConversionInfo";
inline constexpr const char* kODCStoreMeasurementInfoKey = "MeasurementInfo";

// Log codes of the store and their texts.
inline constexpr int64_t kODCNoApplicationSupportCode = 1000;
inline constexpr const char* kODCNoApplicationSupportMessage = "Cannot find ApplicationSupport directory.";
inline constexpr int64_t kODCCreateDirectoryFailedCode = 3000;
inline constexpr const char* kODCCreateDirectoryFailedMessage = "Cannot create subdirectories for config plist files.";
inline constexpr int64_t kODCInvalidFirstLaunchCode = 3001;
inline constexpr const char* kODCInvalidFirstLaunchMessage = "Invalid first launch timestamp in the conversion store.";
inline constexpr int64_t kODCInvalidMatchFoundCode = 3002;
inline constexpr const char* kODCInvalidMatchFoundMessage = "Invalid match found timestamp in the conversion store.";
inline constexpr int64_t kODCInvalidInfoCode = 3003;
inline constexpr const char* kODCInvalidAggregateInfoMessage =
    "Invalid aggregate conversion info in the conversion store.";
inline constexpr const char* kODCInvalidMeasurementInfoMessage = "Invalid measurement info in the conversion store.";
inline constexpr int64_t kODCPersistFailedCode = 3004;
inline constexpr const char* kODCPersistFailedMessage = "Failed to persist data.";
inline constexpr int64_t kODCExcludeFromBackupFailedCode = 3005;
inline constexpr const char* kODCExcludeFromBackupFailedMessage = "Failed to exclude conversion store from backup.";
inline constexpr int64_t kODCInvalidRetryCountCode = 3006;
inline constexpr const char* kODCInvalidRetryCountMessage = "Invalid odm2 retry count in the conversion store.";

// The store file under `applicationSupportDirectory`; empty (after logging
// 1000) when there is no Application Support directory.
std::string ODCConversionStoreFilePath(const std::optional<std::string>& applicationSupportDirectory);

// Whether two times (seconds since 1970) fall in the same whole second:
// both absent are equal, one absent is different.
bool ODCDatesEqualToTheSecond(const std::optional<double>& a, const std::optional<double>& b);

class ODCConversionStore : public ODCConversionStoreReader {
 public:
  // The store under `applicationSupportDirectory` (none: 1000). Creates the
  // file's directory with its parents; when that fails, logs 3000 and answers
  // null: no store can be kept.
  static std::shared_ptr<ODCConversionStore> create(const std::optional<std::string>& applicationSupportDirectory);

  const std::string& filePath() const { return filePath_; }

  // Seconds since 1970.
  std::optional<double> firstLaunchTimestamp() override;
  void setFirstLaunchTimestamp(std::optional<double> timestamp);
  std::optional<double> matchFoundTimestamp();
  void setMatchFoundTimestamp(std::optional<double> timestamp);
  std::optional<int64_t> odm2RetryCount() override;
  void setOdm2RetryCount(std::optional<int64_t> count);
  std::optional<std::string> aggregateConversionInfo();
  void setAggregateConversionInfo(std::optional<std::string> info);
  std::optional<std::string> measurementInfo();
  void setMeasurementInfo(std::optional<std::string> info);

  // Sets (absent: removes) `key` and writes the whole store.
  void setObject(std::optional<platform::Object> object, const std::string& key);
  // Writes the whole dictionary to the file (3004 on failure).
  void writeToFile();

 private:
  explicit ODCConversionStore(std::string filePath);
  // The value of `key` when `isValid` accepts it; otherwise logs `code` and
  // `message`, removes the key and answers null.
  const platform::Object* typedValue(const char* key, bool (platform::Object::*isValid)() const, int64_t code,
                                     const char* message);
  std::optional<double> date(const char* key, int64_t code, const char* message);
  void setDate(const char* key, std::optional<double> timestamp, int64_t code, const char* message);
  std::optional<std::string> string(const char* key, const char* message);
  void setString(const char* key, std::optional<std::string> value, const char* message);

  const std::string filePath_;
  platform::Dictionary content_;
};
