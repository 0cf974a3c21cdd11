#include "platform/net/URL.h"

#include <arpa/inet.h>

#include <charconv>

namespace platform {

namespace {

bool isAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Characters allowed in a request target as sent: printable ASCII except
// blanks, quotes, angle brackets, backslash and the like; '%' escapes stay as they are.
bool isTargetChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7f) return false;
  return std::string_view("\"<>\\^`{|}#").find(c) == std::string_view::npos;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The characters a URI reference may hold: unreserved, reserved and '%'.
bool isURIChar(char c) {
  if (isAlnum(c)) return true;
  return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

bool isValidScheme(std::string_view scheme) {
  if (scheme.empty() || !((scheme[0] >= 'a' && scheme[0] <= 'z') || (scheme[0] >= 'A' && scheme[0] <= 'Z'))) {
    return false;
  }
  for (char c : scheme) {
    if (!isAlnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!isURIChar(text[i])) return std::nullopt;
    if (text[i] == '%' && (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))) {
      return std::nullopt;
    }
  }
  URLComponents url;
  url.absoluteString = std::string(text);
  std::string_view rest = text;

  const size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    if (rest.find('#', hash + 1) != std::string_view::npos) return std::nullopt;
    url.fragment = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    url.query = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  // A ':' before the first '/' ends the scheme; without a valid scheme before
  // it, the text is no URL (a relative path's first segment holds no ':').
  const size_t colon = rest.find(':');
  if (colon != std::string_view::npos && colon < rest.find('/')) {
    if (!isValidScheme(rest.substr(0, colon))) return std::nullopt;
    url.scheme = std::string(rest.substr(0, colon));
    rest = rest.substr(colon + 1);
  }
  if (rest.substr(0, 2) == "//") {
    rest = rest.substr(2);
    const size_t authorityEnd = rest.find('/');
    std::string_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority = authority.substr(at + 1);
    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
      const size_t close = authority.find(']');
      if (close == std::string_view::npos) return std::nullopt;
      url.host = std::string(authority.substr(1, close - 1));
      std::string_view after = authority.substr(close + 1);
      if (!after.empty()) {
        if (after[0] != ':') return std::nullopt;
        portText = after.substr(1);
        hasPort = true;
      }
    } else {
      if (authority.find_first_of("[]") != std::string_view::npos) return std::nullopt;
      const size_t portColon = authority.find(':');
      url.host = std::string(authority.substr(0, portColon));
      if (portColon != std::string_view::npos) {
        portText = authority.substr(portColon + 1);
        hasPort = true;
      }
    }
    if (hasPort && !portText.empty()) {
      unsigned port = 0;
      auto result = std::from_chars(portText.data(), portText.data() + portText.size(), port);
      if (result.ec != std::errc() || result.ptr != portText.data() + portText.size() || port > 65535) {
        return std::nullopt;
      }
      url.port = static_cast<uint16_t>(port);
    }
  }
  if (rest.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  url.path = std::string(rest);
  return url;
}

bool isValidHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  size_t labelStart = 0;
  for (size_t i = 0; i <= host.size(); ++i) {
    if (i == host.size() || host[i] == '.') {
      size_t length = i - labelStart;
      if (length == 0 || length > 63) return false;
      if (host[labelStart] == '-' || host[i - 1] == '-') return false;
      labelStart = i + 1;
    } else if (!isAlnum(host[i]) && host[i] != '-' && host[i] != '_') {
      return false;
    }
  }
  return true;
}

std::optional<URL> URL::parse(std::string_view text) {
  URL url;
  size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  for (char c : text.substr(0, schemeEnd)) url.scheme += static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  if (url.scheme != "http" && url.scheme != "https") return std::nullopt;
  std::string_view rest = text.substr(schemeEnd + 3);
  size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view target = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;

  std::string_view portText;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    url.host = std::string(authority.substr(1, close - 1));
    in6_addr address{};
    if (inet_pton(AF_INET6, url.host.c_str(), &address) != 1) return std::nullopt;
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return std::nullopt;
      portText = after.substr(1);
      url.hasExplicitPort = true;
    }
  } else {
    size_t colon = authority.find(':');
    url.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = authority.substr(colon + 1);
      url.hasExplicitPort = true;
    }
    for (char& c : url.host) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (!isValidHostName(url.host)) return std::nullopt;
  }
  if (url.hasExplicitPort) {
    unsigned port = 0;
    auto result = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || result.ec != std::errc() || result.ptr != portText.data() + portText.size() ||
        port == 0 || port > 65535) {
      return std::nullopt;
    }
    url.port = static_cast<uint16_t>(port);
  } else {
    url.port = url.isTLS() ? 443 : 80;
  }
  if (target.find('#') != std::string_view::npos) return std::nullopt;
  for (char c : target) {
    if (!isTargetChar(c)) return std::nullopt;
  }
  url.target = target.empty() ? "/" : (target[0] == '?' ? "/" + std::string(target) : std::string(target));
  return url;
}

bool URL::isIPAddress() const {
  in6_addr address6{};
  in_addr address4{};
  return inet_pton(AF_INET6, host.c_str(), &address6) == 1 || inet_pton(AF_INET, host.c_str(), &address4) == 1;
}

std::string URL::hostHeader() const {
  std::string header = isIPv6Literal() ? "[" + host + "]" : host;
  if (port != (isTLS() ? 443 : 80)) header += ":" + std::to_string(port);
  return header;
}

std::string URL::absoluteString() const { return scheme + "://" + hostHeader() + target; }

}  // namespace platform
