// Reading the program messages of the configuration into the interpreter's
// program form, and running what arrives as bytes.
#include <gtest/gtest.h>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPProgramReader.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/wire/GWLPBOgtActivities.h"
#include "analytics/wire/GWLPBOgtActivity.h"
#include "analytics/wire/NANO.h"

using namespace interpreter_test;

namespace {

using Field = GWLPBRuntimeEntity::Field;

std::shared_ptr<GWLPBRuntimeEntity> entity(int32_t kind) {
  auto message = GWLPBRuntimeEntity::initWithMessageInfo();
  NANOSetInt32(message, Field::kind, kind);
  return message;
}

std::shared_ptr<GWLPBRuntimeEntity> statement(const std::string& name,
                                              std::vector<std::shared_ptr<GWLPBRuntimeEntity>> arguments) {
  auto message = entity(kGWLPEntityKindStatement);
  NANOSetString(message, Field::function_name, name);
  std::vector<NANOValue> values(arguments.begin(), arguments.end());
  NANOSetArray(message, Field::value, values);
  return message;
}

std::shared_ptr<GWLPBRuntimeEntity> text(const std::string& value) {
  auto message = entity(kGWLPEntityKindString);
  NANOSetString(message, Field::string_value, value);
  return message;
}

std::shared_ptr<GWLPBProgram> program(std::vector<std::shared_ptr<GWLPBRuntimeEntity>> instructions) {
  auto message = GWLPBProgram::initWithMessageInfo();
  std::vector<NANOValue> values(instructions.begin(), instructions.end());
  NANOSetArray(message, GWLPBProgram::Field::instructions, values);
  return message;
}

TEST(GWLPProgramReaderTest, ReadsEntitiesAndActivitiesKeepingAbsentFieldsAbsent) {
  auto number = entity(kGWLPEntityKindNumber);
  NANOSetDouble(number, Field::number_value, -1.5);
  auto flag = entity(kGWLPEntityKindBoolean);
  NANOSetBool(flag, Field::boolean_value, false);
  auto bare = GWLPBRuntimeEntity::initWithMessageInfo();
  auto message = program({statement("define", {text("rule"), number, flag, bare})});

  auto activity = GWLPBOgtActivity::initWithMessageInfo();
  NANOSetString(activity, GWLPBOgtActivity::Field::activity_name, std::string("rule"));
  NANOSetArray(activity, GWLPBOgtActivity::Field::data, std::vector<NANOValue>{statement("map", {})});
  auto activities = GWLPBOgtActivities::initWithMessageInfo();
  NANOSetArray(activities, GWLPBOgtActivities::Field::activities,
               std::vector<NANOValue>{activity, GWLPBOgtActivity::initWithMessageInfo()});
  NANOSetMessage(message, GWLPBProgram::Field::ogt_activities, activities);

  platform::Error error;
  auto read = GWLPProgramReader::programFromMessage(message, &error);
  ASSERT_TRUE(read) << error.toString();
  ASSERT_EQ(read->instructions.size(), 1u);
  const GWLPRuntimeEntity& define = read->instructions[0];
  EXPECT_EQ(define.kind, kGWLPEntityKindStatement);
  EXPECT_EQ(define.functionName, "define");
  ASSERT_EQ(define.value.size(), 4u);
  EXPECT_EQ(define.value[0].stringValue, "rule");
  EXPECT_EQ(define.value[1].numberValue, -1.5);
  EXPECT_FALSE(define.value[1].stringValue.has_value());
  EXPECT_EQ(define.value[2].booleanValue, false);
  EXPECT_EQ(define.value[3].kind, 0);
  EXPECT_FALSE(define.value[3].functionName || define.value[3].stringValue || define.value[3].booleanValue ||
               define.value[3].numberValue);

  ASSERT_EQ(read->activities.size(), 2u);
  EXPECT_EQ(read->activities[0].activityName, "rule");
  ASSERT_EQ(read->activities[0].data.size(), 1u);
  EXPECT_EQ(read->activities[0].data[0].functionName, "map");
  EXPECT_EQ(read->activities[1].activityName, "");
  EXPECT_TRUE(read->activities[1].data.empty());

  auto withoutActivities = GWLPProgramReader::programFromMessage(program({}), &error);
  ASSERT_TRUE(withoutActivities);
  EXPECT_TRUE(withoutActivities->activities.empty());
}

TEST(GWLPProgramReaderTest, NestingBeyondTheBoundIsRefused) {
  auto nested = text("leaf");
  for (int i = 0; i < kGWLPMaxEntityDepth + 1; ++i) nested = statement("0", {nested});
  platform::Error error;
  EXPECT_FALSE(GWLPProgramReader::programFromMessage(program({nested}), &error));
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
}

TEST(GWLPProgramReaderTest, TextThatIsNotUTF8IsRefused) {
  // Program { instructions { kind: 1 string_value: "\xFF" } }
  const std::vector<uint8_t> bytes = {0x0A, 0x05, 0x08, 0x01, 0x22, 0x01, 0xFF};
  auto message = GWLPBProgram::initWithBuffer(bytes);
  if (!message) GTEST_SKIP() << "the decoder refuses it already";
  platform::Error error;
  EXPECT_FALSE(GWLPProgramReader::programFromMessage(message, &error));
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorArgumentType));
}

TEST(GWLPProgramReaderTest, ProgramBytesDecodeConvertAndRun) {
  auto encoded = program({statement("require", {text("internal.platform")})})->protoBuffer();
  ASSERT_TRUE(encoded);
  auto decoded = GWLPBProgram::initWithBuffer(*encoded);
  ASSERT_TRUE(decoded);
  platform::Error error;
  auto read = GWLPProgramReader::programFromMessage(decoded, &error);
  ASSERT_TRUE(read);
  GWLPRuntime runtime;
  GWLPValueRef module = runtime.executeStatements(read->instructions, &error);
  EXPECT_FALSE(GWLPFailed(error)) << error.toString();
  EXPECT_EQ(Describe(module), "internal.platform");
}

}  // namespace
