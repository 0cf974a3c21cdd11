#include "analytics/foundation/storage/GWLDatabase.h"

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"

using namespace gwl_database;

// ============================================================================
// Event aggregates
// ============================================================================

namespace {
std::optional<std::shared_ptr<GWLEventAggregates>> aggregatesFromRow(const platform::Dictionary& row,
                                                                     platform::Error* error) {
  const platform::Object* name = field(row, "name");
  if (!name || !name->stringValue()) {
    GWLSetError(error, kData, "Received empty dictionary for getting event aggregates");
    return std::nullopt;
  }
  auto aggregates = GWLEventAggregates::initWithName(
      *name->stringValue(), int32Of(intField(row, "lifetime_count", -1)),
      int32Of(intField(row, "current_bundle_count", -1)), int32Of(intField(row, "current_session_count", 0)),
      doubleField(row, "last_fire_timestamp", 0));
  if (!aggregates) {
    GWLSetError(error, kState, "Failed to initialize event aggregates from dictionary");
    return std::nullopt;
  }
  aggregates->setLastBundledTimestamp(doubleField(row, "last_bundled_timestamp", 0));
  if (const platform::Object* id = field(row, "last_sampled_complex_event_id"); id && id->intValue()) {
    aggregates->setLastSampledComplexEventID(*id->intValue());
  }
  aggregates->setLastSamplingRate(int32Of(intField(row, "last_sampling_rate", 1)));
  aggregates->setLastExemptFromSampling(intField(row, "last_exempt_from_sampling", 0) != 0);
  aggregates->setLastBundledDay(int32Of(intField(row, "last_bundled_day", 0)));
  return aggregates;
}
}  // namespace

std::shared_ptr<GWLEventAggregates> GWLDatabase::eventAggregatesWithName(const std::string& name,
                                                                         platform::Error* error) {
  return eventAggregatesWithName(name, kEvents, error);
}

std::shared_ptr<GWLEventAggregates> GWLDatabase::eventAggregatesSnapshotWithName(const std::string& name,
                                                                                 platform::Error* error) {
  if (storeFailed(error, "Database not open")) return nullptr;
  auto exists = store_->tableExists(kEventsSnapshot, error);
  if (!exists || !*exists) return nullptr;
  return eventAggregatesWithName(name, kEventsSnapshot, error);
}

std::shared_ptr<GWLEventAggregates> GWLDatabase::eventAggregatesWithName(const std::string& name,
                                                                         const std::string& table,
                                                                         platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLEventAggregates>>(table, "name", platform::Object(name),
                                                                               error, aggregatesFromRow);
  if (!found || found->empty()) return nullptr;
  return found->front();
}

std::optional<std::vector<std::shared_ptr<GWLEventAggregates>>> GWLDatabase::allEventAggregates(
    platform::Error* error) {
  return allDataTypesFromTableWithName<std::shared_ptr<GWLEventAggregates>>(kEvents, -1, error, aggregatesFromRow);
}

std::optional<int64_t> GWLDatabase::publicEventCount(platform::Error* error) {
  auto count = number("SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
  if (!count) return std::nullopt;
  return count->intValue();
}

bool GWLDatabase::updateEventAggregates(const std::shared_ptr<GWLEventAggregates>& aggregates,
                                        platform::Error* error) {
  if (!aggregates) {
    return fail(error, kData, "Received empty event aggregates object for getting dictionary representation");
  }
  if (aggregates->name().empty()) {
    return fail(error, kArg, "Received event aggregates object with empty name for getting dictionary representation");
  }
  platform::Dictionary row = {{"name", aggregates->name()},
                              {"lifetime_count", int64_t{aggregates->lifetimeCount()}},
                              {"current_bundle_count", int64_t{aggregates->currentBundleCount()}},
                              {"last_fire_timestamp", aggregates->lastFireTimestamp()},
                              {"last_bundled_timestamp", aggregates->lastBundledTimestamp()},
                              {"last_sampling_rate", int64_t{aggregates->lastSamplingRate()}},
                              {"last_exempt_from_sampling", int64_t{aggregates->lastExemptFromSampling() ? 1 : 0}},
                              {"last_bundled_day", int64_t{aggregates->lastBundledDay()}},
                              {"current_session_count", int64_t{aggregates->currentSessionCount()}}};
  if (aggregates->lastSampledComplexEventID()) {
    row.emplace("last_sampled_complex_event_id", *aggregates->lastSampledComplexEventID());
  }
  return upsertDataType(row, kEvents, "name", aggregates->name(), -1, error);
}

bool GWLDatabase::clearCurrentSessionCounts(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->updateAllRecordsInTableWithName(kEvents, "current_session_count", platform::Object(int64_t{0}),
                                                 error);
}

bool GWLDatabase::deleteAllEventAggregates(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kEvents, error);
}

bool GWLDatabase::deleteAllEventAggregatesInSnapshot(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kEventsSnapshot, error);
}

bool GWLDatabase::createEventsSnapshotTable(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  auto exists = store_->tableExists(kEventsSnapshot, error);
  if (!exists) return false;
  // A snapshot table that cannot be dropped fails here with the drop's error:
  // the creation after it could only report that the table already exists.
  if ((*exists && !store_->dropTableWithName(kEventsSnapshot, error)) ||
      !store_->createEmptyTable(kEventsSnapshot, kEvents, error)) {
    monitor()->logWithLevel(kGWLLevelWarningSampled, kEventSnapshotTableFailedCode,
                            std::string(kEventSnapshotTableFailedMessage));
    return false;
  }
  return store_->copyContentsFromTable(kEvents, kEventsSnapshot, error);
}

bool GWLDatabase::restoreFromEventsSnapshotTable(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  auto exists = store_->tableExists(kEventsSnapshot, error);
  if (!exists) return false;
  if (!*exists) return true;
  auto count = store_->rowCountForTableWithName(kEventsSnapshot, error);
  if (!count) return false;
  if (*count == 0) return true;
  platform::Error readError;
  auto currentFirstOpen = eventAggregatesWithName("_f", &readError);
  if (!currentFirstOpen && !readError.domain.empty()) {
    platform::setError(error, readError);
    return false;
  }
  if (!store_->deleteAllRecordsFromTableWithName(kEvents, error) ||
      !store_->copyContentsFromTable(kEventsSnapshot, kEvents, error)) {
    return false;
  }
  auto snapshotFirstOpen = eventAggregatesWithName("_f", kEventsSnapshot, &readError);
  if ((!snapshotFirstOpen || snapshotFirstOpen->lifetimeCount() == 0) && currentFirstOpen &&
      !updateEventAggregates(currentFirstOpen, error)) {
    return false;
  }
  return store_->deleteAllRecordsFromTableWithName(kEventsSnapshot, error);
}
