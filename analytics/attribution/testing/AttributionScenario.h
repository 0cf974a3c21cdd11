// The attribution scenario of the local collection service: what its
// attribution services answer, as a JSON file (--attribution FILE) that the
// service and its PSM double both read.
//
//   {
//     "app_id": "tabulo-app-1",
//     "bundle_id": "com.halcyra.tabulo",
//     "psm": {"members": [{"identifier": "user@example.com", "value": "v-1"}]},
//     "group_ids": {"members": [{"identifier": "user@example.com", "value": "group-7"}]}
//   }
//
// "app_id" is the app the private-set-membership members are salted for;
// "bundle_id", when given, is the only bundle whose group-identifier queries
// are answered. Members hold normalised identifiers (an e-mail address as the
// client normalises it, a phone number in E.164 form) and their values.
// Every member is optional; members not named here are left for other
// services and ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulo::psm_double {

struct ScenarioMember {
  std::string identifier;
  std::string value;
};

struct AttributionScenario {
  std::string appID;
  std::string bundleID;
  std::vector<ScenarioMember> psmMembers;
  std::vector<ScenarioMember> groupMembers;

  // Nullopt with a message for text that is not such a JSON object.
  static std::optional<AttributionScenario> parse(std::string_view json, std::string* message);
  // The scenario in the file at `path`; nullopt with a message when it cannot be read or parsed.
  static std::optional<AttributionScenario> read(const std::string& path, std::string* message);
};

}  // namespace tabulo::psm_double
