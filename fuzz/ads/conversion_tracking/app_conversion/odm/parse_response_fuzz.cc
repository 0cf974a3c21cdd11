// Answers to a private-set-membership query come from the ad service: any
// body gives a value or none, never a crash or a hang.
//
// The first byte picks how the rest is used: as the body itself; as the
// response message inside a well-formed body; or as edits to the double's
// real answer for the client's request, so that mutations reach matching and
// decryption as well as parsing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipClient.h"
#include "analytics/attribution/testing/PSMDouble.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "PSMAnswerEdits.h"
#include "fuzz/QuietLog.h"

namespace {

struct Material {
  std::shared_ptr<ODCPrivateSetMembershipClient> client;
  std::string answer;  // the double's web-safe base64 response to the client's request
};

const Material& Shared() {
  static const Material* material = [] {
    auto* m = new Material;
    m->client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", "tabulo-app-1");
    tabulo::psm_double::AttributionScenario scenario;
    scenario.appID = "tabulo-app-1";
    scenario.psmMembers = {{"user@example.com", "v-1"}, {"other@example.com", ""}};
    tabulo::psm_double::PSMDouble server(scenario);
    const auto payload = m->client->payloadWithPSMRequest();
    const std::string body(payload->begin(), payload->end());
    const size_t start = body.find(":\"") + 2;
    const std::string request = body.substr(start, body.rfind('"') - start);
    m->answer = server.answer(std::string(1, tabulo::psm_double::kQueryPSM) + request).substr(1);
    return m;
  }();
  return *material;
}

std::vector<uint8_t> Body(const std::string& responseText) {
  const std::string body = PSMResponseBody(responseText);
  return std::vector<uint8_t>(body.begin(), body.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  const Material& material = Shared();
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0:
      material.client->parsedPSMValueFromResponse(std::vector<uint8_t>(rest.begin(), rest.end()));
      break;
    case 1:
      material.client->parsedPSMValueFromResponse(Body(absl::WebSafeBase64Escape(rest)));
      break;
    default:
      material.client->parsedPSMValueFromResponse(Body(EditedAnswer(material.answer, rest)));
      break;
  }
  return 0;
}
