#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipRegistration.h"

#include <memory>

#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipClient.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipGroupClient.h"
#include "analytics/attribution/GWLClassRegistry.h"

void ODCRegisterPrivateSetMembershipClients(const std::optional<GWLServiceHosts>& hosts) {
  GWLClassRegistry<GWLPrivateSetMembershipClientClass>::registerClass(
      kODCPrivateSetMembershipClientClassName,
      std::make_shared<const ODCPrivateSetMembershipClient::Class>(
          hosts ? std::optional(hosts->adConversion) : std::nullopt));
  GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>::registerClass(
      kODCPrivateSetMembershipGroupClientClassName,
      std::make_shared<const ODCPrivateSetMembershipGroupClient::Class>(
          hosts ? std::optional(hosts->groupIdentifier) : std::nullopt));
}
