#include "analytics/foundation/storage/GWLDatabase.h"

#include <cmath>
#include <limits>
#include <span>

#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/NANO.h"
#include "platform/compression/Gzip.h"

using namespace gwl_database;

namespace {

constexpr int32_t kMaxRetryCount = std::numeric_limits<int32_t>::max();

// The queue row as the dictionary form writes it (columns in name order).
const GWLStatementID kInsertBundle(
    "INSERT OR REPLACE INTO queue (bundle_end_timestamp, data, is_realtime, retry_count) VALUES (?, ?, ?, ?);");

platform::Array rowIDValues(const std::vector<int64_t>& rowIDs) {
  platform::Array values;
  for (int64_t id : rowIDs) values.emplace_back(id);
  return values;
}
std::string rowIDCondition(size_t count) {
  std::string placeholders = "?";
  for (size_t i = 1; i < count; ++i) placeholders += ",?";
  return "rowid IN (" + placeholders + ")";
}

}  // namespace

// ============================================================================
// Upload queue
// ============================================================================

bool GWLDatabase::insertBundle(const GWLPBMeasurementBundle& bundle, bool isRealtime, platform::Error* error) {
  auto bytes = bytesOf(bundle);
  if (!bytes) return fail(error, kArg, "Failed to insert nil bundle");
  auto& message = const_cast<GWLPBMeasurementBundle&>(bundle);  // the accessors only read here
  auto appID = NANOGetString(message, GWLPBMeasurementBundle::Field::app_id);
  if (!appID || appID->empty()) return fail(error, kArg, "Failed to insert bundle without App ID");
  const int64_t endMillis = NANOGetInt64(message, GWLPBMeasurementBundle::Field::end_timestamp);
  if (endMillis <= 0) return fail(error, kArg, "Failed to insert bundle without valid timestamp");
  if (!maybeDeleteStaleData(error)) return false;
  const double endTimestamp = static_cast<double>(endMillis) / 1000;
  if (std::fabs(now() - endTimestamp) > remoteConfig()->maxQueueTime()) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kBundleOutsideQueueTimeCode,
                            std::string(kBundleOutsideQueueTimeMessage));
  }
  auto compressed = platform::hvu_dataByGzippingData(*bytes);
  if (!compressed || compressed->empty()) return fail(error, kState, "Failed to compress bundle");
  monitor()->logWithLevel(kGWLLevelDebug, kSavingBundleCode, std::string(kSavingBundleMessage),
                          std::to_string(compressed->size()));
  // The row's values go straight to the prepared insert, in its column order.
  if (storeFailed(error, "Database not open")) return false;
  return store_->upsertRecord(kInsertBundle,
                              {endTimestamp, std::span<const uint8_t>(*compressed), int64_t{isRealtime ? 1 : 0},
                               int64_t{NANOGetInt32(message, GWLPBMeasurementBundle::Field::retry_count)}},
                              error);
}

std::optional<GWLQueuedBundle> GWLDatabase::queuedBundleFromRow(const platform::Dictionary& row,
                                                                platform::Error* error) {
  if (row.empty()) {
    GWLSetError(error, kData, "Cannot process empty rowData");
    return std::nullopt;
  }
  const platform::Object* data = field(row, "data");
  if (!data || !data->bytesValue() || data->bytesValue()->empty()) {
    GWLSetError(error, kData, "Cannot decompress an empty bundle data");
    return std::nullopt;
  }
  platform::Error inflateError;
  auto inflated = platform::hvu_dataByInflatingGzippedData(*data->bytesValue(), &inflateError);
  if (!inflated || inflated->empty()) {
    GWLSetError(error, kState, inflated ? "Decompressed bundle data is empty" : inflateError.description);
    return std::nullopt;
  }
  auto bundle = GWLPBMeasurementBundle::initWithBuffer(std::span<const uint8_t>(*inflated));
  if (!bundle) {
    GWLSetError(error, kState, "Unable to parse bundle from decompressed data");
    return std::nullopt;
  }
  const int64_t retries = intField(row, "retry_count", 0);
  if (retries > 0) NANOSetInt32(bundle, GWLPBMeasurementBundle::Field::retry_count, int32Of(retries));
  const platform::Object* rowID = field(row, "rowid");
  if (!rowID || !rowID->intValue()) {
    GWLSetError(error, kData, "Cannot process a queued bundle without row ID");
    return std::nullopt;
  }
  return GWLQueuedBundle{bundle, *rowID->intValue()};
}

