// GWLServiceHosts — where the library's requests go: the collection
// service's upload host, the second upload host used while tracking is
// authorised, the configuration host, and the attribution services (the ad
// conversion host of private-set-membership queries and deferred deep links,
// the group-identifier host, the on-device measurement endpoint and the
// search-ads attribution API) and the experiments service, each with a scheme
// and an optional port, so
// that tests and a person trying the library can point them at a local
// collection service. The built-in hosts are https on the default port.
//
// Threads: a plain value; each holder owns its copy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct GWLServiceEndpoint {
  std::string scheme = "https";
  std::string host;
  std::optional<uint16_t> port;

  // scheme://[subdomain.]host[:port]; no subdomain in front of an IP address.
  std::string origin(const std::optional<std::string>& subdomain = std::nullopt) const;
};

struct GWLServiceHosts {
  GWLServiceEndpoint upload;
  GWLServiceEndpoint authorizedUpload;
  GWLServiceEndpoint config;
  GWLServiceEndpoint adConversion;
  GWLServiceEndpoint groupIdentifier;
  GWLServiceEndpoint onDeviceMeasurement;
  GWLServiceEndpoint searchAds;
  GWLServiceEndpoint experiments;

  // The collection service's own hosts.
  static GWLServiceHosts builtIn();
  // Every service on one local collection service, e.g. ("http", "127.0.0.1", 8080).
  static GWLServiceHosts local(const std::string& scheme, const std::string& host, uint16_t port);

  // The hosts every part of the library talks to when it is given none of its
  // own: the built-in ones unless the host program has chosen others (a local
  // collection service) with setForProcess before the library starts. Any thread.
  static GWLServiceHosts forProcess();
  static std::optional<GWLServiceHosts> chosenForProcess();
  static void setForProcess(std::optional<GWLServiceHosts> hosts);
};
