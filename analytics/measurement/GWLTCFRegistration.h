// GWLTCFRegistration — the library's own registration of TCF purposes: which
// purposes it uses with consent, which with legitimate interest, and which of
// those it may switch between the two when a publisher restriction asks.
//
// Immutable once made; the process-wide instance is made once and may be
// asked from any thread.
#pragma once

#include <cstdint>
#include <set>

class GWLTCFRegistration {
 public:
  // The process-wide registration.
  static const GWLTCFRegistration& sharedInstance();

  // Consent purposes {1, 3, 4}; legitimate-interest purposes and flexible
  // legitimate-interest purposes both {2, 7, 9, 10}.
  GWLTCFRegistration();

  bool hasConsentForPurposeID(int64_t purposeID) const;
  bool hasLegitimateInterestForPurposeID(int64_t purposeID) const;
  bool hasFlexibleLegitimateInterestForPurposeID(int64_t purposeID) const;

 private:
  std::set<int64_t> consentPurposes_;
  std::set<int64_t> legitimateInterestPurposes_;
  std::set<int64_t> flexibleLegitimateInterestPurposes_;
};
