#include "analytics/measurement/GWLTCFRegistration.h"

const GWLTCFRegistration& GWLTCFRegistration::sharedInstance() {
  static const GWLTCFRegistration registration;
  return registration;
}

GWLTCFRegistration::GWLTCFRegistration()
    : consentPurposes_{1, 3, 4},
      legitimateInterestPurposes_{2, 7, 9, 10},
      flexibleLegitimateInterestPurposes_{2, 7, 9, 10} {}

bool GWLTCFRegistration::hasConsentForPurposeID(int64_t purposeID) const {
  return consentPurposes_.count(purposeID) != 0;
}

bool GWLTCFRegistration::hasLegitimateInterestForPurposeID(int64_t purposeID) const {
  return legitimateInterestPurposes_.count(purposeID) != 0;
}

bool GWLTCFRegistration::hasFlexibleLegitimateInterestForPurposeID(int64_t purposeID) const {
  return flexibleLegitimateInterestPurposes_.count(purposeID) != 0;
}
