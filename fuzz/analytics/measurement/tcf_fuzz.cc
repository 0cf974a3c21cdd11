// The TCF keys as another component of the app may write them: values of any
// type, length and characters under every key the client reads, the Info
// dictionary switch and, at times, an old stored state. The client's step runs
// twice: nothing crashes, the second run reports and applies nothing, the
// state string is valid UTF-8 and stays the same, the stored copy equals it,
// and every parameter keeps its form. The snapshot's questions also run on the
// raw values, uncleaned.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLTCFClient.h"
#include "analytics/measurement/GWLTCFDataGenerator.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PreferencesStore.h"
#include "platform/storage/PropertyList.h"
#include "platform/text/Utf8.h"
#include "fuzz/ScratchDirectory.h"

namespace {

using fuzz_support::check;
using platform::Object;

constexpr size_t kLongestString = size_t{1} << 18;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  uint64_t word() {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | byte();
    return value;
  }
  std::string bytes(size_t length) {
    length = std::min(length, size_ - offset_);
    std::string text(reinterpret_cast<const char*>(data_ + offset_), length);
    offset_ += length;
    return text;
  }
  double real() {
    const uint64_t bits = word();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

// A value of any kind; absent for nullopt.
std::optional<Object> anyValue(Input& in) {
  switch (in.byte() % 12) {
    case 0: return std::nullopt;
    case 1: return Object(static_cast<bool>(in.byte() & 1));
    case 2: return Object(static_cast<int64_t>(in.word()));
    case 3: return Object(static_cast<int64_t>(in.byte()));
    case 4: return Object(in.real());
    case 5: return Object(in.bytes(in.byte()));
    case 6: {  // a pattern repeated, up to a quarter of a megabyte
      std::string pattern = in.bytes(in.byte() % 8 + 1);
      const size_t count = (size_t{in.byte()} << 8 | in.byte()) * 4;
      std::string text;
      while (text.size() < std::min(kLongestString, pattern.size() * count)) text += pattern;
      return Object(text);
    }
    case 7: {  // characters of a chosen kind up to the library's entry, then anything
      static const char* const kPrefixes[] = {"1", "0", "x", "\xC3\xA9", "\xF0\x9F\x98\x80"};
      const char* prefix = kPrefixes[in.byte() % 5];
      const int count = 754 - in.byte() % 3;
      std::string text;
      for (int i = 0; i < count; ++i) text += prefix;
      return Object(text + in.bytes(in.byte() % 16));
    }
    case 8: return Object(platform::Bytes(in.byte(), 0x31));
    case 9: return Object(platform::Date{in.real()});
    case 10: {
      platform::Array array;
      for (int i = in.byte() % 4; i > 0; --i) array.push_back(Object(in.bytes(in.byte() % 4)));
      return Object(array);
    }
    default: return Object(platform::Dictionary{{"k", Object(in.bytes(in.byte() % 4))}});
  }
}

class CountingSink : public GWLAnalyticsConsentSink {
 public:
  void logInternalEvent(const std::string& origin, const std::string& name,
                        const platform::Dictionary& parameters) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == kGWLTCFChangedEventName) {
      check(origin == "auto");
      tcfEvents.push_back(parameters);
    }
  }
  void setUserPropertyString(const std::optional<std::string>&, const std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++properties;
  }
  std::vector<platform::Dictionary> tcfEvents;
  int properties = 0;

 private:
  std::mutex mutex_;
};

std::shared_ptr<GWLUserDefaults> memorySuite(const std::string& name) {
  return std::make_shared<GWLUserDefaults>(platform::PreferencesStore::create(name, std::string(), nullptr, nullptr),
                                           name);
}

bool isParameterText(const std::string& text, char version, const std::string& characters) {
  if (text.size() != 5 || text[0] != version) return false;
  return std::all_of(text.begin() + 1, text.end(), [&](char c) { return characters.find(c) != std::string::npos; });
}

void checkEvent(const platform::Dictionary& parameters) {
  check(parameters.size() == 3);
  const std::string* bundle = parameters.at(kGWLTCFBundleParameter).stringValue();
  const std::string* reasons = parameters.at(kGWLTCFReasonsParameter).stringValue();
  const std::string* migration = parameters.at(kGWLTCFMigrationParameter).stringValue();
  check(bundle && isParameterText(*bundle, '1', kGWLTCFParameterCharacters));
  check(reasons && isParameterText(*reasons, '2', "1345678"));
  check(migration && migration->size() == 2 && std::string("01").find((*migration)[0]) != std::string::npos &&
        std::string("01").find((*migration)[1]) != std::string::npos);
}

// Every question of a snapshot made from the raw values answers in its range.
void askEverything(const GWLTCFData& data) {
  for (int64_t purpose = -1; purpose <= 12; ++purpose) {
    const int64_t basis = data.legalBasisCheckFromPurposeID(purpose);
    check(basis >= 0 && basis <= 3);
    const int64_t reason = data.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose);
    check(reason == 1 || (reason >= 3 && reason <= 8));
    const int64_t restriction = data.publisherRestrictionForPurposeID(purpose);
    check(restriction >= 0 && restriction <= 3);
  }
  (void)data.isAdStoragePurposeGranted();
  (void)data.isAdPersonalizationPurposeGranted();
  (void)data.isAdUserDataPurposeGranted();
  (void)data.hasHalcyraInVendorLegitimateInterests();
}

std::optional<std::string> rawText(const std::optional<Object>& value) {
  if (!value || !value->stringValue()) return std::nullopt;
  return *value->stringValue();
}

int testOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  GWLConsentSettingsUtil::resetForTesting();
  const uint8_t header = in.byte();

  static const std::string infoPath = (fuzz_support::processScratchDirectory("tcf_fuzz") / "Info.plist").string();
  platform::Dictionary info;
  // A value no property list can hold (text with NUL) leaves the switch out.
  if (auto value = anyValue(in); value && platform::PropertyList::isValid(*value)) {
    info[kGWLTCFDataEnabledInfoKey] = *value;
  }
  check(platform::PropertyList::writeFile(infoPath, Object(info), platform::PropertyListFormat::Binary));
  platform::AppEnvironment::Configuration configuration;
  configuration.infoDictionaryPath = infoPath;
  auto environment = platform::AppEnvironment::create(configuration);
  check(environment != nullptr);

  auto appDefaults = memorySuite("app");
  auto tcfSuite = memorySuite(kGWLTCFSuiteName);
  std::vector<std::string> keys = {kGWLTCFEnableAdvertiserConsentModeKey, kGWLTCFVendorConsentsKey,
                                   kGWLTCFVendorLegitimateInterestsKey,   kGWLTCFCmpSdkIDKey,
                                   kGWLTCFGdprAppliesKey,                 kGWLTCFPolicyVersionKey,
                                   kGWLTCFPurposeConsentsKey,             kGWLTCFPurposeLegitimateInterestsKey,
                                   kGWLTCFPurposeOneTreatmentKey,         kGWLTCFPublisherCCKey};
  for (int purpose = 1; purpose <= 10; ++purpose) {
    keys.push_back(kGWLTCFPublisherRestrictionsKey + std::to_string(purpose));
  }
  std::map<std::string, std::optional<Object>> written;
  for (const std::string& key : keys) {
    written[key] = anyValue(in);
    if (written[key]) appDefaults->setObject(*written[key], key);
  }
  // At times an earlier state: an old state string and copies of any kind.
  if (header & 2) {
    if (auto old = anyValue(in)) tcfSuite->setObject(*old, kGWLTCFStringRepresentationKey);
    if (auto old = anyValue(in)) tcfSuite->setObject(*old, kGWLTCFPublisherRestrictionsKey);
    if (auto old = anyValue(in)) tcfSuite->setObject(*old, kGWLTCFVendorConsentsKey);
    if (auto old = anyValue(in)) tcfSuite->setObject(*old, kGWLTCFDataEnabledInfoKey);
  }

  auto sink = std::make_shared<CountingSink>();
  GWLAnalyticsConsent::Dependencies consentDependencies;
  consentDependencies.defaults = memorySuite(kGWLAnalyticsSuiteName);
  consentDependencies.remoteConfig = [] { return std::shared_ptr<GWLRemoteConfig>(); };
  auto consent = std::make_shared<GWLAnalyticsConsent>(consentDependencies);
  consent->setSink(sink);
  GWLTCFClient::Dependencies dependencies;
  dependencies.consent = consent;
  dependencies.eventSink = sink;
  dependencies.appDefaults = appDefaults;
  dependencies.userDefaults = tcfSuite;
  dependencies.environment = environment;
  GWLTCFClient client(dependencies);
  client.setIsDMARegion(header & 1);

  client.setConsentFromTCFData();
  const std::string state = client.stringRepresentationFromTCFData();
  check(platform::utf8::isValid(state));
  check(state.rfind("_v_=2,isTCFDataEnabled=", 0) == 0);
  check(sink->tcfEvents.size() <= 1);
  for (const auto& event : sink->tcfEvents) checkEvent(event);
  if (client.hasTCFDataToRead()) {
    check(client.persistedValuesEqualCurrentData());
  } else {
    check(sink->tcfEvents.empty());
  }
  if (sink->properties > 0) check(GWLConsentSettingsUtil::consentSource() == kGWLConsentSourceTCF);
  const auto events = sink->tcfEvents.size();
  const int properties = sink->properties;

  client.setConsentFromTCFData();
  check(sink->tcfEvents.size() == events);
  check(sink->properties == properties);
  check(client.stringRepresentationFromTCFData() == state);
  check(client.previousConsent().size() == 3);

  // The same values, uncleaned, straight into a snapshot.
  GWLTCFDataGenerator generator;
  generator.isTCFDataEnabled = header & 4;
  generator.isAdvertiserConsentModeEnabled = GWLTCFNumber::fromObject(written[kGWLTCFEnableAdvertiserConsentModeKey]);
  generator.cmpSDKID = GWLTCFNumber::fromObject(written[kGWLTCFCmpSdkIDKey]);
  generator.vendorConsents = rawText(written[kGWLTCFVendorConsentsKey]);
  generator.vendorLegitimateInterests = rawText(written[kGWLTCFVendorLegitimateInterestsKey]);
  generator.gdprApplies = GWLTCFNumber::fromObject(written[kGWLTCFGdprAppliesKey]);
  generator.policyVersion = GWLTCFNumber::fromObject(written[kGWLTCFPolicyVersionKey]);
  generator.purposeConsents = rawText(written[kGWLTCFPurposeConsentsKey]);
  generator.purposeLegitimateInterests = rawText(written[kGWLTCFPurposeLegitimateInterestsKey]);
  GWLTCFData::Restrictions restrictions;
  for (int purpose = 1; purpose <= 10; ++purpose) {
    restrictions.push_back(rawText(written[kGWLTCFPublisherRestrictionsKey + std::to_string(purpose)]).value_or(""));
  }
  generator.publisherRestrictions = restrictions;
  generator.isPurposeOneTreatmentEnabled = GWLTCFNumber::fromObject(written[kGWLTCFPurposeOneTreatmentKey]);
  generator.publisherCC = rawText(written[kGWLTCFPublisherCCKey]);
  askEverything(generator.generateData());
  askEverything(*client.tcfData());
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
