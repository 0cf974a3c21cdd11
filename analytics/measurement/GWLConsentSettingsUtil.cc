#include "analytics/measurement/GWLConsentSettingsUtil.h"

#include <absl/base/thread_annotations.h>

#include <algorithm>
#include <map>

#include "platform/env/AppEnvironment.h"
#include "platform/text/BooleanText.h"
#include "platform/util/Mutex.h"

namespace {

using Settings = platform::Dictionary;

// Info dictionary defaults: which key feeds which consent type, and whether
// the type takes "eu_consent_policy" and a number.
struct InfoDefault {
  const char* key;
  const char* consentType;
  bool takesEUConsentPolicy;
  bool takesNumber;
};
constexpr InfoDefault kInfoDefaults[] = {
    {kGWLDefaultAllowAdStorageInfoKey, kGWLConsentTypeAdStorage, false, true},
    {kGWLDefaultAllowAnalyticsStorageInfoKey, kGWLConsentTypeAnalyticsStorage, false, true},
    {kGWLDefaultAllowAdUserDataInfoKey, kGWLConsentTypeAdUserData, true, true},
    {kGWLDefaultAllowAdPersonalizationSignalsInfoKey, kGWLConsentTypeAdPersonalization, true, false},
};

std::string lowercased(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return lower;
}

bool isStringIgnoringCase(const platform::Object* value, const char* expected) {
  const std::string* text = value ? value->stringValue() : nullptr;
  return text && lowercased(*text) == expected;
}

bool isDenied(const platform::Object* value) { return isStringIgnoringCase(value, kGWLConsentStatusDenied); }
bool isGranted(const platform::Object* value) { return isStringIgnoringCase(value, kGWLConsentStatusGranted); }
bool isEUConsentPolicy(const platform::Object* value) {
  return isStringIgnoringCase(value, kGWLConsentValueEUConsentPolicy);
}

const platform::Object* find(const std::optional<Settings>& settings, const std::string& key) {
  if (!settings) return nullptr;
  auto it = settings->find(key);
  return it == settings->end() ? nullptr : &it->second;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int64_t diagnosticDigitForSource(int64_t source) {
  switch (source) {
    case kGWLConsentSourceTCF: return kGWLConsentDiagnosticSource5;
    case kGWLConsentSource3P:
    case kGWLConsentSource1P: return kGWLConsentDiagnosticSource10Or30;
    case kGWLConsentSource3PRestored: return kGWLConsentDiagnosticSource20;
    case kGWLConsentSource1PRestored: return kGWLConsentDiagnosticSource40;
    default: return kGWLConsentDiagnosticNone;
  }
}

// A value as the description shows it: text as it is, anything else by its description.
std::string shownText(const platform::Object& value) {
  if (const std::string* text = value.stringValue()) return *text;
  return value.description();
}

}  // namespace

struct GWLConsentSettingsUtil::State {
  platform::Mutex mutex;
  std::optional<Settings> current ABSL_GUARDED_BY(mutex);
  std::optional<Settings> defaults ABSL_GUARDED_BY(mutex);
  std::optional<Settings> delegated ABSL_GUARDED_BY(mutex);
  std::optional<Settings> regional ABSL_GUARDED_BY(mutex);
  int64_t source ABSL_GUARDED_BY(mutex) = kGWLConsentSourceNone;
  std::optional<std::map<std::string, int64_t>> diagnostics ABSL_GUARDED_BY(mutex);

  // A copy of one of the dictionaries, and its replacement, each under the mutex.
  std::optional<Settings> copyOf(std::optional<Settings> State::*dictionary) {
    platform::MutexLock lock(mutex);
    return this->*dictionary;
  }
  void replace(std::optional<Settings> State::*dictionary, const std::optional<Settings>& settings) {
    platform::MutexLock lock(mutex);
    this->*dictionary = settings;
  }

  // ---- the steps that work on the state with the mutex held ----

