#include "analytics/foundation/storage/GWLDatabase.h"

#include <span>
#include <string_view>

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/NANO.h"

using namespace gwl_database;

namespace {

constexpr int64_t kMetadataLimit = 100000;
constexpr int64_t kRawEventsPerRead = 1000;

// The raw-event row as the dictionary form writes it (columns in name order).
const GWLStatementID kInsertRawEvent(
    "INSERT OR REPLACE INTO raw_events (data, is_realtime, metadata_fingerprint, name, timestamp) "
    "VALUES (?, ?, ?, ?, ?);");

// The scalar value of a wire parameter (string, integer or double), if any.
std::optional<platform::Object> scalarOf(const std::shared_ptr<GWLPBEventParam>& param) {
  if (NANOHasField(param, GWLPBEventParam::Field::string_value)) {
    auto text = NANOGetString(param, GWLPBEventParam::Field::string_value);
    if (text) return platform::Object(*text);
    return std::nullopt;
  }
  if (NANOHasField(param, GWLPBEventParam::Field::int_value)) {
    return platform::Object(NANOGetInt64(param, GWLPBEventParam::Field::int_value));
  }
  if (NANOHasField(param, GWLPBEventParam::Field::double_value)) {
    return platform::Object(NANOGetDouble(param, GWLPBEventParam::Field::double_value));
  }
  return std::nullopt;
}

// One item of an array parameter: its named scalar values. Values without a
// name (which the library never writes) are left out.
std::optional<platform::Dictionary> itemFromWire(const std::shared_ptr<GWLPBEventParam>& item,
                                                 platform::Error* error) {
  if (!item) {
    GWLSetError(error, kArg, "Failed to parse empty event params data");
    return std::nullopt;
  }
  auto nested = NANOGetMessageArray<GWLPBEventParam>(item, GWLPBEventParam::Field::param_value);
  if (!nested || nested->empty()) {
    GWLSetError(error, kState, "Failed to parse invalid event params data");
    return std::nullopt;
  }
  platform::Dictionary values;
  for (const auto& param : *nested) {
    auto name = NANOGetString(param, GWLPBEventParam::Field::name);
    auto value = scalarOf(param);
    if (name && !name->empty() && value) values.insert_or_assign(*name, std::move(*value));
  }
  return values;
}

// A top-level wire parameter as a typed value.
std::optional<GWLValue> valueFromWire(const std::shared_ptr<GWLPBEventParam>& param, platform::Error* error) {
  if (auto scalar = scalarOf(param)) {
    if (const std::string* text = scalar->stringValue()) return GWLValue::initWithString(*text);
    if (scalar->isInt()) return GWLValue::initWithInt64(*scalar->intValue());
    return GWLValue::initWithDouble(*scalar->doubleValue());
  }
  auto items = NANOGetMessageArray<GWLPBEventParam>(param, GWLPBEventParam::Field::param_value);
  if (!items || items->empty()) {
    GWLSetError(error, kState, "Failed to parse invalid event params data");
    return std::nullopt;
  }
  platform::Array elements;
  for (const auto& item : *items) {
    platform::Error ignored;
    if (auto values = itemFromWire(item, &ignored)) elements.emplace_back(std::move(*values));
  }
  return GWLValue::initWithArray(std::move(elements));
}

}  // namespace

// ============================================================================
// Raw events
// ============================================================================

bool GWLDatabase::insertIfNotExistsRawEventMetadata(const GWLPBMeasurementBundle& metadata, platform::Error* error) {
  auto bytes = bytesOf(metadata);
  if (!bytes) {
    return fail(error, kData, "Received empty measurement bundle metadata for getting dictionary representation");
  }
  const auto fingerprint = static_cast<int64_t>(gwl_64LSBMD5(*bytes));
  platform::Error local;
  auto present = flag("SELECT EXISTS (SELECT 1 FROM raw_events_metadata WHERE metadata_fingerprint = ? LIMIT 1)",
                      {fingerprint}, &local);
  if (!present) {
    platform::setError(error, local);
    return false;
  }
  if (*present) return true;
  platform::Dictionary row = {{"metadata_fingerprint", fingerprint}, {"metadata", std::move(*bytes)}};
  return upsertDataType(row, kRawEventsMetadata, "metadata_fingerprint", fingerprint, kMetadataLimit, error);
}

