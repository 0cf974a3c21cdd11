#include "tools/tabulo/TabuloHostOptions.h"

#include <cctype>

#include "platform/storage/Paths.h"

namespace tabulo_host {

namespace {

constexpr const char* kExpectedForm = "expected http://HOST[:PORT] or https://HOST[:PORT]";

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A host name or an IPv4 address: dot-separated labels of letters, digits
// and hyphens.
bool isHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  size_t labelLength = 0;
  for (char c : host) {
    if (c == '.') {
      if (labelLength == 0) return false;
      labelLength = 0;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
      if (++labelLength > 63) return false;
    } else {
      return false;
    }
  }
  return labelLength > 0;
}

std::optional<uint16_t> portNumber(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
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
  const size_t separator = text.find("://");
  if (separator == std::string::npos || separator == 0) return refuse(message, "no scheme");
  CollectionServiceAddress address;
  address.scheme = lowercase(text.substr(0, separator));
  if (address.scheme != "http" && address.scheme != "https") {
    return refuse(message, "the scheme \"" + text.substr(0, separator) + "\" is neither http nor https");
  }
  const std::string rest = text.substr(separator + 3);
  const size_t authorityEnd = rest.find_first_of("/?#");
  const std::string authority = rest.substr(0, authorityEnd);
  const std::string tail = authorityEnd == std::string::npos ? "" : rest.substr(authorityEnd);
  if (authority.find('@') != std::string::npos) return refuse(message, "credentials are not accepted");
  if (!tail.empty() && tail != "/") return refuse(message, "a path, query or fragment is not accepted");
  if (authority.empty()) return refuse(message, "no host");
  const size_t colon = authority.find(':');
  address.host = authority.substr(0, colon);
  if (address.host.empty()) return refuse(message, "no host");
  if (!isHostName(address.host)) return refuse(message, "\"" + address.host + "\" is not a host name or an IPv4 address");
  if (colon != std::string::npos) {
    address.port = portNumber(authority.substr(colon + 1));
    if (!address.port) return refuse(message, "the port is not a number from 1 to 65535");
  }
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
