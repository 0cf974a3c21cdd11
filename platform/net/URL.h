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

// A URL of any scheme (an app's own link such as "tabulo://open?utm_source=x"
// as much as a web page), split the way RFC 3986 reads a URI reference:
//
//   scheme ":" ["//" authority] path ["?" query] ["#" fragment]
//
// `parse` refuses text that no URL can be made from: empty text, a byte that
// a URL cannot hold (blanks, control bytes, bytes beyond ASCII, and
// " < > \ ^ ` { | }), a '%' not followed by two hex digits, a second '#', a
// scheme that is not a letter followed by letters, digits, '+', '-' or '.',
// a first path segment holding ':' without a scheme before it, an unclosed
// '[' in the host, or a port that is not decimal. The parts keep their
// percent escapes; nothing is decoded or normalised.
struct URLComponents {
  std::string absoluteString;          // the text parsed, unchanged
  std::optional<std::string> scheme;   // without the ':'
  std::optional<std::string> host;     // present when the URL has an authority; no brackets, no user or port
  std::optional<uint16_t> port;
  std::string path;
  std::optional<std::string> query;     // after the first '?', up to the '#'
  std::optional<std::string> fragment;  // after the '#'

  static std::optional<URLComponents> parse(std::string_view text);
};

// Whether `host` is a host name this project accepts: labels of letters,
// digits, '-' and '_' joined by '.', none empty, none starting or ending with
// '-', at most 63 bytes each and 253 in all.
bool isValidHostName(std::string_view host);

}  // namespace platform