std::shared_ptr<GWLPBMeasurementBundle> GWLDatabase::queryRawEventsMetadataWithFingerprint(int64_t fingerprint,
                                                                                           platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLPBMeasurementBundle>>(
      kRawEventsMetadata, "metadata_fingerprint", platform::Object(fingerprint), error,
      [](const platform::Dictionary& row,
         platform::Error* error) -> std::optional<std::shared_ptr<GWLPBMeasurementBundle>> {
        const platform::Object* metadata = field(row, "metadata");
        if (!metadata || !metadata->bytesValue()) {
          GWLSetError(error, kData, "Event metadata should not be empty for getting measurement bundle");
          return std::nullopt;
        }
        auto bundle = GWLPBMeasurementBundle::initWithBuffer(std::span<const uint8_t>(*metadata->bytesValue()));
        if (!bundle) {
          GWLSetError(error, kState, "Unable to parse bundle metadata");
          return std::nullopt;
        }
        return bundle;
      });
  if (!found) return nullptr;
  if (found->empty()) {
    GWLSetError(error, kData, "Received empty dictionary for getting measurement bundle");
    return nullptr;
  }
  return found->front();
}

bool GWLDatabase::deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, platform::Error* error) {
  return deleteWhere(kRawEventsMetadata, "metadata_fingerprint == ?", {fingerprint}, error);
}

bool GWLDatabase::deleteUnusedRawEventsMetadata(platform::Error* error) {
  return deleteWhere(kRawEventsMetadata,
                     "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)", {}, error);
}

bool GWLDatabase::insertRawEvent(const std::shared_ptr<GWLEvent>& event, int64_t metadataFingerprint,
                                 bool isRealtime, platform::Error* error) {
  if (!event) return fail(error, kArg, "Received empty event for inserting in the database");
  auto data = eventBlob(*event, true);
  if (!data) return fail(error, kData, "Received empty raw event data for getting dictionary representation");
  // The row's values go straight to the prepared insert, in its column order.
  if (storeFailed(error, "Database not open")) return false;
  return store_->upsertRecord(kInsertRawEvent,
                              {std::span<const uint8_t>(*data), int64_t{isRealtime ? 1 : 0}, metadataFingerprint,
                               std::string_view(event->name()), event->timestamp()},
                              error);
}

bool GWLDatabase::updateRawEvent(const std::shared_ptr<GWLRawEventData>& rawEvent, platform::Error* error) {
  if (!rawEvent || !rawEvent->rawEvent()) {
    return fail(error, kData, "Received empty raw event data for getting dictionary representation");
  }
  const GWLEvent& event = *rawEvent->rawEvent();
  auto data = eventBlob(event, true);
  if (!data) return fail(error, kData, "Received empty raw event data for getting dictionary representation");
  platform::Dictionary row = {{"name", event.name()},
                              {"timestamp", event.timestamp()},
                              {"metadata_fingerprint", rawEvent->metadataFingerprint()},
                              {"data", std::move(*data)},
                              {"is_realtime", int64_t{event.isRealtime() ? 1 : 0}}};
  return updateDataType(row, kRawEvents, "rowid", rawEvent->rowID(), error);
}

std::shared_ptr<GWLRawEventData> GWLDatabase::rawEventDataFromDictionary(const platform::Dictionary& row,
                                                                         platform::Error* error) {
  if (row.empty()) {
    GWLSetError(error, kArg, "Received empty dictionary for getting raw event data");
    return nullptr;
  }
  const platform::Object* rowID = field(row, "rowid");
  const platform::Object* data = field(row, "data");
  const platform::Object* fingerprint = field(row, "metadata_fingerprint");
  if (!rowID || !rowID->intValue()) {
    GWLSetError(error, kArg, "Unable to find row ID in the database dictionary");
    return nullptr;
  }
  if (!data || !data->bytesValue()) {
    GWLSetError(error, kArg, "Unable to find event data in the database dictionary");
    return nullptr;
  }
  if (!fingerprint || !fingerprint->intValue()) {
    GWLSetError(error, kArg, "Unable to find event metadata in the database dictionary");
    return nullptr;
  }
  auto proto = GWLPBEvent::initWithBuffer(std::span<const uint8_t>(*data->bytesValue()));
  if (!proto) {
    GWLSetError(error, kData, "Failed to parse event from data");
    return nullptr;
  }
  const platform::Object* nameField = field(row, "name");
  const std::string name = nameField && nameField->stringValue() ? *nameField->stringValue() : std::string();
  const double timestamp = doubleField(row, "timestamp", 0);
  const double previous = static_cast<double>(NANOGetInt64(proto, GWLPBEvent::Field::previous_timestamp)) / 1000;
  std::optional<std::string> origin;
  GWLRawParameters parameters;
  auto params = NANOGetMessageArray<GWLPBEventParam>(proto, GWLPBEvent::Field::params);
  for (const auto& param : params.value_or(std::vector<std::shared_ptr<GWLPBEventParam>>{})) {
    auto paramName = NANOGetString(param, GWLPBEventParam::Field::name);
    if (paramName && *paramName == kGWLEventOriginParameter) {
      auto text = NANOHasField(param, GWLPBEventParam::Field::string_value)
                      ? NANOGetString(param, GWLPBEventParam::Field::string_value)
                      : std::nullopt;
      if (!text) {
        GWLSetError(error, kState, "Cannot create an event from database. Origin parameter is not a string");
        return nullptr;
      }
      origin = *text;
      continue;
    }
    if (!paramName || paramName->empty()) {
      GWLSetError(error, kArg, "Event parameter name is empty");
      return nullptr;
    }
    auto value = valueFromWire(param, error);
    if (!value) {
      GWLSetError(error, kState, "Failed to parse event params data");
      return nullptr;
    }
    parameters.insert_or_assign(*paramName, *value);
  }
  if (!origin || origin->empty()) {
    GWLSetError(error, kState, "Cannot create an event from database. Missing origin parameter");
    return nullptr;
  }
  auto event =
      GWLEvent::initWithOrigin(*origin, false, name, timestamp, previous, parameters, remoteConfig()->valueLimits());
  auto record = event ? GWLRawEventData::initWithRawEvent(event, *rowID->intValue(), *fingerprint->intValue())
                      : nullptr;
  if (!record) GWLSetError(error, kState, "Failed to initialize raw event data from dictionary");
  return record;
}

