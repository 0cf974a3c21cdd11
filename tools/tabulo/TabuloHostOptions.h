// The app host's command line.
//
//   tabulo [--data-dir DIR] [--collection-service URL] [--once] [FILE] [-LaunchArgument ...]
//
// `--collection-service` points the analytics library's uploads and
// configuration fetches (and every other service it talks to) at one
// collection service, such as the local one in tools/collection_service: an
// http or https URL naming a host (a name or an IPv4 address) and,
// optionally, a port; nothing else (no credentials, path, query or fragment;
// a lone "/" after the host is accepted). The HTTP client's strict reading
// (platform/net/URL.h) judges the host, the port and the characters. Without it the library talks to its built-in hosts. A value the
// host cannot use is refused at start, never replaced by the built-in hosts.
//
// Other arguments that begin with "-" are launch arguments for the app and
// the library (for example "-CVNAnalyticsDebugEnabled") and are passed on
// untouched; the first other argument is a file to hand to the app.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tabulo_host {

inline constexpr const char* kCollectionServiceArgument = "--collection-service";
inline constexpr const char* kOnceArgument = "--once";

// Where the library's services are, taken from --collection-service.
struct CollectionServiceAddress {
  std::string scheme;  // "http" or "https", lower case
  std::string host;
  std::optional<uint16_t> port;

  std::string url() const;
};

// The URL as a collection service address; none, with the reason in
// `message`, when it is not one.
[[nodiscard]] std::optional<CollectionServiceAddress> parseCollectionServiceURL(const std::string& text,
                                                                                std::string* message = nullptr);

struct HostOptions {
  bool once = false;
  std::optional<std::string> fileArgument;
  std::optional<CollectionServiceAddress> collectionService;
};

// The options of `arguments` (without the program name); none, with a
// message for the person who started the host, when one is unusable.
[[nodiscard]] std::optional<HostOptions> parseHostOptions(const std::vector<std::string>& arguments,
                                                          std::string* message = nullptr);

}  // namespace tabulo_host
