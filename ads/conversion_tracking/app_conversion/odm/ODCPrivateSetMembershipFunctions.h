// The free functions of the private-set-membership clients: normalising an
// e-mail address or a phone number, hashing, making the blinders client of a
// query, and the request and answer handling both client classes share.
//
// All are pure and may run on any thread. Text is UTF-8; text that is not is
// refused (nullopt).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/status/statusor.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"

// The webmail service whose local parts ignore dots and whose look-alike
// characters are folded, and the older domain it also answers under.
inline constexpr const char* kODCPrimaryWebmailDomain = "webmail.example";
inline constexpr const char* kODCLegacyWebmailDomain = "legacy-webmail.example";

// Every client queries one id with hash type 2 and no dummy records.
inline constexpr int32_t kODCBlindersHashType = 2;
inline constexpr int32_t kODCBlindersMaxHashPrefixesCount = 0;
// Bytes of a hashed input that a query uses: a SHA-256 digest.
inline constexpr size_t kODCHashedInputLength = 32;

// Request and answer bodies: {"psm_request": ...} and {"psm_response": ...}.
inline constexpr const char* kODCPSMRequestKey = "psm_request";
inline constexpr const char* kODCPSMResponseKey = "psm_response";

// The e-mail address lower-cased, the legacy webmail domain replaced by the
// primary one, and at the primary domain the local part's dots removed and
// i, 1 folded to l, 0 to o, 2 to z, 5 to s; nullopt for empty text, for
// anything but exactly one "@", and for a result that does not match
// ^\S+@\S+\.\S+$ (searched with Unicode classes).
std::optional<std::string> ODCNormalizeEmailAddress(std::string_view emailAddress);

// The phone number without "-", "(", ")", "/", "." and white space (space
// separators and tab), with "+" put in front when missing; nullopt for empty
// text and for a result that does not match ^\+[1-9]\d{1,14}$ (E.164).
std::optional<std::string> ODCNormalizePhoneNumber(std::string_view phoneNumber);

// SHA-256 of the UTF-8 bytes: 32 bytes.
std::vector<uint8_t> ODCSHA256OfString(std::string_view text);

// SHA-256 of (SHA-256 of `normalized`) followed by the app ID's bytes.
std::vector<uint8_t> ODCPSMInputFromString(std::string_view normalized, std::string_view appID);

// SHA-256 of the first 32 bytes of `hashedInput` followed by the app ID's
// bytes; nullopt for an input shorter than 32 bytes. For one address this
// equals ODCPSMInputFromString of the address.
std::optional<std::vector<uint8_t>> ODCPSMInputFromHashedInput(std::span<const uint8_t> hashedInput,
                                                               std::string_view appID);

// A blinders client for one id {query tag = the app ID, non-sensitive and
// sensitive id = `psmInput`} with {prefix bit length, hash type 2, maximum
// count 0}, or the status that refused it.
absl::StatusOr<std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient>>
ODCMakeBlindersClient(std::span<const uint8_t> psmInput, std::string_view appID, int32_t prefixBitLength);

// The group query's blinders client: id {no query tag, `hashedInput`,
// `hashedInput`}, parameters as above.
absl::StatusOr<std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient>>
ODCMakeGroupBlindersClient(std::span<const uint8_t> hashedInput, int32_t prefixBitLength);

// The blinders client's request for `useCase`, encoded and in web-safe base64
// without padding; empty when the request cannot be made or encoded.
std::string ODCSerializedRequestAsWebsafeBase64(
    private_membership::blinders::PrivateMembershipBlindersMiniClient& blindersClient, int32_t useCase);

// The JSON body {"psm_request": `serializedRequest`} in compact form, or
// nullopt for an empty request.
std::optional<std::vector<uint8_t>> ODCPSMPayloadWithSerializedRequest(const std::string& serializedRequest);

// scheme://host[:port]`path`?key=value&..., each value percent-encoded for a
// query value; nullopt when that is no valid URL.
std::optional<std::string> ODCPSMRequestURL(const GWLServiceEndpoint& host, std::string_view path,
                                            const std::vector<std::pair<std::string, std::string>>& query);

// The value the answer `data` holds for the blinders client's query: the
// JSON object's "psm_response" string, web-safe base64 decoded (undecodable
// text counts as empty), deserialised and processed; the first member result
// with a non-empty value, in web-safe base64 without padding. Nullopt for no
// such result and for every unusable answer (not JSON, not an object, no
// string member, a response that does not deserialise or process).
std::optional<std::string> ODCParsedPSMValueFromResponse(
    private_membership::blinders::PrivateMembershipBlindersMiniClient& blindersClient,
    std::span<const uint8_t> data);
