// Shared pieces of the TCF tests: bit strings and snapshots built from a
// generator, and stores kept in memory.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLTCFDataGenerator.h"
#include "platform/storage/PreferencesStore.h"

namespace measurement_test {

// `length` characters "0" with "1" at each of `ones`.
inline std::string bits(size_t length, std::initializer_list<size_t> ones = {}) {
  std::string text(length, '0');
  for (size_t index : ones) text[index] = '1';
  return text;
}

// A vendor string with the library's entry (index 754) set or unset.
inline std::string vendorBits(bool set) { return set ? bits(755, {754}) : bits(755); }

// Ten restrictions, purpose `purposeID` having `restriction`.
inline GWLTCFData::Restrictions restrictionFor(int64_t purposeID, const std::string& restriction) {
  GWLTCFData::Restrictions restrictions(10);
  restrictions[static_cast<size_t>(purposeID - 1)] = restriction;
  return restrictions;
}

// Everything that grants all three: purpose consents "1111111111", the
// library's vendor bits, policy version 4, the purpose-7 legitimate interest,
// no restrictions, TCF data enabled with advertiser consent mode and GDPR.
inline GWLTCFDataGenerator grantingEverything() {
  GWLTCFDataGenerator generator;
  generator.isTCFDataEnabled = true;
  generator.isAdvertiserConsentModeEnabled = 1;
  generator.gdprApplies = 1;
  generator.policyVersion = 4;
  generator.vendorConsents = vendorBits(true);
  generator.vendorLegitimateInterests = vendorBits(true);
  generator.purposeConsents = "1111111111";
  generator.purposeLegitimateInterests = bits(10, {6});
  generator.publisherRestrictions = GWLTCFData::Restrictions(10);
  return generator;
}

// A suite kept in memory.
inline std::shared_ptr<GWLUserDefaults> memorySuite(const std::string& name) {
  return std::make_shared<GWLUserDefaults>(platform::PreferencesStore::create(name, std::string(), nullptr, nullptr),
                                           name);
}

}  // namespace measurement_test
