#include "base/initializer.h"

#include <gtest/gtest.h>

namespace base {
namespace {

void NoOp() {}

TEST(InitializerTest, ModuleInitializersAreRegisteredAtStart) {
  EXPECT_TRUE(InitializerRegistry::IsRegistered("module", "command_line_flags_parsing"));
  EXPECT_TRUE(InitializerRegistry::IsRegistered("module", "command_line_flags_parsed"));
  EXPECT_FALSE(InitializerRegistry::IsRegistered("module", "no_such_initializer"));
}

TEST(InitializerTest, ModuleBodiesRequireTheirFlagParsingPhase) {
  const auto* parsing = InitializerRegistry::Find("module", "command_line_flags_parsing");
  const auto* parsed = InitializerRegistry::Find("module", "command_line_flags_parsed");
  ASSERT_NE(parsing, nullptr);
  ASSERT_NE(parsed, nullptr);
  EXPECT_DEATH(parsing->body()(),
               "Check failed: doing_command_line_flags_parsing Can't call "
               "REQUIRE_MODULE_INITIALIZED\\(command_line_flags_parsing\\): InitHalcyra does it for you\\.");
  SetCommandLineFlagsPhase(CommandLineFlagsPhase::kParsing);
  parsing->body()();
  EXPECT_DEATH(parsed->body()(),
               "Check failed: after_command_line_flags_parsing Can't call "
               "REQUIRE_MODULE_INITIALIZED\\(command_line_flags_parsed\\): InitHalcyra does it for you\\.");
  SetCommandLineFlagsPhase(CommandLineFlagsPhase::kParsed);
  parsing->body()();
  parsed->body()();
  SetCommandLineFlagsPhase(CommandLineFlagsPhase::kNotStarted);
}

TEST(InitializerTest, DuplicatesAreFatal) {
  static InitializerRegistration first("test", "duplicated", &NoOp);
  EXPECT_EQ(InitializerRegistry::Find("test", "duplicated"), &first);
  EXPECT_DEATH(InitializerRegistration("test", "duplicated", &NoOp),
               "There is more than one initializer with name 'duplicated'");
  EXPECT_DEATH(first.Register(), ": Multiple occurrences of initializer 'duplicated'");
  // The same name under another type is a different initializer.
  static InitializerRegistration other_type("other", "duplicated", &NoOp);
  EXPECT_EQ(InitializerRegistry::Find("other", "duplicated"), &other_type);
}

}  // namespace
}  // namespace base
