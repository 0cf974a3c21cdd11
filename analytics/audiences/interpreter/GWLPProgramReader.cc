#include "analytics/audiences/interpreter/GWLPProgramReader.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/wire/GWLPBOgtActivities.h"
#include "analytics/wire/GWLPBOgtActivity.h"
#include "analytics/wire/NANO.h"

namespace {

// A present text field, or nothing for an absent one; false when the field
// is present but holds no valid text.
bool readText(NANOMessageBase& message, int32_t index, std::optional<std::string>& text, GWLPErrorOut& out) {
  if (!NANOHasField(&message, index)) return true;
  text = NANOGetString(&message, index);
  if (!text) out.fail(kGWLPErrorArgumentType);
  return text.has_value();
}

bool readEntity(GWLPBRuntimeEntity& message, int depth, GWLPRuntimeEntity& entity, GWLPErrorOut& out) {
  if (depth > kGWLPMaxEntityDepth) {
    out.fail(kGWLPErrorResourceLimit);
    return false;
  }
  using Field = GWLPBRuntimeEntity::Field;
  entity.kind = NANOGetInt32(&message, Field::kind);
  if (!readText(message, Field::function_name, entity.functionName, out) ||
      !readText(message, Field::string_value, entity.stringValue, out)) {
    return false;
  }
  if (NANOHasField(&message, Field::boolean_value)) entity.booleanValue = NANOGetBool(&message, Field::boolean_value);
  if (NANOHasField(&message, Field::number_value)) entity.numberValue = NANOGetDouble(&message, Field::number_value);
  auto arguments = NANOGetMessageArray<GWLPBRuntimeEntity>(&message, Field::value);
  if (!arguments) {
    out.fail(kGWLPErrorArgumentType);
    return false;
  }
  entity.value.resize(arguments->size());
  for (size_t i = 0; i < arguments->size(); ++i) {
    if (!(*arguments)[i] || !readEntity(*(*arguments)[i], depth + 1, entity.value[i], out)) {
      out.fail(kGWLPErrorArgumentType);
      return false;
    }
  }
  return true;
}

bool readEntities(NANOMessageBase& message, int32_t index, std::vector<GWLPRuntimeEntity>& entities,
                  GWLPErrorOut& out) {
  auto list = NANOGetMessageArray<GWLPBRuntimeEntity>(&message, index);
  if (!list) {
    out.fail(kGWLPErrorArgumentType);
    return false;
  }
  entities.resize(list->size());
  for (size_t i = 0; i < list->size(); ++i) {
    if (!(*list)[i] || !readEntity(*(*list)[i], 1, entities[i], out)) {
      out.fail(kGWLPErrorArgumentType);
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<GWLPProgram> GWLPProgramReader::programFromMessage(const std::shared_ptr<GWLPBProgram>& program,
                                                                 platform::Error* error) {
  GWLPErrorOut out(error);
  if (!program) {
    out.fail(kGWLPErrorArgumentType);
    return std::nullopt;
  }
  GWLPProgram result;
  if (!readEntities(*program, GWLPBProgram::Field::instructions, result.instructions, out)) return std::nullopt;
  auto activities = NANOGetMessage<GWLPBOgtActivities>(program, GWLPBProgram::Field::ogt_activities);
  if (!activities) return result;
  auto list = NANOGetMessageArray<GWLPBOgtActivity>(activities, GWLPBOgtActivities::Field::activities);
  if (!list) {
    out.fail(kGWLPErrorArgumentType);
    return std::nullopt;
  }
  for (const auto& activity : *list) {
    if (!activity) continue;
    GWLPOgtActivity item;
    std::optional<std::string> name;
    if (!readText(*activity, GWLPBOgtActivity::Field::activity_name, name, out)) return std::nullopt;
    item.activityName = name.value_or(std::string());
    if (!readEntities(*activity, GWLPBOgtActivity::Field::data, item.data, out)) return std::nullopt;
    result.activities.push_back(std::move(item));
  }
  return result;
}

std::optional<GWLPRuntimeEntity> GWLPProgramReader::entityFromMessage(
    const std::shared_ptr<GWLPBRuntimeEntity>& entity, platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPRuntimeEntity result;
  if (!entity) {
    out.fail(kGWLPErrorArgumentType);
    return std::nullopt;
  }
  if (!readEntity(*entity, 1, result, out)) return std::nullopt;
  return result;
}