  // A value of "eu_consent_policy" read through the regional default of
  // `consentType`, else as denied.
  platform::Object resolvedEUConsentPolicy(const std::string& consentType) const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    if (const platform::Object* regionalValue = find(regional, consentType)) return *regionalValue;
    return platform::Object(kGWLConsentStatusDenied);
  }

  char signal(const std::string& consentType) const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    const platform::Object* value = find(current, consentType);
    return GWLConsentSignalCharacter(value ? std::optional<platform::Object>(*value) : std::nullopt);
  }

  // A type's value as the description shows it; an unset type (only the
  // storage types are shown unset) shows as granted.
  std::string shown(const std::string& consentType) const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    const platform::Object* value = find(current, consentType);
    if (!value) return kGWLConsentStatusGranted;
    const bool mayTakePolicy =
        consentType == kGWLConsentTypeAdUserData || consentType == kGWLConsentTypeAdPersonalization;
    if (mayTakePolicy && isEUConsentPolicy(value)) {
      return shownText(resolvedEUConsentPolicy(consentType)) + " (" + kGWLConsentValueEUConsentPolicy + ")";
    }
    return shownText(*value);
  }

  bool isAdUserDataDenied() const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    const platform::Object* value = find(current, kGWLConsentTypeAdUserData);
    platform::Object resolved;
    if (isEUConsentPolicy(value)) {
      resolved = resolvedEUConsentPolicy(kGWLConsentTypeAdUserData);
      value = &resolved;
    }
    if (!value) {
      const platform::Object* delegate = find(delegated, kGWLConsentTypeAdUserData);
      const std::string* delegateType = delegate ? delegate->stringValue() : nullptr;
      if (const platform::Object* delegateValue = delegateType ? find(current, *delegateType) : nullptr) {
        return isDenied(delegateValue);
      }
      value = find(defaults, kGWLConsentTypeAdUserData);
    }
    return isDenied(value);
  }

  std::optional<bool> adPersonalization() const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    const platform::Object* value = find(current, kGWLConsentTypeAdPersonalization);
    platform::Object resolved;
    if (isEUConsentPolicy(value)) {
      resolved = resolvedEUConsentPolicy(kGWLConsentTypeAdPersonalization);
      value = &resolved;
    }
    if (!value) value = find(defaults, kGWLConsentTypeAdPersonalization);
    if (isDenied(value)) return false;
    if (isGranted(value)) return true;
    return std::nullopt;
  }

  void resetDiagnosticSources() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex) {
    diagnostics.emplace();
    for (const auto& type : consentTypes()) (*diagnostics)[type] = kGWLConsentDiagnosticNone;
  }

  void refreshDiagnosticSources(bool applySource) ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex) {
    if (!diagnostics) resetDiagnosticSources();
    for (const auto& type : consentTypes()) {
      int64_t digit = (*diagnostics)[type];
      if (const platform::Object* value = find(current, type)) {
        if (applySource) digit = diagnosticDigitForSource(source);
        const bool mayTakePolicy = type == kGWLConsentTypeAdUserData || type == kGWLConsentTypeAdPersonalization;
        (*diagnostics)[type] = mayTakePolicy && isEUConsentPolicy(value) ? kGWLConsentDiagnosticEUConsentPolicy : digit;
      } else if (type == kGWLConsentTypeAdUserData && find(delegated, type)) {
        (*diagnostics)[type] = kGWLConsentDiagnosticDelegated;
      } else if (find(defaults, type) && !endsWith(type, "_storage")) {
        (*diagnostics)[type] = kGWLConsentDiagnosticDefault;
      } else {
        (*diagnostics)[type] = kGWLConsentDiagnosticNoValue;
      }
    }
  }

  void merge(const Settings& settings) ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex) {
    if (!current) current.emplace();
    for (const auto& [key, value] : settings) (*current)[key] = value;
  }

  // Source 100 and no settings, defaults, delegations or regional defaults.
  void clear() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex) {
    source = kGWLConsentSourceNone;
    current.reset();
    defaults.reset();
    delegated.reset();
    regional.reset();
  }

  bool isHigherPriority(int64_t candidate) const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    return candidate <= source || isEqualPriority(candidate);
  }

  bool isEqualPriority(int64_t candidate) const ABSL_SHARED_LOCKS_REQUIRED(mutex) {
    return (candidate == kGWLConsentSourceTCF && source == kGWLConsentSource3P) ||
           (candidate == kGWLConsentSource3P && source == kGWLConsentSourceTCF);
  }
};

