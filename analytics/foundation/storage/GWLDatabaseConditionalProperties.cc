#include "analytics/foundation/storage/GWLDatabase.h"

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/foundation/values/GWLEvent.h"

using namespace gwl_database;

namespace {

constexpr int64_t kConditionalPropertiesLimit = 1000;

// A LIKE pattern that matches `text` literally, with "!" as the escape character.
std::string escapedForLike(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '!' || c == '%' || c == '_') escaped += '!';
    escaped += c;
  }
  return escaped;
}

}  // namespace

// ============================================================================
// Conditional user properties
// ============================================================================

std::shared_ptr<GWLConditionalUserProperty> GWLDatabase::conditionalUserPropertyFromRow(
    const platform::Dictionary& row, platform::Error* error) {
  if (row.empty()) return nullptr;
  auto property = std::make_shared<GWLConditionalUserProperty>();
  const platform::Object* name = field(row, "name");
  const platform::Object* origin = field(row, "origin");
  const platform::Object* value = field(row, "value");
  if (name && name->stringValue()) property->name = *name->stringValue();
  if (origin && origin->stringValue()) property->origin = *origin->stringValue();
  if (value) property->value = GWLValue::valueFromObject(*value);
  property->triggerTimeout = doubleField(row, "trigger_timeout", 0);
  property->timeToLive = doubleField(row, "time_to_live", 0);
  if (const platform::Object* trigger = field(row, "trigger_event_name"); trigger && trigger->stringValue()) {
    property->triggerEventName = *trigger->stringValue();
  }
  // A stored event that cannot be read fails the row, whatever the caller
  // passed for the error.
  const std::pair<const char*, std::shared_ptr<GWLEvent> GWLConditionalUserProperty::*> events[] = {
      {"triggered_event", &GWLConditionalUserProperty::triggeredEvent},
      {"timed_out_event", &GWLConditionalUserProperty::timedOutEvent},
      {"expired_event", &GWLConditionalUserProperty::expiredEvent}};
  for (const auto& [column, member] : events) {
    const platform::Object* blob = field(row, column);
    if (!blob) continue;
    auto event = eventFromBlob(*blob, remoteConfig()->valueLimits(), error);
    if (!event) return nullptr;
    (*property).*member = event;
  }
  property->active = intField(row, "active", 0) != 0;
  property->creationTimestamp = doubleField(row, "creation_timestamp", 0);
  property->triggeredTimestamp = doubleField(row, "triggered_timestamp", 0);
  return property;
}

std::shared_ptr<GWLConditionalUserProperty> GWLDatabase::conditionalUserPropertyWithName(const std::string& name,
                                                                                         platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLConditionalUserProperty>>(
      kConditionalProperties, "name", platform::Object(name), error,
      [this](const platform::Dictionary& row,
             platform::Error* error) -> std::optional<std::shared_ptr<GWLConditionalUserProperty>> {
        auto property = conditionalUserPropertyFromRow(row, error);
        if (!property) return std::nullopt;
        return property;
      });
  if (!found || found->empty()) return nullptr;
  return found->front();
}

bool GWLDatabase::updateConditionalUserProperty(const std::shared_ptr<GWLConditionalUserProperty>& property,
                                                platform::Error* error) {
  if (!property) {
    return fail(error, kData, "Received empty conditional user property for getting dictionary representation");
  }
  if (property->name.empty()) {
    return fail(error, kData,
                "Received conditional user property with empty name for getting dictionary representation");
  }
  if (property->origin.empty()) {
    return fail(error, kData,
                "Received conditional user property with empty origin for getting dictionary representation");
  }
  if (!property->value) {
    return fail(error, kData,
                "Received conditional user property with nil value for getting dictionary representation");
  }
  platform::Dictionary row = {{"name", property->name},
                              {"origin", property->origin},
                              {"value", objectForColumn(*property->value)},
                              {"creation_timestamp", property->creationTimestamp},
                              {"active", int64_t{property->active ? 1 : 0}},
                              {"trigger_timeout", property->triggerTimeout},
                              {"triggered_timestamp", property->triggeredTimestamp},
                              {"time_to_live", property->timeToLive}};
  if (!property->triggerEventName.empty()) row.emplace("trigger_event_name", property->triggerEventName);
  const std::pair<const char*, const std::shared_ptr<GWLEvent>*> events[] = {
      {"triggered_event", &property->triggeredEvent},
      {"timed_out_event", &property->timedOutEvent},
      {"expired_event", &property->expiredEvent}};
  for (const auto& [column, event] : events) {
    if (!*event) continue;
    auto blob = eventBlob(**event, false);
    if (!blob) return fail(error, kData, "Cannot create the event blob of a conditional user property");
    row.emplace(column, std::move(*blob));
  }
  return upsertDataType(row, kConditionalProperties, "name", property->name, kConditionalPropertiesLimit, error);
}

bool GWLDatabase::deleteConditionalUserPropertyWithName(const std::string& name, platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteRecordFromTableWithName(kConditionalProperties, "name", platform::Object(name), error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::timedOutConditionalUserPropertiesWithError(
    platform::Error* error) {
  return conditionalUserPropertiesWithCondition("active=0 and abs(? - creation_timestamp) > trigger_timeout", {now()},
                                                error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::expiredConditionalUserPropertiesWithError(
    platform::Error* error) {
  return conditionalUserPropertiesWithCondition("active=1 and abs(? - triggered_timestamp) > time_to_live", {now()},
                                                error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::triggeredConditionalUserPropertiesWithEventName(
    const std::string& eventName, platform::Error* error) {
  if (eventName.empty()) {
    GWLSetError(error, kArg, "Received nil/empty event name for querying triggered conditional user properties");
    return std::nullopt;
  }
  return conditionalUserPropertiesWithCondition(
      "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout", {eventName, now()},
      error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::conditionalUserPropertiesWithPrefix(
    const std::optional<std::string>& prefix, const std::optional<std::string>& origin, platform::Error* error) {
  std::vector<std::string> terms;
  platform::Array values;
  if (origin && !origin->empty()) {
    terms.push_back("origin LIKE ? ESCAPE '!'");
    values.emplace_back(escapedForLike(*origin));
  }
  if (prefix && !prefix->empty()) {
    terms.push_back("name LIKE ? || '%' ESCAPE '!'");
    values.emplace_back(escapedForLike(*prefix));
  }
  std::string condition;
  for (const auto& term : terms) condition += (condition.empty() ? "" : " AND ") + term;
  if (condition.empty()) condition = "1 == 1";
  return conditionalUserPropertiesWithCondition(condition, values, error);
}

std::optional<GWLDatabase::ConditionalUserProperties> GWLDatabase::conditionalUserPropertiesWithCondition(
    const std::string& condition, const platform::Array& parameterValues, platform::Error* error) {
  if (condition.empty()) {
    GWLSetError(error, kArg, "Received empty condition for querying a conditional user property");
    return std::nullopt;
  }
  auto found = rows("SELECT rowid, * FROM conditional_properties WHERE " + condition, parameterValues, error);
  if (!found) return std::nullopt;
  ConditionalUserProperties properties;
  for (const auto& row : *found) {
    platform::Error rowError;
    auto property = conditionalUserPropertyFromRow(row, &rowError);
    if (!property) {
      if (rowError.domain.empty()) GWLSetError(&rowError, kData, "Failed to read a conditional user property");
      platform::setError(error, rowError);
      return std::nullopt;
    }
    properties.push_back(std::move(property));
  }
  return properties;
}
