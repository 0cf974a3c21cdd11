#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCEnvironmentInfo.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "analytics/foundation/core/GWLEnvironmentInfo.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/env/AppEnvironment.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST(ODCJSONDictionaryFromData, GivesAnObjectOrSaysWhyNot) {
  struct Case {
    std::optional<std::string> data;
    std::optional<std::string> dictionary;  // its compact text
    std::string domain;                     // of the error when there is none
    int64_t code;
    std::string loggedCode;                 // the I-ODC line, when one is written
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, kODCErrorDomain, 2000, "I-ODC002000"},
      {"[]", std::nullopt, kODCErrorDomain, 2001, "I-ODC002001"},
      {R"("s")", std::nullopt, kODCErrorDomain, 2001, "I-ODC002001"},
      {"7", std::nullopt, kODCErrorDomain, 2001, "I-ODC002001"},
      {"null", std::nullopt, kODCErrorDomain, 2001, "I-ODC002001"},
      {"{}", "{}", "", 0, ""},
      {R"({"b":1,"a":[true,null]})", R"({"b":1,"a":[true,null]})", "", 0, ""},
      {R"({"a":)", std::nullopt, kODCJSONParserErrorDomain, 101, ""},
      {"", std::nullopt, kODCJSONParserErrorDomain, 101, ""},
      {"{} x", std::nullopt, kODCJSONParserErrorDomain, 101, ""},
      {"{\"a\":\"\xff\"}", std::nullopt, kODCJSONParserErrorDomain, 101, ""},
  };
  for (const Case& c : cases) {
    platform::log::ScopedCapture capture;
    std::optional<std::vector<uint8_t>> bytes;
    if (c.data) bytes = Bytes(*c.data);
    platform::Error error;
    auto dictionary = bytes ? ODCJSONDictionaryFromData(std::span<const uint8_t>(*bytes), &error)
                            : ODCJSONDictionaryFromData(std::nullopt, &error);
    const std::string name = c.data.value_or("(no data)");
    if (c.dictionary) {
      ASSERT_TRUE(dictionary) << name << ": " << error.toString();
      EXPECT_EQ(dictionary->dump(), *c.dictionary);
      EXPECT_TRUE(capture.sink().records().empty()) << name;
      continue;
    }
    EXPECT_FALSE(dictionary) << name;
    EXPECT_EQ(error.domain, c.domain) << name;
    EXPECT_EQ(error.code, c.code) << name;
    EXPECT_FALSE(error.description.empty()) << name;
    const auto records = capture.sink().records();
    if (c.loggedCode.empty()) {
      EXPECT_TRUE(records.empty()) << name;
    } else {
      ASSERT_EQ(records.size(), 1u) << name;
      EXPECT_EQ(records[0].code, c.loggedCode);
      EXPECT_EQ(records[0].message, error.description);
      EXPECT_EQ(records[0].level, platform::LogLevel::Error);
    }
  }
}

TEST(ODCJSONDataFromDictionary, WritesCompactJSONInMemberOrder) {
  ODCJSONDictionary body = ODCJSONDictionary::object();
  body["psm_request"] = "r";
  body["odmed"] = "";
  body["n"] = ODCJSONDictionary::array({1, 2.5, nullptr});
  auto data = ODCJSONDataFromDictionary(body);
  ASSERT_TRUE(data);
  EXPECT_EQ(std::string(data->begin(), data->end()), R"({"psm_request":"r","odmed":"","n":[1,2.5,null]})");

  EXPECT_FALSE(ODCJSONDataFromDictionary(std::nullopt));
  EXPECT_FALSE(ODCJSONDataFromDictionary(ODCJSONDictionary::array()));
  ODCJSONDictionary notText = ODCJSONDictionary::object();
  notText["a"] = "\xff";
  EXPECT_FALSE(ODCJSONDataFromDictionary(notText));
  ODCJSONDictionary notFinite = ODCJSONDictionary::object();
  notFinite["a"] = ODCJSONDictionary::array({std::numeric_limits<double>::quiet_NaN()});
  EXPECT_FALSE(ODCJSONDataFromDictionary(notFinite));
}

TEST(ODCMakeError, MakesAndLogsTheLayersError) {
  platform::log::ScopedCapture capture;
  const platform::Error error = ODCMakeError(5004, "Prefix length is not a number.");
  EXPECT_EQ(error, platform::Error(kODCErrorDomain, 5004, "Prefix length is not a number."));
  const platform::Error silent = ODCMakeError(7, "");
  EXPECT_EQ(silent.description, "");
  EXPECT_EQ(silent.code, 7);
  ODCLogWarning(5009, "%s", kODCMessageExtensionDataNotString);
  ODCLogDebug(5005, "%s %d", "Fetching", 3);

  const auto records = capture.sink().records();
  ASSERT_EQ(records.size(), 4u);
  const struct {
    platform::LogLevel level;
    const char* code;
    const char* message;
  } expected[] = {
      {platform::LogLevel::Error, "I-ODC005004", "Prefix length is not a number."},
      {platform::LogLevel::Error, "I-ODC000007", ""},
      {platform::LogLevel::Warning, "I-ODC005009", "Extension data is not a string."},
      {platform::LogLevel::Debug, "I-ODC005005", "Fetching 3"},
  };
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].level, expected[i].level);
    EXPECT_EQ(records[i].code, expected[i].code);
    EXPECT_EQ(records[i].message, expected[i].message);
    EXPECT_EQ(records[i].subsystem, "com.halcyra.appads");
    EXPECT_EQ(records[i].category, "<OnDeviceConversion>");
  }
}

TEST(ODCEnvironmentInfo, ReadsTheDeviceAndLogsAMissingLanguage) {
  platform::AppEnvironment::Configuration configuration;
  configuration.deviceModel = "Model14,5";
  configuration.systemVersion = "17.2";
  auto app = platform::AppEnvironment::create(configuration);
  ASSERT_TRUE(app);
  const auto previous = platform::AppEnvironment::shared();
  const platform::ManualClock clock(1'700'000'000.0);
  struct Case {
    std::map<std::string, std::string> environment;
    std::optional<std::string> language;
  };
  const Case cases[] = {{{{"LANG", "de_AT.UTF-8"}}, "de-at"}, {{{"LANG", "C"}}, std::nullopt}};
  for (const Case& c : cases) {
    configuration.environment = c.environment;
    platform::AppEnvironment::setShared(platform::AppEnvironment::create(configuration));
    platform::log::ScopedCapture capture;
    auto info = ODCEnvironmentInfo::create(*app, GWLEnvironmentInfo(), clock);
    EXPECT_EQ(info->deviceModel(), "Model14,5");
    EXPECT_EQ(info->deviceOSVersion(), "17.2");
    EXPECT_EQ(info->userDefaultLanguage(), c.language);
    EXPECT_EQ(info->timeZoneOffsetMinutes(), GWLEnvironmentInfo::timeZoneOffsetMinutes(clock.now()));
    bool logged = false;
    for (const auto& record : capture.sink().records()) {
      logged |= record.code == "I-ODC009001" && record.message == "Failed to get preferred language";
    }
    EXPECT_EQ(logged, !c.language);
  }
  platform::AppEnvironment::setShared(previous);
}

}  // namespace
