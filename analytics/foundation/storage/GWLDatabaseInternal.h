// Shared pieces of the measurement database's implementation, which is split
// into one file per section of GWLDatabase.h: the table names, the error codes
// of its failures, readers of row fields and the stored form of events. Only
// the database's own files include this header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/NANO.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace gwl_database {

inline constexpr int64_t kArg = kGWLErrorCodeInvalidArgument;
inline constexpr int64_t kState = kGWLErrorCodeOperationFailed;
inline constexpr int64_t kData = kGWLErrorCodeStoredData;

// Reports of the database, by code. The texts followed by " (" and a context
// are completed where they are reported.
inline constexpr int64_t kTablesFailedCode = 12002;
inline constexpr const char* kTablesFailedMessage = "Failed to create or validate required database tables";
inline constexpr int64_t kDeleteAfterValidationFailedCode = 12003;
inline constexpr const char* kDeleteAfterValidationFailedMessage =
    "Failed to delete old database file after failed validation. Error";
inline constexpr int64_t kAppMetadataInitFailedCode = 12004;
inline constexpr const char* kAppMetadataInitFailedMessage = "Failed to initialize App Metadata table";
inline constexpr int64_t kAppMetadataQueryFailedCode = 12005;
inline constexpr const char* kAppMetadataQueryFailedMessage = "Failed to query app metadata";
inline constexpr int64_t kAppMetadataUpdateFailedCode = 12006;
inline constexpr const char* kAppMetadataUpdateFailedMessage = "Unable to update the app metadata. Error";
inline constexpr int64_t kBundleOutsideQueueTimeCode = 12016;
inline constexpr const char* kBundleOutsideQueueTimeMessage = "Storing bundle outside of the max uploading time span";
inline constexpr int64_t kSavingBundleCode = 12018;
inline constexpr const char* kSavingBundleMessage = "Saving bundle. size (bytes)";
inline constexpr int64_t kEnsureTableFailedCode = 12047;
inline constexpr const char* kEnsureTableFailedMessage = "Failed to ensure table. Table, error";
inline constexpr int64_t kRetryLimitReachedCode = 12054;
inline constexpr const char* kRetryLimitReachedMessage =
    "The number of upload retries exceeds the limit. Will remain unchanged.";
// 12056 is reported with the store's error description after this text, or with kDatabaseNotOpenReason.
inline constexpr int64_t kTransactionFailedCode = 12056;
inline constexpr const char* kTransactionFailedMessage = "Transaction failed. ";
inline constexpr const char* kDatabaseNotOpenReason = "Database not open";
inline constexpr int64_t kEventSnapshotTableFailedCode = 12058;
inline constexpr const char* kEventSnapshotTableFailedMessage = "Failed to ensure event snapshot table";

inline constexpr const char* kAppMetadata = "app_metadata";
inline constexpr const char* kRawEventsMetadata = "raw_events_metadata";
inline constexpr const char* kRawEvents = "raw_events";
inline constexpr const char* kEvents = "events";
inline constexpr const char* kEventsSnapshot = "events_snapshot";
inline constexpr const char* kUserAttributes = "user_attributes";
inline constexpr const char* kQueue = "queue";
inline constexpr const char* kEventFilters = "event_filters";
inline constexpr const char* kPropertyFilters = "property_filters";
inline constexpr const char* kAudienceFilterValues = "audience_filter_values";
inline constexpr const char* kPurchaseTransactions = "purchase_transactions";
inline constexpr const char* kSubscriptions = "subscriptions";
inline constexpr const char* kConditionalProperties = "conditional_properties";
inline constexpr const char* kMainEventParams = "main_event_params";
inline constexpr const char* kODMValues = "odm_values";

inline std::shared_ptr<GWLMonitor> monitor() { return GWLLibraryMonitor::monitor(); }

[[nodiscard]] inline bool fail(platform::Error* error, int64_t code, const std::string& message) {
  GWLSetError(error, code, message);
  return false;
}

inline const platform::Object* field(const platform::Dictionary& row, const char* name) {
  auto it = row.find(name);
  return it == row.end() || it->second.isNull() ? nullptr : &it->second;
}
inline int64_t intField(const platform::Dictionary& row, const char* name, int64_t fallback) {
  const platform::Object* value = field(row, name);
  if (!value) return fallback;
  if (value->isDouble()) return static_cast<int64_t>(*value->doubleValue());
  return value->intValue().value_or(fallback);
}
inline double doubleField(const platform::Dictionary& row, const char* name, double fallback) {
  const platform::Object* value = field(row, name);
  return value && value->isNumber() ? *value->numberValue() : fallback;
}
inline int32_t int32Of(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

[[nodiscard]] inline std::optional<std::vector<uint8_t>> bytesOf(const NANOMessageBase& message) {
  auto bytes = message.protoBuffer();
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

// The stored form of an event: its wire message, without the name when asked.
[[nodiscard]] inline std::optional<std::vector<uint8_t>> eventBlob(const GWLEvent& event, bool withoutName) {
  auto proto = event.protoEvent();
  if (!proto) return std::nullopt;
  if (withoutName) NANOClearField(proto, GWLPBEvent::Field::name);
  return proto->protoBuffer();
}

// The event stored in a blob column, rebuilt under `limits`.
[[nodiscard]] inline std::shared_ptr<GWLEvent> eventFromBlob(const platform::Object& value, const GWLValueLimits& limits,
                                               platform::Error* error) {
  const platform::Bytes* bytes = value.bytesValue();
  if (!bytes) {
    GWLSetError(error, kState, "Failed to convert data to an event. Data must be a NSData instance");
    return nullptr;
  }
  auto proto = GWLPBEvent::initWithBuffer(std::span<const uint8_t>(*bytes));
  if (!proto) {
    GWLSetError(error, kState, "Failed to parse event from data");
    return nullptr;
  }
  auto event = GWLEvent::initWithEventProto(*proto, limits);
  if (!event) GWLSetError(error, kState, "Failed to initialize event from proto data");
  return event;
}

}  // namespace gwl_database
