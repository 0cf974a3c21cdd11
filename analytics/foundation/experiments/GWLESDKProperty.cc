#include "analytics/foundation/experiments/GWLESDKProperty.h"

#include "analytics/foundation/experiments/GWLEIdentity.h"
#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/wire/GWLPBCustomProperty.h"
#include "analytics/wire/NANO.h"

namespace {

constexpr int64_t kInvalidNameCode = 860000;
constexpr const char* kInvalidNameMessage = "Cannot init SDK property with invalid name";
constexpr int64_t kEmptyDiversionKeyCode = 860001;
constexpr const char* kEmptyDiversionKeyMessage = "Diversion key is empty";

}  // namespace

std::shared_ptr<GWLESDKProperty> GWLESDKProperty::initWithName(const platform::Object& name) {
  const std::string* text = name.stringValue();
  if (!text) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSampled, kInvalidNameCode, kInvalidNameMessage,
                                         GWLLogContext(name));
    return nullptr;
  }
  return std::make_shared<GWLESDKProperty>(*text);
}

int64_t GWLESDKProperty::version() const {
  platform::MutexLock lock(mutex_);
  return version_;
}
void GWLESDKProperty::setVersion(int64_t version) {
  platform::MutexLock lock(mutex_);
  version_ = version;
}
std::optional<std::string> GWLESDKProperty::appID() const {
  platform::MutexLock lock(mutex_);
  return appID_;
}
void GWLESDKProperty::setAppID(std::optional<std::string> appID) {
  platform::MutexLock lock(mutex_);
  appID_ = std::move(appID);
}
std::optional<std::string> GWLESDKProperty::diversionKey() const {
  platform::MutexLock lock(mutex_);
  return diversionKey_;
}
void GWLESDKProperty::setDiversionKey(std::optional<std::string> diversionKey) {
  platform::MutexLock lock(mutex_);
  diversionKey_ = std::move(diversionKey);
}
std::map<std::string, std::string> GWLESDKProperty::customProperties() const {
  platform::MutexLock lock(mutex_);
  return customProperties_;
}
void GWLESDKProperty::setCustomProperties(std::map<std::string, std::string> customProperties) {
  platform::MutexLock lock(mutex_);
  customProperties_ = std::move(customProperties);
}
std::shared_ptr<GWLESDKPropertyProviderDelegate> GWLESDKProperty::delegate() const {
  platform::MutexLock lock(mutex_);
  return delegate_.lock();
}
void GWLESDKProperty::setDelegate(std::weak_ptr<GWLESDKPropertyProviderDelegate> delegate) {
  platform::MutexLock lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<GWLPBClientProperty> GWLESDKProperty::proto(const GWLEIdentity* identity) const {
  std::string key = diversionKey().value_or("");
  if (key.empty() && identity) key = identity->diversionKey().value_or("");
  if (key.empty()) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSampled, kEmptyDiversionKeyCode, kEmptyDiversionKeyMessage);
    return nullptr;
  }
  auto message = GWLPBClientProperty::initWithMessageInfo();
  NANOSetString(message, GWLPBClientProperty::Field::sdk_name, name_);
  NANOSetString(message, GWLPBClientProperty::Field::diversion_id, key + "-" + name_);
  NANOSetInt64(message, GWLPBClientProperty::Field::sdk_version, version());
  if (auto app = appID()) NANOSetString(message, GWLPBClientProperty::Field::app_id, *app);

  auto properties = customProperties();
  if (auto provider = delegate()) {
    for (auto& [k, v] : provider->dynamicCustomPropertiesForSDKProperty(*this)) properties[k] = v;
  }
  if (!properties.empty()) {
    std::vector<NANOValue> entries;
    for (const auto& [k, v] : properties) {
      auto entry = GWLPBCustomProperty::initWithMessageInfo();
      NANOSetString(entry, GWLPBCustomProperty::Field::key, k);
      NANOSetString(entry, GWLPBCustomProperty::Field::value, v);
      entries.emplace_back(std::shared_ptr<NANOMessageBase>(entry));
    }
    NANOSetArray(message, GWLPBClientProperty::Field::custom_properties, entries);
  }
  return message;
}
