// GWLTCFDataGenerator — builds a GWLTCFData from values set one by one (the
// TCF client fills one from its stored copies to judge the consent it applied
// before). A plain value; not shared between threads.
#pragma once

#include <optional>
#include <string>

#include "analytics/measurement/GWLTCFData.h"

class GWLTCFDataGenerator {
 public:
  bool isTCFDataEnabled = false;
  std::optional<GWLTCFNumber> isAdvertiserConsentModeEnabled;
  std::optional<GWLTCFNumber> cmpSDKID;
  std::optional<std::string> vendorConsents;
  std::optional<std::string> vendorLegitimateInterests;
  std::optional<GWLTCFNumber> gdprApplies;
  std::optional<GWLTCFNumber> policyVersion;
  std::optional<std::string> purposeConsents;
  std::optional<std::string> purposeLegitimateInterests;
  std::optional<GWLTCFData::Restrictions> publisherRestrictions;
  std::optional<GWLTCFNumber> isPurposeOneTreatmentEnabled;
  std::optional<std::string> publisherCC;

  // A snapshot holding these values.
  GWLTCFData generateData() const;
};
