// The PSM double: the ad service's private-set-membership answers, played
// with the in-process server double for the local collection service, which
// may not load the crypto library itself and hands each query over a pipe
// (tools/psm_double is the thin main around this class).
//
// Its members come from the attribution scenario, a JSON file shared with the
// collection service:
//
//   {
//     "app_id": "tabulo-app-1",
//     "bundle_id": "com.halcyra.tabulo",
//     "psm": {"members": [{"identifier": "user@example.com", "value": "v-1"}]},
//     "group_ids": {"members": [{"identifier": "user@example.com", "value": "group-7"}]}
//   }
//
// Identifiers are given normalised; the double hashes them as the service
// would: a PSM member is queried by SHA-256(SHA-256(identifier) + app ID), a
// group member by SHA-256(identifier). Values are answered as their UTF-8
// bytes. Other top-level members belong to other services and are ignored.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "privacy/private_membership/testing/server_double.h"

namespace tabulo::psm_double {

// Records one request may hold; more are refused as a bad request.
inline constexpr size_t kMaxRequestRecords = 64;

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
};

class PSMDouble {
 public:
  explicit PSMDouble(const AttributionScenario& scenario);

  // The answer frame's payload for one query frame's payload (see PSMDoubleFrames.h).
  std::string answer(std::string_view query);

 private:
  private_membership::blinders::testing::ServerDouble psm_;
  private_membership::blinders::testing::ServerDouble groups_;
};

}  // namespace tabulo::psm_double
