#include "analytics/attribution/testing/AttributionScenario.h"

#include <fstream>
#include <iterator>
#include <utility>

#include <nlohmann/json.hpp>

namespace tabulo::psm_double {

namespace {

constexpr size_t kMaxScenarioBytes = 4 * 1024 * 1024;

bool ReadMembers(const nlohmann::json& root, const char* service, std::vector<ScenarioMember>& out,
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
  const nlohmann::json root = nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
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
      !ReadMembers(root, "group_ids", scenario.groupMembers, message)) {
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
