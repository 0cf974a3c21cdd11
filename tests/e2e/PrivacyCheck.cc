#include "e2e/PrivacyCheck.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "platform/crypto/Digest.h"

namespace e2e {
namespace {

constexpr const char* kDebugKeyParameter = "debug_psm_key=";

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string upperCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string bytesText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// %XX escapes undone wherever they are well formed; everything else kept
// (bodies are bytes, not all of them percent-encoded text).
std::string percentDecodedLeniently(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  return decoded;
}

// A secret in every form it could travel in: raw, hex either case, base64
// standard and web-safe (padding left off, so that padded forms match too).
void addEncodings(std::vector<std::pair<std::string, std::string>>& needles, const std::string& label,
                  const std::string& raw) {
  const std::string hex = platform::Digest::toHex(std::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>(raw.data()), raw.size()));
  std::string base64 = absl::Base64Escape(raw);
  base64.erase(base64.find_last_not_of('=') + 1);
  needles.emplace_back(label + " (raw bytes)", raw);
  needles.emplace_back(label + " (hex)", hex);
  needles.emplace_back(label + " (upper-case hex)", upperCased(hex));
  needles.emplace_back(label + " (base64)", base64);
  needles.emplace_back(label + " (web-safe base64)", absl::WebSafeBase64Escape(raw));
}

// Text shaped like an e-mail address: a local part, "@", a dotted domain
// ending in two or more letters.
std::optional<std::string> emailShapedText(const std::string& text) {
  auto local = [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-'; };
  auto domain = [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; };
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1)) {
    size_t begin = at;
    while (begin > 0 && local(static_cast<unsigned char>(text[begin - 1]))) --begin;
    size_t end = at + 1;
    while (end < text.size() && domain(static_cast<unsigned char>(text[end]))) ++end;
    while (end > at + 1 && text[end - 1] == '.') --end;
    if (begin == at || end == at + 1) continue;
    const std::string host = text.substr(at + 1, end - at - 1);
    const size_t dot = host.rfind('.');
    if (dot == std::string::npos || dot == 0 || host.size() - dot - 1 < 2) continue;
    if (!std::all_of(host.begin() + static_cast<std::ptrdiff_t>(dot) + 1, host.end(),
                     [](unsigned char c) { return std::isalpha(c); })) {
      continue;
    }
    return text.substr(begin, end - begin);
  }
  return std::nullopt;
}

// The request target with the debug key's value taken out.
std::string withoutDebugKeyValue(std::string target) {
  for (size_t at = target.find(kDebugKeyParameter); at != std::string::npos;
       at = target.find(kDebugKeyParameter, at + 1)) {
    const size_t begin = at + std::string(kDebugKeyParameter).size();
    const size_t end = target.find('&', begin);
    target.erase(begin, end == std::string::npos ? std::string::npos : end - begin);
  }
  return target;
}

}  // namespace

CapturedRequest readCapturedRequest(const std::filesystem::path& file) {
  CapturedRequest request;
  request.file = file.filename().string();
  std::ifstream in(file, std::ios::binary);
  request.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const size_t lineEnd = request.text.find("\r\n");
  request.requestLine = request.text.substr(0, lineEnd);
  const size_t targetBegin = request.requestLine.find(' ');
  const size_t targetEnd = request.requestLine.rfind(' ');
  if (targetBegin != std::string::npos && targetEnd > targetBegin) {
    request.target = request.requestLine.substr(targetBegin + 1, targetEnd - targetBegin - 1);
  }
  const size_t headersEnd = request.text.find("\r\n\r\n");
  if (lineEnd != std::string::npos && headersEnd != std::string::npos) {
    request.headers = request.text.substr(lineEnd + 2, headersEnd - lineEnd - 2);
    request.body = request.text.substr(headersEnd + 4);
  }
  return request;
}

std::vector<CapturedRequest> readCapturedRequests(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator(directory, failed)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<CapturedRequest> requests;
  for (const auto& file : files) requests.push_back(readCapturedRequest(file));
  return requests;
}

std::vector<std::string> findPrivacyLeaks(const std::vector<CapturedRequest>& requests, const PrivateInputs& inputs) {
  // (what, the bytes that must not appear)
  std::vector<std::pair<std::string, std::string>> needles;
  auto addPlain = [&](const std::string& label, const std::string& text) {
    if (text.empty()) return;
    needles.emplace_back(label, text);
    addEncodings(needles, "SHA-256 of " + label, bytesText(ODCSHA256OfString(text)));
  };
  auto addPersonalDatum = [&](const std::string& kind, const std::string& given,
                              const std::optional<std::string>& normalised) {
    std::set<std::string> forms = {given, lowerCased(given)};
    if (normalised) forms.insert(*normalised);
    for (const auto& form : forms) addPlain(kind + " \"" + form + "\"", form);
    if (normalised) {
      addEncodings(needles, "membership input of " + kind + " \"" + given + "\"",
                   bytesText(ODCPSMInputFromString(*normalised, inputs.appID)));
    }
  };
  for (const auto& address : inputs.emailAddresses) {
    addPersonalDatum("e-mail address", address, ODCNormalizeEmailAddress(address));
  }
  for (const auto& number : inputs.phoneNumbers) {
    const auto normalised = ODCNormalizePhoneNumber(number);
    addPersonalDatum("phone number", number, normalised);
    if (normalised) needles.emplace_back("phone number \"" + number + "\" (digits)", normalised->substr(1));
  }

  std::vector<std::string> leaks;
  for (const auto& request : requests) {
    std::string target = request.target;
    if (inputs.debugKeyAllowed) {
      target = withoutDebugKeyValue(target);
    } else if (target.find(kDebugKeyParameter) != std::string::npos) {
      leaks.push_back(request.file + ": the membership debug key was sent without the conditions that allow it");
    }
    const std::string rest = request.headers + "\r\n\r\n" + request.body;
    for (const std::string& text : {target, rest}) {
      const std::string decoded = percentDecodedLeniently(text);
      for (const auto& [what, bytes] : needles) {
        if (text.find(bytes) != std::string::npos || decoded.find(bytes) != std::string::npos) {
          leaks.push_back(request.file + ": " + what);
        }
      }
      if (auto shaped = emailShapedText(decoded)) {
        leaks.push_back(request.file + ": text shaped like an e-mail address \"" + *shaped + "\"");
      }
    }
  }
  std::sort(leaks.begin(), leaks.end());
  leaks.erase(std::unique(leaks.begin(), leaks.end()), leaks.end());
  return leaks;
}

}  // namespace e2e
