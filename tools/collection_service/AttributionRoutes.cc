#include "tools/collection_service/AttributionRoutes.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "analytics/attribution/testing/PSMDoubleFrames.h"

namespace {

using tabulo::psm_double::AnswerStatus;

constexpr const char* kRequestKey = "psm_request";
constexpr const char* kResponseKey = "psm_response";

void answerText(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain");
}

}  // namespace

void AnswerPSMDoubleQuery(PSMDoubleProcess* psmDouble, char kind, const httplib::Request& request,
                          httplib::Response& response) {
  if (!psmDouble) return answerText(response, 503, "no PSM double");
  const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
  const auto query = body.is_object() ? body.find(kRequestKey) : body.end();
  if (!body.is_object() || query == body.end() || !query->is_string()) {
    return answerText(response, 400, std::string("the body is no JSON object with a string \"") + kRequestKey + "\"");
  }
  std::optional<std::string> answer = psmDouble->exchange(std::string(1, kind) + query->get<std::string>());
  if (!answer || answer->empty()) return answerText(response, 502, "the PSM double failed");
  const auto status = static_cast<AnswerStatus>((*answer)[0]);
  const std::string rest = answer->substr(1);
  switch (status) {
    case AnswerStatus::kAnswered: {
      nlohmann::json out = nlohmann::json::object();
      out[kResponseKey] = rest;
      response.status = 200;
      response.set_content(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
      return;
    }
    case AnswerStatus::kBadRequest:
      return answerText(response, 400, rest);
    default:
      return answerText(response, 500, rest);
  }
}

std::unique_ptr<AttributionRoutes> AttributionRoutes::create(const std::optional<std::string>& psmDoubleProgram,
                                                             const std::optional<std::string>& scenarioPath,
                                                             std::string* message) {
  tabulo::psm_double::AttributionScenario scenario;
  if (scenarioPath) {
    auto read = tabulo::psm_double::AttributionScenario::read(*scenarioPath, message);
    if (!read) return nullptr;
    scenario = std::move(*read);
  }
  std::unique_ptr<PSMDoubleProcess> psmDouble;
  if (psmDoubleProgram) {
    psmDouble = PSMDoubleProcess::start(*psmDoubleProgram, scenarioPath, message);
    if (!psmDouble) return nullptr;
  }
  return std::unique_ptr<AttributionRoutes>(new AttributionRoutes(std::move(scenario), std::move(psmDouble)));
}

void AttributionRoutes::install(httplib::Server& server) {
  server.Post(kPSMQueryPath, [this](const httplib::Request& request, httplib::Response& response) {
    AnswerPSMDoubleQuery(psmDouble_.get(), tabulo::psm_double::kQueryPSM, request, response);
  });
  server.Post(kGroupIDQueryPath, [this](const httplib::Request& request, httplib::Response& response) {
    if (!scenario_.bundleID.empty() && request.get_param_value("bundle_id") != scenario_.bundleID) {
      return answerText(response, 404, "unknown bundle");
    }
    AnswerPSMDoubleQuery(psmDouble_.get(), tabulo::psm_double::kQueryGroupID, request, response);
  });
  odm_.install(server);
  deepLink_.install(server);
  skan_.install(server);
}
