#include "analytics/foundation/storage/GWLDatabase.h"

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"

using namespace gwl_database;

namespace {

constexpr int64_t kODMValuesLimit = 10;

}  // namespace

// ============================================================================
// On-device measurement values
// ============================================================================

std::optional<platform::Dictionary> GWLDatabase::ODMValueWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received ODM value with empty name for query");
    return std::nullopt;
  }
  auto found = dataTypesFromTableWithName<platform::Dictionary>(
      kODMValues, "name", platform::Object(name), error,
      [](const platform::Dictionary& row, platform::Error*) -> std::optional<platform::Dictionary> { return row; });
  if (!found || found->empty()) return std::nullopt;
  return found->front();
}

bool GWLDatabase::updateODMValue(const std::string& value, const std::string& name, double setTimestamp,
                                 platform::Error* error) {
  if (value.empty()) return fail(error, kArg, "Received empty ODM value for update");
  if (name.empty()) return fail(error, kArg, "Received ODM value with empty name for update");
  return upsertDataType({{"name", name}, {"value", value}, {"set_timestamp", setTimestamp}}, kODMValues, "name", name,
                        kODMValuesLimit, error);
}

bool GWLDatabase::deleteODMValueWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) return fail(error, kArg, "Received ODM value with empty name for delete");
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordFromTableWithName(kODMValues, "name", platform::Object(name), error);
}