GWLConsentSettingsUtil::State& GWLConsentSettingsUtil::state() {
  static State* state = new State();  // never destroyed: components may ask during exit
  return *state;
}

char GWLConsentSignalCharacter(const std::optional<platform::Object>& value) {
  const platform::Object* object = value ? &*value : nullptr;
  if (isDenied(object)) return '0';
  if (isGranted(object)) return '1';
  return '-';
}

const std::vector<std::string>& GWLConsentSettingsUtil::consentTypes() {
  static const std::vector<std::string>* types =
      new std::vector<std::string>{kGWLConsentTypeAdStorage, kGWLConsentTypeAnalyticsStorage,
                                   kGWLConsentTypeAdUserData, kGWLConsentTypeAdPersonalization};
  return *types;
}

std::optional<Settings> GWLConsentSettingsUtil::consentSettings() { return state().copyOf(&State::current); }

std::optional<Settings> GWLConsentSettingsUtil::defaultSettings() { return state().copyOf(&State::defaults); }

std::optional<Settings> GWLConsentSettingsUtil::delegatedSettings() { return state().copyOf(&State::delegated); }

std::optional<Settings> GWLConsentSettingsUtil::regionalDefaults() { return state().copyOf(&State::regional); }

int64_t GWLConsentSettingsUtil::consentSource() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return s.source;
}

void GWLConsentSettingsUtil::setConsentSource(int64_t source) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.source = source;
  s.refreshDiagnosticSources(true);
}

void GWLConsentSettingsUtil::setConsentSettings(const std::optional<Settings>& settings) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.current = settings;
  if (!settings) {
    s.source = kGWLConsentSourceNone;
    s.refreshDiagnosticSources(true);
  }
}

void GWLConsentSettingsUtil::setDefaultSettings(const std::optional<Settings>& settings) {
  state().replace(&State::defaults, settings);
}

void GWLConsentSettingsUtil::setDelegatedSettings(const std::optional<Settings>& settings) {
  state().replace(&State::delegated, settings);
}

void GWLConsentSettingsUtil::setRegionalDefaults(const std::optional<Settings>& settings) {
  state().replace(&State::regional, settings);
}

void GWLConsentSettingsUtil::updateSettings(const Settings& settings) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.merge(settings);
}

void GWLConsentSettingsUtil::updateSettings(const Settings& settings, int64_t source) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.merge(settings);
  s.source = source;
  if (!s.diagnostics) return;
  const int64_t digit = diagnosticDigitForSource(source);
  for (const auto& type : consentTypes()) {
    if (settings.count(type)) (*s.diagnostics)[type] = digit;
  }
}

bool GWLConsentSettingsUtil::isAdStorageDenied() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return isDenied(find(s.current, kGWLConsentTypeAdStorage));
}

bool GWLConsentSettingsUtil::isAnalyticsStorageDenied() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return isDenied(find(s.current, kGWLConsentTypeAnalyticsStorage));
}

bool GWLConsentSettingsUtil::isAdUserDataDenied() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return s.isAdUserDataDenied();
}

std::optional<bool> GWLConsentSettingsUtil::adPersonalization() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return s.adPersonalization();
}

bool GWLConsentSettingsUtil::didAdUserDataConsentChange(bool before) { return before != isAdUserDataDenied(); }