std::optional<std::vector<std::shared_ptr<GWLRawEventData>>> GWLDatabase::allRawEventsWithError(
    platform::Error* error) {
  return allDataTypesFromTableWithName<std::shared_ptr<GWLRawEventData>>(
      kRawEvents, remoteConfig()->maxEventsStored(), error,
      [this](const platform::Dictionary& row,
             platform::Error* error) -> std::optional<std::shared_ptr<GWLRawEventData>> {
        auto record = rawEventDataFromDictionary(row, error);
        if (!record) return std::nullopt;
        return record;
      });
}

std::optional<std::vector<std::shared_ptr<GWLRawEventData>>> GWLDatabase::rawEventsWithMetadataFingerprint(
    int64_t fingerprint, platform::Error* error, const GWLRowFilter& eventFilter) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  auto found = store_->recordsForQuery(
      "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
      {fingerprint, kRawEventsPerRead}, error,
      eventFilter ? eventFilter : [](size_t, const platform::Dictionary&) { return true; });
  if (!found) return std::nullopt;
  std::vector<std::shared_ptr<GWLRawEventData>> records;
  for (const auto& row : *found) {
    if (auto record = rawEventDataFromDictionary(row, error)) records.push_back(std::move(record));
  }
  if (!found->empty() && records.empty()) return std::nullopt;
  return records;
}

std::optional<int64_t> GWLDatabase::nextMetadataFingerprintToProcess(platform::Error* error) {
  auto found = rows("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
  if (!found) return std::nullopt;
  if (found->size() != 1) {
    GWLSetError(error, kState, "Only one event metadata should be processed");
    return std::nullopt;
  }
  const platform::Object* fingerprint = field(found->front(), "metadata_fingerprint");
  if (!fingerprint || !fingerprint->intValue()) return std::nullopt;
  return *fingerprint->intValue();
}

std::optional<bool> GWLDatabase::containsRawEventWithMetadataFingerprint(int64_t fingerprint,
                                                                         platform::Error* error) {
  return flag("SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)", {fingerprint},
              error);
}

std::optional<bool> GWLDatabase::isRawEventsTableEmpty(platform::Error* error) {
  return flag("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", {}, error);
}

std::optional<bool> GWLDatabase::containsRealtimeRawEventsWithError(platform::Error* error) {
  return flag("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

std::optional<double> GWLDatabase::queryLatestRawEventTime(platform::Error* error) {
  auto latest = number("SELECT MAX(timestamp) FROM raw_events", {}, error);
  if (!latest) return std::nullopt;
  return latest->numberValue();
}

bool GWLDatabase::deleteRawEventsWithMaxRowID(int64_t rowID, platform::Error* error) {
  return deleteWhere(kRawEvents, "rowid <= ?", {rowID}, error);
}

std::optional<int64_t> GWLDatabase::deleteRawEventsOverAbsoluteLimit(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return std::nullopt;
  const int64_t keep = std::max<int64_t>(int64_t{remoteConfig()->maxEventsStored()} - 1, 0);
  return store_->deleteRecordsFromTableWithName(
      kRawEvents, "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)", {keep}, error);
}

bool GWLDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, platform::Error* error) {
  if (maxAge < 0) return fail(error, kArg, "Cannot delete stale raw events given negative time period");
  if (storeFailed(error, "Database not open")) return false;
  auto deleted = store_->deleteRecordsFromTableWithName(
      kRawEvents, "abs(timestamp - cast(? as REAL)) > cast(? as REAL)", {now(), maxAge}, error);
  if (!deleted) return false;
  return *deleted == 0 || deleteUnusedRawEventsMetadata(error);
}
