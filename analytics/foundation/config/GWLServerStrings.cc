#include "analytics/foundation/config/GWLServerStrings.h"

#include <strings.h>

#include "platform/net/URL.h"

bool GWLIsValidUploadSubdomain(std::string_view subdomain) {
  if (subdomain.size() > 200) return false;
  if (subdomain.find('_') != std::string_view::npos) return false;
  return platform::isValidHostName(subdomain);
}

bool GWLIsValidHTTPHeaderValue(std::string_view value) {
  if (value.size() > 8192) return false;
  if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' || value.back() == '\t')) {
    return false;
  }
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u >= 0x7f) return false;
  }
  return true;
}

bool GWLIsValidEntityTag(std::string_view tag) {
  if (tag.size() > 256) return false;
  if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
  if (tag.size() < 2 || tag.front() != '"' || tag.back() != '"') return false;
  for (char c : tag.substr(1, tag.size() - 2)) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || c == '"') return false;
  }
  return true;
}

bool GWLIsValidServerURL(std::string_view url) { return platform::URL::parse(url).has_value(); }

bool GWLIsValidHTTPHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    const bool alphanumeric = (u >= '0' && u <= '9') || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z');
    if (!alphanumeric && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) return false;
  }
  return true;
}

bool GWLIsHTTPSURL(std::string_view url) {
  return url.size() > 8 && strncasecmp(url.data(), "https://", 8) == 0 && GWLIsValidServerURL(url);
}

std::map<std::string, std::string> GWLValidServerHeaders(const std::map<std::string, std::string>& headers) {
  std::map<std::string, std::string> valid;
  for (const auto& [name, value] : headers) {
    if (GWLIsValidHTTPHeaderName(name) && GWLIsValidHTTPHeaderValue(value)) valid.emplace(name, value);
  }
  return valid;
}
