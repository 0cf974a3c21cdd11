// The privacy check finds a personal datum planted in captured traffic in
// each form it looks for, and nothing in clean traffic.
#include <gtest/gtest.h>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "e2e/PrivacyCheck.h"
#include "platform/crypto/Digest.h"

namespace e2e {
namespace {

constexpr const char* kAppID = "1:1:ios:1";
const std::string kEmail = "Jane.Doe@Example.com";
const std::string kPhone = "+1 (555) 010-2030";

std::string raw(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

CapturedRequest request(const std::string& target, const std::string& body) {
  CapturedRequest made;
  made.file = "request-000001.http";
  made.target = target;
  made.requestLine = "POST " + target + " HTTP/1.1";
  made.headers = "Content-Type: application/octet-stream";
  made.body = body;
  return made;
}

PrivateInputs inputs(bool debugKeyAllowed = false) {
  return PrivateInputs{{kEmail}, {kPhone}, kAppID, debugKeyAllowed};
}

TEST(PrivacyCheck, FindsEveryFormOfAPlantedDatum) {
  const std::string normalisedEmail = *ODCNormalizeEmailAddress(kEmail);
  const std::string hash = raw(ODCSHA256OfString(normalisedEmail));
  const std::string hex = platform::Digest::toHex(std::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>(hash.data()), hash.size()));
  std::string upperHex = hex;
  for (char& c : upperHex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string psmInput = raw(ODCPSMInputFromString(normalisedEmail, kAppID));
  const struct {
    const char* form;
    std::string target;
    std::string body;
  } cases[] = {
      {"address as given", "/a", "\x0a\x14" + kEmail},
      {"normalised address", "/a", normalisedEmail},
      {"percent-encoded address in the target", "/a?u=jane.doe%40example.com", ""},
      {"an unknown address", "/a", "{\"contact\":\"someone@elsewhere.org\"}"},
      {"phone number as given", "/a", kPhone},
      {"normalised phone number", "/a", "+15550102030"},
      {"percent-encoded phone number", "/a?p=%2B15550102030", ""},
      {"raw hash", "/a", "xx" + hash + "yy"},
      {"hex hash", "/a", hex},
      {"upper-case hex hash", "/a", upperHex},
      {"base64 hash", "/a", absl::Base64Escape(hash)},
      {"web-safe base64 hash", "/a?h=" + absl::WebSafeBase64Escape(hash), ""},
      {"hash of the phone number", "/a", platform::Digest::sha256Hex(std::string_view("+15550102030"))},
      {"membership input", "/adconv/app/psm", absl::WebSafeBase64Escape(psmInput)},
      {"debug key without its conditions", "/adconv/app/psm?version=1.1&debug_psm_key=abc", ""},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(findPrivacyLeaks({request(c.target, c.body)}, inputs()).empty()) << c.form;
  }
}

TEST(PrivacyCheck, CleanTrafficAndAnAllowedDebugKeyPass) {
  const std::string psmInput = raw(ODCPSMInputFromString(*ODCNormalizeEmailAddress(kEmail), kAppID));
  const std::string debugKey = absl::WebSafeBase64Escape(psmInput + psmInput);
  const auto clean = request("/adconv/app/psm?version=1.1&retry_count=0&debug_psm_key=" + debugKey + "&tss=60",
                             "{\"psm_request\":\"AbCd-_\"} user@ 1700000000000");
  EXPECT_EQ(findPrivacyLeaks({clean}, inputs(/*debugKeyAllowed=*/true)), std::vector<std::string>{});
  EXPECT_FALSE(findPrivacyLeaks({clean}, inputs(/*debugKeyAllowed=*/false)).empty());
}

}  // namespace
}  // namespace e2e
