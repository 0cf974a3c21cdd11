// The conversion layer's part of the library's composition root: registers
// the private-set-membership client classes under their names, so that the
// measurement engine finds them (GWLClassRegistry). An app that does not call
// this has no such classes, and the engine leaves the feature off.
#pragma once

#include <optional>

#include "analytics/foundation/config/GWLServiceHosts.h"

// Registers ODCPrivateSetMembershipClient (querying hosts.adConversion) and
// ODCPrivateSetMembershipGroupClient (querying hosts.groupIdentifier); a later
// call replaces the classes with ones for the new hosts. Without hosts, each
// client made goes to the process's hosts of the moment
// (GWLServiceHosts::forProcess), so a host program may choose them after the
// library has loaded.
void ODCRegisterPrivateSetMembershipClients(const std::optional<GWLServiceHosts>& hosts = std::nullopt);
