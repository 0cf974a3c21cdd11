// Consent from outside: the Info dictionary's defaults, the consent kept in
// the suite (stored data of any shape) and the caller's dictionaries. The
// input is a property list; when it holds a dictionary, it serves as all
// three. Nothing crashes, every answer keeps its form, and an accepted
// consent call puts every valid value it was given in force.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/storage/PropertyList.h"
#include "platform/text/BooleanText.h"
#include "platform/text/Utf8.h"

namespace {

using fuzz_support::check;
using Util = GWLConsentSettingsUtil;

bool isDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void checkAnswers() {
  const std::string signals = Util::consentSignals();
  check(signals.size() == 4 && signals.compare(0, 2, "G1") == 0);
  const std::string diagnostics = Util::consentDiagnostics();
  check(diagnostics.size() == 5 && diagnostics[0] == '1' && isDigits(diagnostics));
  check(platform::utf8::isValid(Util::description()));
  (void)Util::isAdUserDataDenied();
  (void)Util::adPersonalization();
}

int testOneInput(const uint8_t* data, size_t size) {
  auto object = platform::PropertyList::parse(std::span<const uint8_t>(data, size));
  if (!object || !object->dictionaryValue()) return 0;
  const platform::Dictionary& dictionary = *object->dictionaryValue();
  Util::resetForTesting();

  // The Info dictionary.
  for (const auto& [type, value] : Util::consentSettingsFromPlist(dictionary)) {
    const std::string* text = value.stringValue();
    check(text && (*text == "granted" || *text == "denied" || *text == "eu_consent_policy"));
    check(type == "ad_storage" || type == "analytics_storage" || type == "ad_user_data" ||
          type == "ad_personalization");
  }
  for (const auto& [key, value] : dictionary) {
    if (const std::string* text = value.stringValue()) (void)platform::booleanValueOfText(*text);
  }

  // The suite's stored consent, restored, then the caller's consent on top.
  auto suite = std::make_shared<GWLUserDefaults>(
      platform::PreferencesStore::create(kGWLAnalyticsSuiteName, std::string(), nullptr, nullptr),
      kGWLAnalyticsSuiteName);
  for (const auto& [key, value] : dictionary) suite->setObject(value, key);
  GWLAnalyticsConsent::Dependencies dependencies;
  dependencies.defaults = suite;
  GWLAnalyticsConsent consent(dependencies);
  consent.loadPersistedConsentSettings();
  Util::setDefaultSettings(dictionary);
  Util::setDelegatedSettings(dictionary);
  Util::setRegionalDefaults(dictionary);
  checkAnswers();

  const std::pair<const char*, int64_t> calls[] = {{kGWLConsentSettingsKey, kGWLConsentSource1P},
                                                   {kGWLConsentSettings3PKey, kGWLConsentSource3P},
                                                   {kGWLConsentSettingsTCFKey, kGWLConsentSourceTCF}};
  platform::Dictionary valid;
  for (const auto& [type, value] : Util::consentSettingsFromDictionary(dictionary)) {
    const std::string* text = value.stringValue();
    if (text && (*text == "granted" || *text == "denied")) valid.emplace(type, value);
  }
  for (const auto& [key, source] : calls) {
    consent.setConsent(dictionary, key);
    checkAnswers();
    // With valid values, the source in force is the call's exactly when it was accepted.
    if (valid.empty() || Util::consentSource() != source) continue;
    // Accepted: every valid value given is in force, and persisted with the source.
    auto current = Util::consentSettings();
    check(current.has_value());
    for (const auto& [type, value] : valid) check(current->at(type) == value);
    check(consent.persistedConsentSource() == source);
  }
  consent.clearConsent();
  check(Util::consentSource() == kGWLConsentSourceNone);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
