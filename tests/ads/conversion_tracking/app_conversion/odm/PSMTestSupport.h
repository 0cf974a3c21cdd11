// Helpers of the private-set-membership client tests: reading a client's
// payload back into its request record, and answering it in process with the
// PSM double, as the local collection service does over loopback.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "absl/strings/escaping.h"
#include "analytics/attribution/testing/PSMDouble.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"

namespace tabulo::test {

// The "psm_request" text of a payload, or nullopt.
inline std::optional<std::string> RequestText(const std::optional<std::vector<uint8_t>>& payload) {
  if (!payload) return std::nullopt;
  const nlohmann::json body = nlohmann::json::parse(payload->begin(), payload->end(), nullptr, false);
  if (!body.is_object() || !body.contains("psm_request") || !body["psm_request"].is_string()) return std::nullopt;
  return body["psm_request"].get<std::string>();
}

// The request record a payload carries, or nullopt.
inline std::optional<private_membership::blinders::PrivateMembershipBlindersRequest> RequestOf(
    const std::optional<std::vector<uint8_t>>& payload) {
  std::optional<std::string> text = RequestText(payload);
  std::string bytes;
  if (!text || !absl::WebSafeBase64Unescape(*text, &bytes)) return std::nullopt;
  auto request = psm_double::DeserializeBlindersRequest(bytes);
  if (!request.ok()) return std::nullopt;
  return *request;
}

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The body {"psm_response": ...} that the double answers to `payload`.
inline std::vector<uint8_t> AnswerInProcess(psm_double::PSMDouble& server, char kind,
                                            const std::optional<std::vector<uint8_t>>& payload) {
  const std::string answer = server.answer(std::string(1, kind) + RequestText(payload).value_or(""));
  if (answer.empty() || answer[0] != static_cast<char>(psm_double::AnswerStatus::kAnswered)) return {};
  nlohmann::json body = nlohmann::json::object();
  body["psm_response"] = answer.substr(1);
  return Bytes(body.dump());
}

inline std::string WebSafe(const std::string& bytes) { return absl::WebSafeBase64Escape(bytes); }

}  // namespace tabulo::test
