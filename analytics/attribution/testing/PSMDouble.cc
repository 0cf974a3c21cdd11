#include "analytics/attribution/testing/PSMDouble.h"

#include <utility>

#include "absl/strings/escaping.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "security/util/sha256.h"

namespace tabulo::psm_double {

namespace {

using private_membership::blinders::testing::ServerDouble;
using private_membership::blinders::testing::ServerEntry;
using private_membership::blinders::testing::ServerOptions;

std::string SHA256Of(std::string_view bytes) {
  security::SHA256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.Digest();
}

std::vector<ServerEntry> Entries(const std::vector<ScenarioMember>& members, const std::optional<std::string>& salt) {
  std::vector<ServerEntry> entries;
  for (const ScenarioMember& member : members) {
    std::string id = SHA256Of(member.identifier);
    if (salt) id = SHA256Of(id + *salt);
    entries.push_back({id, id, member.value, std::nullopt});
  }
  return entries;
}

// The on-device measurement entries, or none when the configuration names no
// usable matching ID and bucketed date.
std::vector<ServerEntry> OdmEntries(const AttributionScenario& scenario) {
  std::vector<ServerEntry> entries;
  if (!scenario.odm || !scenario.odm->matchingID || !scenario.odm->bucketedDate) return entries;
  std::string nonSensitiveID;
  if (!absl::WebSafeBase64Unescape(*scenario.odm->matchingID, &nonSensitiveID)) return entries;
  const std::string sensitiveID =
      SHA256Of(nonSensitiveID + ":" + *scenario.odm->bucketedDate + ":" + scenario.bundleID);
  for (const OdmScenarioEntry& entry : scenario.odm->entries) {
    private_membership::blinders::PrivateMembershipBlindersIdValuePairMetadata metadata;
    metadata.primary_bytes = SerializeOdmUnencryptedMetadata(entry.orderKey, entry.kind, entry.preferred);
    metadata.secondary_bytes = entry.group;
    entries.push_back({nonSensitiveID, sensitiveID, entry.value, std::move(metadata)});
  }
  return entries;
}

std::string Answer(AnswerStatus status, std::string_view text) {
  std::string frame(1, static_cast<char>(status));
  frame.append(text);
  return frame;
}

}  // namespace

PSMDouble::PSMDouble(const AttributionScenario& scenario)
    : psm_(Entries(scenario.psmMembers, scenario.appID), ServerOptions{}),
      groups_(Entries(scenario.groupMembers, std::nullopt), ServerOptions{}),
      odm_(OdmEntries(scenario), ServerOptions{}) {}

std::string PSMDouble::answer(std::string_view query) {
  if (query.empty() || (query[0] != kQueryPSM && query[0] != kQueryGroupID && query[0] != kQueryOnDeviceMeasurement)) {
    return Answer(AnswerStatus::kBadRequest, "unknown query kind");
  }
  std::string bytes;
  const std::string_view text = query.substr(1);
  if (!absl::WebSafeBase64Unescape(absl::string_view(text.data(), text.size()), &bytes)) {
    return Answer(AnswerStatus::kBadRequest, "the request is not web-safe base64");
  }
  auto request = DeserializeBlindersRequest(bytes);
  if (!request.ok()) return Answer(AnswerStatus::kBadRequest, std::string(request.status().message()));
  if (request->encrypted_request.size() > kMaxRequestRecords) {
    return Answer(AnswerStatus::kBadRequest, "too many records");
  }
  ServerDouble& server = query[0] == kQueryPSM ? psm_ : query[0] == kQueryGroupID ? groups_ : odm_;
  auto response = server.Answer(*request);
  if (!response.ok()) return Answer(AnswerStatus::kBadRequest, std::string(response.status().message()));
  return Answer(AnswerStatus::kAnswered, absl::WebSafeBase64Escape(SerializeBlindersResponse(*response)));
}

}  // namespace tabulo::psm_double
