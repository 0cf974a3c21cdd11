#include "analytics/foundation/config/GWLServiceHosts.h"

#include <arpa/inet.h>

#include <mutex>

namespace {
constexpr const char* kUploadHost = "gauge.halcyra.com";
constexpr const char* kAuthorizedUploadHost = "gauge-services.halcyra.com";
constexpr const char* kAdConversionHost = "adconversion.halcyra.com";
constexpr const char* kGroupIdentifierHost = "adgroups.halcyra.com";
constexpr const char* kOnDeviceMeasurementHost = "odm.halcyra.com";
constexpr const char* kSearchAdsHost = "api-adservices.platform.example";
constexpr const char* kExperimentsHost = "gauge-experiments.halcyra.com";
}  // namespace

std::string GWLServiceEndpoint::origin(const std::optional<std::string>& subdomain) const {
  std::string text = scheme + "://";
  // A subdomain goes in front of a host name, never of an address.
  in_addr address4{};
  in6_addr address6{};
  const bool isAddress = inet_pton(AF_INET, host.c_str(), &address4) == 1 || inet_pton(AF_INET6, host.c_str(), &address6) == 1;
  if (subdomain && !subdomain->empty() && !isAddress) text += *subdomain + ".";
  text += host;
  if (port) text += ":" + std::to_string(*port);
  return text;
}

GWLServiceHosts GWLServiceHosts::builtIn() {
  return {{"https", kUploadHost, std::nullopt},
          {"https", kAuthorizedUploadHost, std::nullopt},
          {"https", kUploadHost, std::nullopt},
          {"https", kAdConversionHost, std::nullopt},
          {"https", kGroupIdentifierHost, std::nullopt},
          {"https", kOnDeviceMeasurementHost, std::nullopt},
          {"https", kSearchAdsHost, std::nullopt},
          {"https", kExperimentsHost, std::nullopt}};
}

GWLServiceHosts GWLServiceHosts::local(const std::string& scheme, const std::string& host, uint16_t port) {
  GWLServiceEndpoint endpoint{scheme, host, port};
  return {endpoint, endpoint, endpoint, endpoint, endpoint, endpoint, endpoint, endpoint};
}

namespace {
struct ProcessHosts {
  std::mutex mutex;
  std::optional<GWLServiceHosts> hosts;
};
ProcessHosts& processHosts() {
  static auto* hosts = new ProcessHosts();  // never destroyed: read until the process ends
  return *hosts;
}
}  // namespace

GWLServiceHosts GWLServiceHosts::forProcess() { return chosenForProcess().value_or(builtIn()); }

std::optional<GWLServiceHosts> GWLServiceHosts::chosenForProcess() {
  auto& state = processHosts();
  std::lock_guard lock(state.mutex);
  return state.hosts;
}

void GWLServiceHosts::setForProcess(std::optional<GWLServiceHosts> hosts) {
  auto& state = processHosts();
  std::lock_guard lock(state.mutex);
  state.hosts = std::move(hosts);
}