bool GWLConsentSettingsUtil::isConsentSourceHigherPriority(int64_t source) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return s.isHigherPriority(source);
}

bool GWLConsentSettingsUtil::isConsentSourceEqualPriority(int64_t source) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  return s.isEqualPriority(source);
}

Settings GWLConsentSettingsUtil::consentSettingsFromDictionary(const platform::Dictionary& dictionary) {
  Settings kept;
  for (const auto& type : consentTypes()) {
    if (auto it = dictionary.find(type); it != dictionary.end()) kept.emplace(type, it->second);
  }
  return kept;
}

Settings GWLConsentSettingsUtil::consentSettingsFromPlist() {
  auto environment = platform::AppEnvironment::shared();
  return environment ? consentSettingsFromPlist(environment->infoDictionary()) : Settings();
}

Settings GWLConsentSettingsUtil::consentSettingsFromPlist(const platform::Dictionary& infoDictionary) {
  Settings settings;
  for (const InfoDefault& entry : kInfoDefaults) {
    auto it = infoDictionary.find(entry.key);
    if (it == infoDictionary.end()) continue;
    const platform::Object& value = it->second;
    std::optional<bool> allowed;
    if (const std::string* text = value.stringValue()) {
      if (isEUConsentPolicy(&value)) {
        if (entry.takesEUConsentPolicy) settings[entry.consentType] = kGWLConsentValueEUConsentPolicy;
        continue;
      }
      allowed = platform::booleanValueOfText(*text);
    } else if (entry.takesNumber && value.isBool()) {
      allowed = *value.boolValue();
    } else if (entry.takesNumber && value.isNumber()) {
      allowed = *value.numberValue() != 0;
    }
    if (allowed) settings[entry.consentType] = *allowed ? kGWLConsentStatusGranted : kGWLConsentStatusDenied;
  }
  return settings;
}

std::string GWLConsentSettingsUtil::consentSignals() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  std::string signals = "G1";
  signals += s.signal(kGWLConsentTypeAdStorage);
  signals += s.signal(kGWLConsentTypeAnalyticsStorage);
  return signals;
}

std::string GWLConsentSettingsUtil::consentDiagnostics() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.refreshDiagnosticSources(false);
  std::string text = "1";
  for (const auto& type : consentTypes()) text += std::to_string((*s.diagnostics)[type]);
  return text;
}

void GWLConsentSettingsUtil::setDiagnosticSource(int64_t digit, const std::string& consentType) {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  if (!s.diagnostics) s.resetDiagnosticSources();
  (*s.diagnostics)[consentType] = digit;
}

void GWLConsentSettingsUtil::unsetAdPersonalization() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  if (!find(s.current, kGWLConsentTypeAdPersonalization)) return;
  s.current->erase(kGWLConsentTypeAdPersonalization);
  if (!s.diagnostics) s.resetDiagnosticSources();
  (*s.diagnostics)[kGWLConsentTypeAdPersonalization] = kGWLConsentDiagnosticNone;
}

std::string GWLConsentSettingsUtil::description() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  std::string text = std::string(kGWLConsentTypeAdStorage) + " is " + s.shown(kGWLConsentTypeAdStorage) + ". " +
                     kGWLConsentTypeAnalyticsStorage + " is " + s.shown(kGWLConsentTypeAnalyticsStorage) + ".";
  for (const char* type : {kGWLConsentTypeAdUserData, kGWLConsentTypeAdPersonalization}) {
    if (find(s.current, type)) text += std::string(" ") + type + " is " + s.shown(type) + ".";
  }
  return text;
}

void GWLConsentSettingsUtil::clearAllSettings() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.clear();
  s.resetDiagnosticSources();
}

void GWLConsentSettingsUtil::resetForTesting() {
  State& s = state();
  platform::MutexLock lock(s.mutex);
  s.clear();
  s.diagnostics.reset();
}
