#include "analytics/attribution/testing/PSMDouble.h"

#include <utility>

#include "absl/strings/escaping.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"
#include "security/util/sha256.h"

namespace tabulo::psm_double {

namespace {

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

std::string Answer(AnswerStatus status, std::string_view text) {
  std::string frame(1, static_cast<char>(status));
  frame.append(text);
  return frame;
}

}  // namespace

PSMDouble::PSMDouble(const AttributionScenario& scenario)
    : psm_(Entries(scenario.psmMembers, scenario.appID), ServerOptions{}),
      groups_(Entries(scenario.groupMembers, std::nullopt), ServerOptions{}) {}

std::string PSMDouble::answer(std::string_view query) {
  if (query.empty() || (query[0] != kQueryPSM && query[0] != kQueryGroupID)) {
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
  auto response = (query[0] == kQueryPSM ? psm_ : groups_).Answer(*request);
  if (!response.ok()) return Answer(AnswerStatus::kBadRequest, std::string(response.status().message()));
  return Answer(AnswerStatus::kAnswered, absl::WebSafeBase64Escape(SerializeBlindersResponse(*response)));
}

}  // namespace tabulo::psm_double
