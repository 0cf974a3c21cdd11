// platform::URL — an absolute http or https URL split into the parts an HTTP
// client needs: scheme, host, port and the request target (path and query).
//
// Parsing is strict: only the schemes "http" and "https", a host made of
// letters, digits, '-', '.' and '_' (or a bracketed IPv6 literal), an
// optional decimal port in 1-65535, and no user information, fragment,
// blanks or control characters. Anything else is refused, so a URL built
// from a server's strings cannot smuggle a second host or a header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct URL {
  std::string scheme;   // "http" or "https", lower case
  std::string host;     // without brackets for IPv6 literals
  uint16_t port = 0;    // the scheme's default when the URL gives none
  bool hasExplicitPort = false;
  std::string target;   // path and query, at least "/"

  static std::optional<URL> parse(std::string_view text);

  bool isTLS() const { return scheme == "https"; }
  bool isIPv6Literal() const { return host.find(':') != std::string::npos; }
  // Whether the host is an IPv4 or IPv6 address rather than a name.
  bool isIPAddress() const;
  // The Host header value: the host, bracketed for IPv6, with the port when it is not the default.
  std::string hostHeader() const;
  std::string absoluteString() const;
};

// Whether `host` is a host name this project accepts: labels of letters,
// digits, '-' and '_' joined by '.', none empty, none starting or ending with
// '-', at most 63 bytes each and 253 in all.
bool isValidHostName(std::string_view host);

}  // namespace platform
