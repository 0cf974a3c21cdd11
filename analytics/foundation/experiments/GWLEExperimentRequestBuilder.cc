#include "analytics/foundation/experiments/GWLEExperimentRequestBuilder.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "analytics/foundation/experiments/GWLEIdentity.h"
#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/foundation/experiments/GWLESDKProperty.h"
#include "analytics/wire/GWLPBClientProperty.h"
#include "analytics/wire/NANO.h"
#include "platform/env/AppEnvironment.h"

namespace {

constexpr int64_t kEmptySDKPropertyCode = 880000;
constexpr const char* kEmptySDKPropertyMessage = "Cannot add an empty SDK property.";
constexpr const char* kPlatformName = "ios";

// Adds "en_US.UTF-8" as "en-US"; "C" and "POSIX" name no language.
void addLanguageTag(std::string_view locale, std::vector<std::string>& tags) {
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return;
  std::string& tag = tags.emplace_back(locale);
  std::replace(tag.begin(), tag.end(), '_', '-');
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

GWLEExperimentRequestBuilder::AppFacts GWLEExperimentRequestBuilder::AppFacts::system() {
  AppFacts facts;
  auto environment = platform::AppEnvironment::shared();
  facts.bundleIdentifier = environment->bundleIdentifier();
  facts.fromAppStore = platform::AppEnvironment::isFromAppStore();
  std::string list = environment->environmentValue("LANGUAGE").value_or("");
  if (list.empty()) list = environment->environmentValue("LANG").value_or("");
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    addLanguageTag(std::string_view(list).substr(start, end - start), facts.preferredLanguages);
    start = end + 1;
  }
  return facts;
}

std::shared_ptr<GWLEExperimentRequestBuilder> GWLEExperimentRequestBuilder::sharedInstance() {
  static const auto instance = std::make_shared<GWLEExperimentRequestBuilder>();
  return instance;
}

GWLEExperimentRequestBuilder::GWLEExperimentRequestBuilder(std::function<AppFacts()> appFacts)
    : appFacts_(appFacts ? std::move(appFacts) : AppFacts::system) {}

void GWLEExperimentRequestBuilder::addSDKProperty(const std::shared_ptr<GWLESDKProperty>& property) {
  if (!property) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kEmptySDKPropertyCode, kEmptySDKPropertyMessage);
    return;
  }
  platform::MutexLock lock(mutex_);
  clientPropertyBySDKName_[property->name()] = property;
}

void GWLEExperimentRequestBuilder::setIdentity(std::shared_ptr<GWLEIdentity> identity) {
  platform::MutexLock lock(mutex_);
  identity_ = std::move(identity);
}

std::shared_ptr<GWLPBAppProperty> GWLEExperimentRequestBuilder::appPropertyProto() const {
  AppFacts facts = appFacts_();
  auto message = GWLPBAppProperty::initWithMessageInfo();
  NANOSetString(message, GWLPBAppProperty::Field::platform, kPlatformName);
  if (!facts.preferredLanguages.empty()) {
    NANOSetString(message, GWLPBAppProperty::Field::language, lowercased(facts.preferredLanguages.front()));
  }
  NANOSetString(message, GWLPBAppProperty::Field::bundle_id, facts.bundleIdentifier);
  NANOSetBool(message, GWLPBAppProperty::Field::from_app_store, facts.fromAppStore);
  NANOSetInt64(message, GWLPBAppProperty::Field::version, GWLEManager::version());
  return message;
}

std::shared_ptr<GWLPBExperimentRequest> GWLEExperimentRequestBuilder::request() const {
  std::map<std::string, std::shared_ptr<GWLESDKProperty>> properties;
  std::shared_ptr<GWLEIdentity> identity;
  {
    platform::MutexLock lock(mutex_);
    properties = clientPropertyBySDKName_;
    identity = identity_;
  }
  std::vector<NANOValue> clients;
  for (const auto& [name, property] : properties) {
    if (auto client = property->proto(identity.get())) clients.emplace_back(std::shared_ptr<NANOMessageBase>(client));
  }
  auto message = GWLPBExperimentRequest::initWithMessageInfo();
  NANOSetMessage(message, GWLPBExperimentRequest::Field::app_property, appPropertyProto());
  if (!clients.empty()) NANOSetArray(message, GWLPBExperimentRequest::Field::client_properties, clients);
  return message;
}
