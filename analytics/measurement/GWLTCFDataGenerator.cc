#include "analytics/measurement/GWLTCFDataGenerator.h"

GWLTCFData GWLTCFDataGenerator::generateData() const {
  return GWLTCFData(isTCFDataEnabled, isAdvertiserConsentModeEnabled, vendorConsents, vendorLegitimateInterests,
                    cmpSDKID, gdprApplies, policyVersion, purposeConsents, purposeLegitimateInterests,
                    publisherRestrictions, isPurposeOneTreatmentEnabled, publisherCC);
}
