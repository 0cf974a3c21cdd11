#include "tools/collection_service/OdmRoutes.h"

#include <httplib.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "absl/strings/escaping.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/PSMMVs.h"
#include "tools/collection_service/AttributionRoutes.h"

namespace {

using tabulo::psm_double::OdmScenario;

constexpr const char* kMatchedValuesKey = "mvs";

void answerText(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain");
}

// The matched values of the validation body, or nullopt when it holds none readable.
std::optional<std::vector<std::string>> matchedValues(const std::string& body) {
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  const auto text = json.is_object() ? json.find(kMatchedValuesKey) : json.end();
  if (!json.is_object() || text == json.end() || !text->is_string()) return std::nullopt;
  std::string bytes;
  if (!absl::WebSafeBase64Unescape(text->get_ref<const std::string&>(), &bytes)) return std::nullopt;
  auto message = PSMMVs::initWithBuffer(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                                 bytes.size()));
  auto items = message ? NANOGetArray(message, PSMMVs::Field::odm2_values) : std::nullopt;
  if (!items) return std::nullopt;
  std::vector<std::string> values;
  for (const NANOValue& item : *items) {
    if (const auto* data = std::get_if<NANOData>(&item)) values.emplace_back(data->begin(), data->end());
  }
  return values;
}

}  // namespace

void OdmRoutes::install(httplib::Server& server) {
  server.Get(kOdmConfigPath, [this](const httplib::Request&, httplib::Response& response) {
    if (!scenario_) return answerText(response, 404, "no on-device measurement scenario");
    switch (scenario_->configAnswer) {
      case OdmScenario::ConfigAnswer::kNoContent:
        response.status = 204;
        return;
      case OdmScenario::ConfigAnswer::kEmptyBody:
        response.status = 200;
        return;
      case OdmScenario::ConfigAnswer::kBody:
        response.status = 200;
        response.set_content(scenario_->configBody, "application/json");
        return;
    }
  });
  server.Post(kOdmCandidatesPath, [this](const httplib::Request& request, httplib::Response& response) {
    if (!scenario_) return answerText(response, 404, "no on-device measurement scenario");
    AnswerPSMDoubleQuery(psmDouble_, tabulo::psm_double::kQueryOnDeviceMeasurement, request, response);
  });
  server.Post(kOdmValidationPath, [this](const httplib::Request& request, httplib::Response& response) {
    if (!scenario_ || !scenario_->validation) return answerText(response, 404, "no validation in the scenario");
    const OdmScenario::Validation& validation = *scenario_->validation;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failuresAnswered_ < validation.failStatuses.size()) {
        return answerText(response, validation.failStatuses[failuresAnswered_++], "failing as the scenario says");
      }
    }
    std::optional<std::vector<std::string>> values = matchedValues(request.body);
    if (!values) return answerText(response, 400, "the body holds no readable \"mvs\"");
    std::vector<std::string> expected = validation.values;
    std::sort(values->begin(), values->end());
    std::sort(expected.begin(), expected.end());
    if (*values != expected) return answerText(response, 400, "the matched values are not the scenario's");
    response.status = 200;
    response.set_content(validation.answerBody, "application/json");
  });
}
