// The candidates answer comes from the on-device measurement endpoint: any
// body becomes the validation request or an error; never a crash or a hang.
//
// The first byte picks how the rest is used: as the body itself; as the
// response message inside a well-formed body; or as edits to the PSM double's
// real answer for the run's request, so that mutations reach matching,
// decryption and the grouping of the matched values as well as parsing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "ODCFuzzContext.h"
#include "PSMAnswerEdits.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCCandidateFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConfigFetcher.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "analytics/attribution/testing/PSMDouble.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "fuzz/QuietLog.h"

namespace {

using tabulo::psm_double::AttributionScenario;
using tabulo::psm_double::OdmScenario;

constexpr const char* kConfig =
    R"({"matching_id":"bWF0Y2gtMQ","bucketed_date":"2024-05-01","prefix_length":8,"extension_data":"e"})";

struct Material {
  std::shared_ptr<ODCContext> context;
  std::shared_ptr<ODCCandidateFetcher> fetcher;
  std::string answer;  // the double's web-safe base64 response to the run's request
};

const Material& Shared() {
  static const Material* material = [] {
    auto* m = new Material;
    m->context = MakeFuzzContext();
    auto config = std::make_shared<ODCConfigFetcher>(m->context);
    const std::string body = kConfig;
    if (!config->createPSMRequestWithData(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(body.data()), body.size()), nullptr)) {
      std::abort();
    }
    m->fetcher = std::make_shared<ODCCandidateFetcher>(m->context);
    AttributionScenario scenario;
    scenario.bundleID = m->context->bundleID();
    OdmScenario odm;
    odm.matchingID = "bWF0Y2gtMQ";
    odm.bucketedDate = "2024-05-01";
    odm.entries = {{"a", 5, 2, 0, "g1"}, {"", 9, 1, 1, "g1"}, {"b", 5, 1, 0, "g1"}, {"c", 1, 0, 0, "g2"},
                   {"d", 1, 0, 0, std::nullopt}};
    scenario.odm = odm;
    tabulo::psm_double::PSMDouble server(scenario);
    m->answer = server.answer(std::string(1, tabulo::psm_double::kQueryOnDeviceMeasurement) +
                              *m->context->PSMRequest())
                    .substr(1);
    return m;
  }();
  return *material;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietPlatformLog();
  const Material& material = Shared();
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string body;
  switch (data[0] % 3) {
    case 0:
      body = rest;
      break;
    case 1:
      body = PSMResponseBody(absl::WebSafeBase64Escape(rest));
      break;
    default:
      body = PSMResponseBody(EditedAnswer(material.answer, rest));
      break;
  }
  material.context->setMatchRequestPayload(std::nullopt);
  platform::Error error;
  const bool found = material.fetcher->findPSMMatchesWithData(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(body.data()), body.size()), &error);
  if (found != material.context->matchRequestPayload().has_value()) std::abort();
  if (!found && error.domain.empty()) std::abort();
  return 0;
}
