#include "analytics/attribution/testing/AttributionScenario.h"

#include <fstream>
#include <iterator>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

namespace tabulo::psm_double {

namespace {

// Keeps the members in the file's order, so that the configuration is
// answered as written.
using Json = nlohmann::ordered_json;

constexpr size_t kMaxScenarioBytes = 4 * 1024 * 1024;

// `*out` = the integer member `key` of `object` when present; false when it
// is not an integer in [min, max].
template <class Int>
bool ReadInteger(const Json& object, const char* key, Int* out) {
  const auto found = object.find(key);
  if (found == object.end()) return true;
  if (!found->is_number_integer()) return false;
  if (found->is_number_unsigned()) {
    const uint64_t value = found->get<uint64_t>();
    if (value > static_cast<uint64_t>(std::numeric_limits<Int>::max())) return false;
    *out = static_cast<Int>(value);
    return true;
  }
  const int64_t value = found->get<int64_t>();
  if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) return false;
  *out = static_cast<Int>(value);
  return true;
}

bool ReadOdmEntries(const Json& odm, OdmScenario& out, std::string* message) {
  const auto entries = odm.find("entries");
  if (entries == odm.end()) return true;
  if (!entries->is_array()) {
    *message = "\"odm\" \"entries\" must be a list";
    return false;
  }
  for (const auto& item : *entries) {
    OdmScenarioEntry entry;
    const auto value = item.is_object() ? item.find("value") : item.end();
    const auto group = item.is_object() ? item.find("group") : item.end();
    if (!item.is_object() || value == item.end() || !value->is_string() ||
        (group != item.end() && !group->is_string()) || !ReadInteger(item, "order_key", &entry.orderKey) ||
        !ReadInteger(item, "kind", &entry.kind) || !ReadInteger(item, "preferred", &entry.preferred)) {
      *message = "each \"odm\" entry needs a string \"value\", integer \"order_key\", \"kind\" and"
                 " \"preferred\" and a string \"group\" when given";
      return false;
    }
    entry.value = value->get<std::string>();
    if (group != item.end()) entry.group = group->get<std::string>();
    out.entries.push_back(std::move(entry));
  }
  return true;
}

bool ReadOdmValidation(const Json& odm, OdmScenario& out, std::string* message) {
  const auto validate = odm.find("validate");
  if (validate == odm.end()) return true;
  const auto values = validate->is_object() ? validate->find("values") : validate->end();
  const auto answer = validate->is_object() ? validate->find("answer") : validate->end();
  const auto failures = validate->is_object() ? validate->find("fail_statuses") : validate->end();
  const char* shape = "\"odm\" \"validate\" must be an object with a \"values\" list of strings, an \"answer\""
                      " and optionally a \"fail_statuses\" list of HTTP statuses";
  if (!validate->is_object() || values == validate->end() || !values->is_array() || answer == validate->end() ||
      (failures != validate->end() && !failures->is_array())) {
    *message = shape;
    return false;
  }
  OdmScenario::Validation validation;
  for (const auto& value : *values) {
    if (!value.is_string()) {
      *message = shape;
      return false;
    }
    validation.values.push_back(value.get<std::string>());
  }
  if (failures != validate->end()) {
    for (const auto& status : *failures) {
      if (!status.is_number_integer() || status.get<int64_t>() < 100 || status.get<int64_t>() > 599) {
        *message = shape;
        return false;
      }
      validation.failStatuses.push_back(static_cast<int>(status.get<int64_t>()));
    }
  }
  validation.answerBody = answer->dump(-1, ' ', false, Json::error_handler_t::replace);
  out.validation = std::move(validation);
  return true;
}

bool ReadOdm(const Json& root, std::optional<OdmScenario>& out, std::string* message) {
  const auto odm = root.find("odm");
  if (odm == root.end()) return true;
  if (!odm->is_object()) {
    *message = "\"odm\" must be an object";
    return false;
  }
  OdmScenario scenario;
  const auto config = odm->find("config");
  if (config == odm->end() || config->is_null()) {
    scenario.configAnswer = OdmScenario::ConfigAnswer::kNoContent;
  } else if (config->is_string() && config->get_ref<const std::string&>().empty()) {
    scenario.configAnswer = OdmScenario::ConfigAnswer::kEmptyBody;
  } else {
    scenario.configAnswer = OdmScenario::ConfigAnswer::kBody;
    scenario.configBody = config->dump(-1, ' ', false, Json::error_handler_t::replace);
    if (config->is_object()) {
      for (auto [key, field] : {std::pair{"matching_id", &scenario.matchingID},
                                std::pair{"bucketed_date", &scenario.bucketedDate}}) {
        const auto found = config->find(key);
        if (found != config->end() && found->is_string()) *field = found->get<std::string>();
      }
    }
  }
  if (!ReadOdmEntries(*odm, scenario, message) || !ReadOdmValidation(*odm, scenario, message)) return false;
  out = std::move(scenario);
  return true;
}

bool ReadSkanResponse(const Json& response, SkanScenarioAnswer& answer) {
  if (!response.is_object()) return false;
  answer.body = SkanScenarioAnswer::Body::kMessage;
  const auto readInt32 = [&](const char* key, std::optional<int32_t>& out) {
    if (!response.contains(key)) return true;
    int32_t value = 0;
    if (!ReadInteger(response, key, &value)) return false;
    out = value;
    return true;
  };
  const auto readInt64 = [&](const char* key, std::optional<int64_t>& out) {
    if (!response.contains(key)) return true;
    int64_t value = 0;
    if (!ReadInteger(response, key, &value)) return false;
    out = value;
    return true;
  };
  if (!readInt32("result_status", answer.resultStatus) || !readInt32("fine_value", answer.fineValue) ||
      !readInt32("coarse_value", answer.coarseValue) || !readInt64("result_time", answer.resultTime) ||
      !readInt64("event_time", answer.eventTime) || !readInt64("update_backoff", answer.updateBackoff)) {
    return false;
  }
  if (const auto found = response.find("skanm_value"); found != response.end()) {
    if (!found->is_string()) return false;
    answer.skanmValue = found->get<std::string>();
  }
  if (const auto found = response.find("lock_window"); found != response.end()) {
    if (!found->is_boolean()) return false;
    answer.lockWindow = found->get<bool>();
  }
  return true;
}

bool ReadSkanAnswer(const Json& item, SkanScenarioAnswer& answer) {
  if (!item.is_object()) return false;
  if (item.contains("status") && !ReadInteger(item, "status", &answer.httpStatus)) return false;
  if (answer.httpStatus < 100 || answer.httpStatus > 599) return false;
  const auto response = item.find("response");
  const auto body = item.find("body");
  if (response != item.end() && body != item.end()) return false;
  if (response != item.end() && !ReadSkanResponse(*response, answer)) return false;
  if (body != item.end()) {
    if (!body->is_string() || body->get_ref<const std::string&>() != "undecodable") return false;
    answer.body = SkanScenarioAnswer::Body::kUndecodable;
  }
  if (const auto encoding = item.find("encoding"); encoding != item.end()) {
    const std::string text = encoding->is_string() ? encoding->get<std::string>() : std::string();
    if (text == "identity") {
      answer.encoding = SkanScenarioAnswer::Encoding::kIdentity;
    } else if (text == "broken_gzip") {
      answer.encoding = SkanScenarioAnswer::Encoding::kBrokenGzip;
    } else if (text != "gzip") {
      return false;
    }
  }
  return true;
}

bool ReadSkan(const Json& root, std::optional<SkanScenario>& out, std::string* message) {
  const auto skan = root.find("skan");
  if (skan == root.end()) return true;
  const auto answers = skan->is_object() ? skan->find("answers") : skan->end();
  if (!skan->is_object() || answers == skan->end() || !answers->is_array() || answers->empty()) {
    *message = "\"skan\" must be an object with a non-empty \"answers\" list";
    return false;
  }
  SkanScenario scenario;
  for (const auto& item : *answers) {
    SkanScenarioAnswer answer;
    if (!ReadSkanAnswer(item, answer)) {
      *message = "each \"skan\" answer is an object with an HTTP \"status\", a \"response\" object of"
                 " integer fields (a string \"skanm_value\", a boolean \"lock_window\") or \"body\":"
                 " \"undecodable\", and an \"encoding\" of \"gzip\", \"identity\" or \"broken_gzip\"";
      return false;
    }
    scenario.answers.push_back(std::move(answer));
  }
  out = std::move(scenario);
  return true;
}

bool ReadDeepLink(const Json& root, std::optional<DeepLinkScenario>& out, std::string* message) {
  const auto section = root.find("deeplink");
  if (section == root.end()) return true;
  if (!section->is_object()) {
    *message = "\"deeplink\" must be an object";
    return false;
  }
  DeepLinkScenario scenario;
  const auto answer = section->find("answer");
  if (answer != section->end() && !answer->is_null()) {
    scenario.answerBody = answer->dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  out = std::move(scenario);
  return true;
}

bool ReadMembers(const Json& root, const char* service, std::vector<ScenarioMember>& out,
                 std::string* message) {
  const auto section = root.find(service);
  if (section == root.end()) return true;
  const auto members = section->is_object() ? section->find("members") : section->end();
  if (!section->is_object() || (members != section->end() && !members->is_array())) {
    *message = std::string("\"") + service + "\" must be an object with a \"members\" list";
    return false;
  }
  if (members == section->end()) return true;
  for (const auto& member : *members) {
    const auto identifier = member.is_object() ? member.find("identifier") : member.end();
    const auto value = member.is_object() ? member.find("value") : member.end();
    if (!member.is_object() || identifier == member.end() || value == member.end() || !identifier->is_string() ||
        !value->is_string()) {
      *message = std::string("each member of \"") + service + "\" needs the strings \"identifier\" and \"value\"";
      return false;
    }
    out.push_back({identifier->get<std::string>(), value->get<std::string>()});
  }
  return true;
}

}  // namespace

std::optional<AttributionScenario> AttributionScenario::parse(std::string_view json, std::string* message) {
  const Json root = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) {
    *message = "the attribution scenario is not a JSON object";
    return std::nullopt;
  }
  AttributionScenario scenario;
  for (auto [key, out] : {std::pair{"app_id", &scenario.appID}, std::pair{"bundle_id", &scenario.bundleID}}) {
    const auto found = root.find(key);
    if (found == root.end()) continue;
    if (!found->is_string()) {
      *message = std::string("\"") + key + "\" must be a string";
      return std::nullopt;
    }
    *out = found->get<std::string>();
  }
  if (!ReadMembers(root, "psm", scenario.psmMembers, message) ||
      !ReadMembers(root, "group_ids", scenario.groupMembers, message) || !ReadOdm(root, scenario.odm, message) ||
      !ReadSkan(root, scenario.skan, message) || !ReadDeepLink(root, scenario.deepLink, message)) {
    return std::nullopt;
  }
  return scenario;
}

std::optional<AttributionScenario> AttributionScenario::read(const std::string& path, std::string* message) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *message = "cannot read the attribution scenario " + path;
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxScenarioBytes) {
      *message = "the attribution scenario is too large: " + path;
      return std::nullopt;
    }
  }
  return parse(text, message);
}

}  // namespace tabulo::psm_double
