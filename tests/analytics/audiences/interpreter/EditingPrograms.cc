#include "EditingPrograms.h"

#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/wire/GWLPBOgtActivities.h"
#include "analytics/wire/GWLPBOgtActivity.h"
#include "analytics/wire/GWLPBRuntimeEntity.h"
#include "analytics/wire/NANO.h"

namespace editing_test {

using namespace script;

GWLPRuntimeEntity Entity(const GWLPValueRef& value) {
  GWLPRuntimeEntity entity;
  switch (value->valueKind()) {
    case GWLPValueKind::String:
      entity.kind = kGWLPEntityKindString;
      entity.stringValue = static_cast<const GWLPStringValue&>(*value).value();
      break;
    case GWLPValueKind::Number:
      entity.kind = kGWLPEntityKindNumber;
      entity.numberValue = static_cast<const GWLPNumberValue&>(*value).value();
      break;
    case GWLPValueKind::Boolean:
      entity.kind = kGWLPEntityKindBoolean;
      entity.booleanValue = static_cast<const GWLPBooleanValue&>(*value).value();
      break;
    case GWLPValueKind::Statement: {
      const auto& statement = static_cast<const GWLPStatementValue&>(*value);
      entity.kind = kGWLPEntityKindStatement;
      entity.functionName = statement.functionName();
      for (const auto& argument : statement.arguments()) entity.value.push_back(Entity(argument));
      break;
    }
    default:
      break;  // no entity form: kind 0
  }
  return entity;
}

GWLPProgram ProgramOf(const std::vector<GWLPValueRef>& instructions, const std::vector<Activity>& activities) {
  GWLPProgram program;
  for (const auto& instruction : instructions) program.instructions.push_back(Entity(instruction));
  for (const auto& activity : activities) {
    GWLPOgtActivity item;
    item.activityName = activity.name;
    for (const auto& entry : activity.entries) item.data.push_back(Entity(entry));
    program.activities.push_back(std::move(item));
  }
  return program;
}

namespace {

std::shared_ptr<GWLPBRuntimeEntity> messageOf(const GWLPRuntimeEntity& entity) {
  using Field = GWLPBRuntimeEntity::Field;
  auto message = GWLPBRuntimeEntity::initWithMessageInfo();
  NANOSetInt32(message, Field::kind, entity.kind);
  if (entity.functionName) NANOSetString(message, Field::function_name, *entity.functionName);
  if (entity.stringValue) NANOSetString(message, Field::string_value, *entity.stringValue);
  if (entity.booleanValue) NANOSetBool(message, Field::boolean_value, *entity.booleanValue);
  if (entity.numberValue) NANOSetDouble(message, Field::number_value, *entity.numberValue);
  std::vector<NANOValue> arguments;
  for (const auto& argument : entity.value) arguments.emplace_back(std::shared_ptr<NANOMessageBase>(messageOf(argument)));
  NANOSetArray(message, Field::value, arguments);
  return message;
}

std::vector<NANOValue> messagesOf(const std::vector<GWLPRuntimeEntity>& entities) {
  std::vector<NANOValue> messages;
  for (const auto& entity : entities) messages.emplace_back(std::shared_ptr<NANOMessageBase>(messageOf(entity)));
  return messages;
}

}  // namespace

std::shared_ptr<GWLPBProgram> MessageOf(const GWLPProgram& program) {
  auto message = GWLPBProgram::initWithMessageInfo();
  NANOSetArray(message, GWLPBProgram::Field::instructions, messagesOf(program.instructions));
  std::vector<NANOValue> activities;
  for (const auto& activity : program.activities) {
    auto item = GWLPBOgtActivity::initWithMessageInfo();
    NANOSetString(item, GWLPBOgtActivity::Field::activity_name, activity.activityName);
    NANOSetArray(item, GWLPBOgtActivity::Field::data, messagesOf(activity.data));
    activities.emplace_back(std::shared_ptr<NANOMessageBase>(item));
  }
  auto list = GWLPBOgtActivities::initWithMessageInfo();
  NANOSetArray(list, GWLPBOgtActivities::Field::activities, activities);
  NANOSetMessage(message, GWLPBProgram::Field::ogt_activities, list);
  return message;
}

GWLPValueRef RuleActivity() {
  return C(50, {S("rule"), Arr({S("o")}), Let("reg", Require("internal.registerCallback")),
                Invoke("reg", {S("rule"), Get(Var("o"), S("fn")), Var("o")})});
}

GWLPValueRef FnOf(const std::string& name, const std::vector<std::string>& parameters,
                  const std::vector<GWLPValueRef>& body) {
  GWLPValueList names;
  for (const auto& parameter : parameters) names.push_back(S(parameter));
  GWLPValueList arguments = {S(name), std::make_shared<GWLPStatementValue>("7", names)};
  arguments.insert(arguments.end(), body.begin(), body.end());
  return std::make_shared<GWLPStatementValue>("51", arguments);
}

GWLPValueRef Entry(const std::string& type, std::optional<double> priority, const std::vector<GWLPValueRef>& body) {
  if (priority) return Obj({S("type"), S(type), S("priority"), N(*priority), S("fn"), FnOf("", {"e"}, body)});
  return Obj({S("type"), S(type), S("fn"), FnOf("", {"e"}, body)});
}

GWLPProgram Program(const std::vector<GWLPValueRef>& entries, const std::vector<GWLPValueRef>& preamble) {
  std::vector<GWLPValueRef> instructions = {RuleActivity()};
  instructions.insert(instructions.end(), preamble.begin(), preamble.end());
  return ProgramOf(instructions, {{"rule", entries}});
}

GWLPValueRef E(const std::string& method, Values arguments) { return Call(Var("e"), method, arguments); }

GWLPValueRef Require(const std::string& name) { return Invoke("require", {S(name)}); }

}  // namespace editing_test
