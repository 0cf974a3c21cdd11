#include "analytics/foundation/GWLServiceHosts.h"

namespace {
constexpr const char* kUploadHost = "app-measurement.halcyra.com";
constexpr const char* kAuthorizedUploadHost = "app-analytics-services.halcyra.com";
}  // namespace

std::string GWLServiceEndpoint::origin(const std::optional<std::string>& subdomain) const {
  std::string text = scheme + "://";
  if (subdomain && !subdomain->empty()) text += *subdomain + ".";
  text += host;
  if (port) text += ":" + std::to_string(*port);
  return text;
}

GWLServiceHosts GWLServiceHosts::builtIn() {
  return {{"https", kUploadHost, std::nullopt},
          {"https", kAuthorizedUploadHost, std::nullopt},
          {"https", kUploadHost, std::nullopt}};
}

GWLServiceHosts GWLServiceHosts::local(const std::string& scheme, const std::string& host, uint16_t port) {
  GWLServiceEndpoint endpoint{scheme, host, port};
  return {endpoint, endpoint, endpoint};
}