std::optional<std::vector<GWLQueuedBundle>> GWLDatabase::queryBundlesWithCountLimit(int64_t countLimit,
                                                                                    int64_t sizeLimit,
                                                                                    platform::Error* error) {
  auto found = rows("SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?", {countLimit}, error);
  if (!found) return std::nullopt;
  std::vector<GWLQueuedBundle> taken;
  int64_t runningSize = 0;
  for (const auto& row : *found) {
    auto queued = queuedBundleFromRow(row, error);
    if (!queued) continue;
    auto bytes = queued->bundle->protoBuffer();
    const int64_t size = bytes ? static_cast<int64_t>(bytes->size()) : 0;
    if (!taken.empty() && runningSize + size > sizeLimit) break;
    taken.push_back(std::move(*queued));
    runningSize += size;
    if (runningSize > sizeLimit) break;
  }
  return taken;
}

std::optional<std::vector<GWLQueuedBundle>> GWLDatabase::queryBundlesWithRowIDs(const std::vector<int64_t>& rowIDs,
                                                                                platform::Error* error) {
  if (rowIDs.empty()) {
    GWLSetError(error, kData, "Received empty row IDs to process");
    return std::nullopt;
  }
  auto found = rows("SELECT rowid, data, retry_count FROM queue WHERE " + rowIDCondition(rowIDs.size()),
                    rowIDValues(rowIDs), error);
  if (!found) return std::nullopt;
  std::vector<GWLQueuedBundle> bundles;
  for (const auto& row : *found) {
    if (auto queued = queuedBundleFromRow(row, error)) bundles.push_back(std::move(*queued));
  }
  return bundles;
}

bool GWLDatabase::deleteBundlesWithRowIDs(const std::vector<int64_t>& rowIDs, platform::Error* error) {
  if (rowIDs.empty()) return fail(error, kData, "Received empty row IDs to process");
  return deleteWhere(kQueue, rowIDCondition(rowIDs.size()), rowIDValues(rowIDs), error);
}

bool GWLDatabase::incrementRetryCounterForBundlesWithIDs(const std::vector<int64_t>& rowIDs,
                                                         platform::Error* error) {
  if (rowIDs.empty()) return fail(error, kArg, "Failed to increment retry counter");
  auto atLimit = flag("SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? LIMIT 1)", {int64_t{kMaxRetryCount}},
                      error);
  if (!atLimit) return false;
  if (*atLimit) {
    monitor()->logWithLevel(kGWLLevelErrorSampled, kRetryLimitReachedCode, std::string(kRetryLimitReachedMessage));
  }
  platform::Array parameters = rowIDValues(rowIDs);
  parameters.emplace_back(int64_t{kMaxRetryCount});
  if (storeFailed(error, "Database not open")) return false;
  return store_->increaseColumn("retry_count", 1, kQueue, rowIDCondition(rowIDs.size()) + " AND retry_count < ?",
                                parameters, error);
}

std::optional<bool> GWLDatabase::isQueuedBundleTableEmpty(platform::Error* error) {
  return flag("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", {}, error);
}

std::optional<bool> GWLDatabase::containsRealtimeBundlesWithError(platform::Error* error) {
  return flag("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

std::optional<double> GWLDatabase::queryLatestBundleTime(platform::Error* error) {
  auto latest = number("SELECT MAX(bundle_end_timestamp) FROM queue", {}, error);
  if (!latest) return std::nullopt;
  return latest->numberValue();
}

std::optional<bool> GWLDatabase::maybeDeleteStaleData(platform::Error* error) {
  const double current = now();
  const double last = persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp() : 0;
  auto config = remoteConfig();
  if (std::fabs(current - last) <= config->databaseDeleteStaleBundlesInterval()) return false;
  const double maxAge = config->maxQueueTime();
  if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error) || !deleteStaleBundlesOlderThanMaxAge(maxAge, error)) {
    return std::nullopt;
  }
  if (persistedConfig_) persistedConfig_->setLastDeleteStaleBundlesTimestamp(current);
  return true;
}

bool GWLDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, platform::Error* error) {
  if (maxAge < 0) return fail(error, kArg, "Cannot delete stale bundles after negative time period");
  return deleteWhere(kQueue, "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)", {now(), maxAge},
                     error);
}
