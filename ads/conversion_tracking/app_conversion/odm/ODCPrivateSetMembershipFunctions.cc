#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"

#include <algorithm>
#include <utility>

#include <nlohmann/json.hpp>

#include "absl/strings/escaping.h"
#include "analytics/attribution/GWLSerializationUtil.h"
#include "platform/net/URL.h"
#include "platform/text/PercentEncoding.h"
#include "platform/text/BoundedRegex.h"
#include "platform/text/UnicodeText.h"
#include "platform/text/Utf8.h"
#include "security/util/sha256.h"

namespace {

using private_membership::blinders::PrivateMembershipBlindersMiniClient;
using private_membership::blinders::PrivateMembershipBlindersParameters;
using private_membership::blinders::QueryId;

constexpr const char* kEmailPattern = R"(^\S+@\S+\.\S+$)";
constexpr const char* kPhonePattern = R"(^\+[1-9]\d{1,14}$)";
constexpr std::string_view kPhoneSeparators = "-()/.";

// Both patterns are fixed and short; the bounds only keep a long input from
// holding the caller's thread. Compiling per call keeps each match on its own
// matcher, so any thread may normalise.
constexpr platform::RegexLimits kPatternLimits{64, 200, 1 << 20};

bool MatchesPattern(const char* pattern, std::string_view text) {
  if (!platform::utf8::isValid(text)) return false;
  auto expression = platform::BoundedRegex::compile(std::string_view(pattern), {}, kPatternLimits);
  if (!expression) return false;
  const std::optional<platform::RegexMatch> match = expression->firstMatch(platform::utf8::toUtf16(text));
  return match && match->found;
}
bool MatchesEmailPattern(std::string_view text) { return MatchesPattern(kEmailPattern, text); }
bool MatchesPhonePattern(std::string_view text) { return MatchesPattern(kPhonePattern, text); }

std::string AsString(std::span<const uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<uint8_t> SHA256Of(std::string_view first, std::string_view second = {}) {
  security::SHA256 hash;
  hash.Update(first.data(), first.size());
  hash.Update(second.data(), second.size());
  const std::string digest = hash.Digest();
  return std::vector<uint8_t>(digest.begin(), digest.end());
}

PrivateMembershipBlindersParameters ParametersWithPrefixBitLength(int32_t prefixBitLength) {
  PrivateMembershipBlindersParameters parameters;
  parameters.hashed_non_sensitive_id_prefix_bit_length = prefixBitLength;
  parameters.hash_type = kODCBlindersHashType;
  parameters.max_hash_prefixes_count = kODCBlindersMaxHashPrefixesCount;
  return parameters;
}

}  // namespace

std::optional<std::string> ODCNormalizeEmailAddress(std::string_view emailAddress) {
  if (emailAddress.empty()) return std::nullopt;
  std::optional<std::string> lowered = platform::unicode::lowercased(emailAddress);
  if (!lowered) return std::nullopt;
  const size_t at = lowered->find('@');
  if (at == std::string::npos || lowered->find('@', at + 1) != std::string::npos) return std::nullopt;
  std::string local = lowered->substr(0, at);
  std::string domain = lowered->substr(at + 1);
  if (domain == kODCLegacyWebmailDomain) domain = kODCPrimaryWebmailDomain;
  if (domain == kODCPrimaryWebmailDomain) {
    std::erase(local, '.');
    // The text is lower-cased already, so "I" and "i" are both the "i" here.
    for (char& c : local) {
      switch (c) {
        case 'i':
        case '1': c = 'l'; break;
        case '0': c = 'o'; break;
        case '2': c = 'z'; break;
        case '5': c = 's'; break;
        default: break;
      }
    }
  }
  std::string normalized = local + "@" + domain;
  if (!MatchesEmailPattern(normalized)) return std::nullopt;
  return normalized;
}

std::optional<std::string> ODCNormalizePhoneNumber(std::string_view phoneNumber) {
  if (phoneNumber.empty() || !platform::utf8::isValid(phoneNumber)) return std::nullopt;
  std::string kept;
  for (size_t offset = 0; offset < phoneNumber.size();) {
    const platform::utf8::Decoded decoded = platform::utf8::decode(phoneNumber, offset);
    const std::string_view character = phoneNumber.substr(offset, decoded.length);
    offset += decoded.length;
    const bool separator = decoded.codePoint < 0x80 && kPhoneSeparators.find(static_cast<char>(decoded.codePoint)) !=
                                                           std::string_view::npos;
    if (separator || platform::unicode::isWhitespace(decoded.codePoint)) continue;
    kept.append(character);
  }
  if (kept.empty() || kept.front() != '+') kept.insert(kept.begin(), '+');
  if (!MatchesPhonePattern(kept)) return std::nullopt;
  return kept;
}

std::vector<uint8_t> ODCSHA256OfString(std::string_view text) { return SHA256Of(text); }

std::vector<uint8_t> ODCPSMInputFromString(std::string_view normalized, std::string_view appID) {
  const std::vector<uint8_t> hashed = ODCSHA256OfString(normalized);
  return SHA256Of(AsString(hashed), appID);
}

std::optional<std::vector<uint8_t>> ODCPSMInputFromHashedInput(std::span<const uint8_t> hashedInput,
                                                               std::string_view appID) {
  if (hashedInput.size() < kODCHashedInputLength) return std::nullopt;
  return SHA256Of(AsString(hashedInput.first(kODCHashedInputLength)), appID);
}

absl::StatusOr<std::unique_ptr<PrivateMembershipBlindersMiniClient>> ODCMakeBlindersClient(
    std::span<const uint8_t> psmInput, std::string_view appID, int32_t prefixBitLength) {
  QueryId id{std::string(appID), AsString(psmInput), AsString(psmInput)};
  return PrivateMembershipBlindersMiniClient::Create({std::move(id)}, ParametersWithPrefixBitLength(prefixBitLength));
}

absl::StatusOr<std::unique_ptr<PrivateMembershipBlindersMiniClient>> ODCMakeGroupBlindersClient(
    std::span<const uint8_t> hashedInput, int32_t prefixBitLength) {
  QueryId id{std::string(), AsString(hashedInput), AsString(hashedInput)};
  return PrivateMembershipBlindersMiniClient::Create({std::move(id)}, ParametersWithPrefixBitLength(prefixBitLength));
}

std::string ODCSerializedRequestAsWebsafeBase64(PrivateMembershipBlindersMiniClient& blindersClient, int32_t useCase) {
  auto request = blindersClient.CreateRequest(useCase);
  if (!request.ok()) return {};
  const std::string bytes = SerializeBlindersRequest(*request);
  if (bytes.empty()) return {};
  return absl::WebSafeBase64Escape(bytes);
}

std::optional<std::vector<uint8_t>> ODCPSMPayloadWithSerializedRequest(const std::string& serializedRequest) {
  if (serializedRequest.empty()) return std::nullopt;
  nlohmann::json body = nlohmann::json::object();
  body[kODCPSMRequestKey] = serializedRequest;
  const std::string text = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::optional<std::string> ODCPSMRequestURL(const GWLServiceEndpoint& host, std::string_view path,
                                            const std::vector<std::pair<std::string, std::string>>& query) {
  std::string url = host.origin() + std::string(path);
  char separator = '?';
  for (const auto& [key, value] : query) {
    url += separator;
    url += key + "=" + platform::percent::encode(value, platform::percent::AllowedSet::queryValue());
    separator = '&';
  }
  if (!platform::URL::parse(url)) return std::nullopt;
  return url;
}

std::optional<std::string> ODCParsedPSMValueFromResponse(PrivateMembershipBlindersMiniClient& blindersClient,
                                                         std::span<const uint8_t> data) {
  if (data.empty()) return std::nullopt;
  const nlohmann::json body = nlohmann::json::parse(data.begin(), data.end(), nullptr, /*allow_exceptions=*/false);
  if (body.is_discarded() || !body.is_object() || body.empty()) return std::nullopt;
  const auto member = body.find(kODCPSMResponseKey);
  if (member == body.end() || !member->is_string()) return std::nullopt;
  std::string decoded;
  if (!absl::WebSafeBase64Unescape(member->get_ref<const std::string&>(), &decoded)) decoded.clear();
  auto response = DeserializeBlindersResponse(reinterpret_cast<const uint8_t*>(decoded.data()), decoded.size());
  if (!response.ok()) return std::nullopt;
  auto results = blindersClient.ProcessResponse(*response);
  if (!results.ok()) return std::nullopt;
  for (const auto& result : *results) {
    if (result.is_member && !result.value.empty()) return absl::WebSafeBase64Escape(result.value);
  }
  return std::nullopt;
}
