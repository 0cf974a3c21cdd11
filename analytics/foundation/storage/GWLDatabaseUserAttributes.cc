#include "analytics/foundation/storage/GWLDatabase.h"

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/foundation/values/GWLUserAttribute.h"

using namespace gwl_database;

namespace {

constexpr int64_t kUserAttributesLimit = 1000;

}  // namespace

// ============================================================================
// User attributes
// ============================================================================

namespace {
std::optional<std::shared_ptr<GWLUserAttribute>> userAttributeFromRow(const platform::Dictionary& row,
                                                                      platform::Error* error) {
  if (row.empty()) {
    GWLSetError(error, kData, "Received empty dictionary for getting user property");
    return std::nullopt;
  }
  const platform::Object* name = field(row, "name");
  const platform::Object* origin = field(row, "origin");
  const platform::Object* stored = field(row, "value");
  auto value = stored ? GWLValue::valueFromObject(*stored) : std::nullopt;
  if (!name || !name->stringValue() || !value) {
    GWLSetError(error, kState, "Failed to initialize user property from dictionary");
    return std::nullopt;
  }
  auto attribute =
      GWLUserAttribute::initWithOrigin(origin && origin->stringValue() ? *origin->stringValue() : std::string(),
                                       *name->stringValue(), *value, doubleField(row, "set_timestamp", 0));
  if (!attribute) {
    GWLSetError(error, kState, "Failed to initialize user property from dictionary");
    return std::nullopt;
  }
  return attribute;
}
}  // namespace

std::optional<int64_t> GWLDatabase::publicUserAttributeCount(platform::Error* error) {
  auto count = number("SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
  if (!count) return std::nullopt;
  return count->intValue();
}

std::optional<int64_t> GWLDatabase::userAttributeCountForOrigin(const std::string& origin, platform::Error* error) {
  if (origin.empty()) {
    GWLSetError(error, kArg, "Received empty user property origin for count query");
    return std::nullopt;
  }
  auto count = number("SELECT count(1) FROM user_attributes WHERE origin = ?", {origin}, error);
  if (!count) return std::nullopt;
  return count->intValue();
}

std::optional<bool> GWLDatabase::containsUserAttributeWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty user property name for exists query");
    return std::nullopt;
  }
  return flag("SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)", {name}, error);
}

std::shared_ptr<GWLUserAttribute> GWLDatabase::userAttributeWithName(const std::string& name,
                                                                     platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLUserAttribute>>(
      kUserAttributes, "name", platform::Object(name), error, userAttributeFromRow);
  if (!found || found->empty()) return nullptr;
  return found->front();
}

std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> GWLDatabase::allLifetimeValueUserAttributes(
    platform::Error* error) {
  auto found =
      rows("SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' ORDER BY set_timestamp DESC", {}, error);
  if (!found) return std::nullopt;
  std::vector<std::shared_ptr<GWLUserAttribute>> attributes;
  for (const auto& row : *found) {
    auto attribute = userAttributeFromRow(row, error);
    if (!attribute) return std::nullopt;
    attributes.push_back(std::move(*attribute));
  }
  return attributes;
}

std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> GWLDatabase::userAttributesIncludingInternal(
    bool includeInternal, platform::Error* error) {
  auto all = allDataTypesFromTableWithName<std::shared_ptr<GWLUserAttribute>>(kUserAttributes, kUserAttributesLimit,
                                                                              error, userAttributeFromRow);
  if (!all) return std::nullopt;
  if (includeInternal) return all;
  const auto& internalNames = GWLPublicToInternalUserPropertyNameMap();
  std::vector<std::shared_ptr<GWLUserAttribute>> visible;
  for (auto& attribute : *all) {
    const std::string& name = attribute->name();
    if (name.starts_with("_") || GWLDataTypeValidator::hasReservedPrefixes(name) || internalNames.count(name)) continue;
    visible.push_back(std::move(attribute));
  }
  return visible;
}

bool GWLDatabase::updateUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute, platform::Error* error) {
  if (!attribute) return fail(error, kData, "Received empty user property for getting dictionary representation");
  if (attribute->origin().empty()) {
    return fail(error, kData, "Received user property with empty origin for getting dictionary representation");
  }
  if (attribute->name().empty()) {
    return fail(error, kArg, "Received user property with empty name for getting dictionary representation");
  }
  const std::string* text = attribute->value().stringValue();
  if (text && text->empty()) return fail(error, kArg, "Received empty string value for user property");
  platform::Dictionary row = {{"origin", attribute->origin()},
                              {"name", attribute->name()},
                              {"value", objectForColumn(attribute->value())},
                              {"set_timestamp", attribute->lastSetTimestamp()}};
  return upsertDataType(row, kUserAttributes, "name", attribute->name(), kUserAttributesLimit, error);
}

bool GWLDatabase::deleteUserAttributeWithName(const std::string& name, platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordFromTableWithName(kUserAttributes, "name", platform::Object(name), error);
}
