#include "tools/tabulo/TabuloHostOptions.h"

#include <cctype>

#include "platform/net/URL.h"
#include "platform/storage/Paths.h"

namespace tabulo_host {

namespace {

constexpr const char* kExpectedForm = "expected http://HOST[:PORT] or https://HOST[:PORT]";

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::nullopt_t refuse(std::string* message, const std::string& reason) {
  if (message) *message = reason + " (" + kExpectedForm + ")";
  return std::nullopt;
}

}  // namespace

std::string CollectionServiceAddress::url() const {
  return scheme + "://" + host + (port ? ":" + std::to_string(*port) : "");
}

std::optional<CollectionServiceAddress> parseCollectionServiceURL(const std::string& text, std::string* message) {
  // The reasons a person is most likely to need first; the HTTP client's own
  // strict reading then judges the rest (host, port, characters).
  const size_t separator = text.find("://");
  if (separator == std::string::npos || separator == 0) return refuse(message, "no scheme");
  const std::string scheme = lowercase(text.substr(0, separator));
  if (scheme != "http" && scheme != "https") {
    return refuse(message, "the scheme \"" + text.substr(0, separator) + "\" is neither http nor https");
  }
  const std::string rest = text.substr(separator + 3);
  const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string::npos) return refuse(message, "credentials are not accepted");
  if (authority.empty() || authority[0] == ':') return refuse(message, "no host");
  std::optional<platform::URL> url = platform::URL::parse(text);
  if (!url) return refuse(message, "not a host name or IPv4 address with an optional port from 1 to 65535");
  if (url->target != "/") return refuse(message, "a path or query is not accepted");
  // The library writes its hosts into URLs as they are, without brackets.
  if (url->isIPv6Literal()) return refuse(message, "an IPv6 address is not accepted");
  CollectionServiceAddress address;
  address.scheme = url->scheme;
  address.host = url->host;
  if (url->hasExplicitPort) address.port = url->port;
  return address;
}

std::optional<HostOptions> parseHostOptions(const std::vector<std::string>& arguments, std::string* message) {
  HostOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == kOnceArgument) {
      options.once = true;
    } else if (argument == platform::kDataDirectoryArgument) {
      ++i;  // its value, read by the data directory's own lookup
    } else if (argument == kCollectionServiceArgument) {
      if (i + 1 >= arguments.size()) {
        if (message) *message = std::string(kCollectionServiceArgument) + " needs a URL (" + kExpectedForm + ")";
        return std::nullopt;
      }
      std::string reason;
      options.collectionService = parseCollectionServiceURL(arguments[++i], &reason);
      if (!options.collectionService) {
        if (message) *message = std::string(kCollectionServiceArgument) + " \"" + arguments[i] + "\": " + reason;
        return std::nullopt;
      }
    } else if (!argument.starts_with("-") && !options.fileArgument) {
      options.fileArgument = argument;
    }
  }
  return options;
}

}  // namespace tabulo_host
