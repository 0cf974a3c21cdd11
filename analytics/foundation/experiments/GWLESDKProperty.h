// GWLESDKProperty — how an SDK describes itself to the experiments service:
// its name, version, app ID, diversion key and custom properties, plus an
// optional delegate that adds custom properties at each request.
//
// The registering component sets the fields; the task manager reads them on
// its queue when it builds a request, so every field is guarded.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/wire/GWLPBClientProperty.h"
#include "platform/core/Object.h"
#include "platform/util/Mutex.h"

class GWLEIdentity;
class GWLESDKProperty;

class GWLESDKPropertyProviderDelegate {
 public:
  virtual ~GWLESDKPropertyProviderDelegate() = default;
  // Custom properties for the request being built; they replace static ones of the same key.
  virtual std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(
      const GWLESDKProperty& property) = 0;
};

class GWLESDKProperty {
 public:
  // A property named by `name`; null, with a report, when `name` is not a string.
  static std::shared_ptr<GWLESDKProperty> initWithName(const platform::Object& name);
  explicit GWLESDKProperty(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  int64_t version() const;
  void setVersion(int64_t version);
  [[nodiscard]] std::optional<std::string> appID() const;
  void setAppID(std::optional<std::string> appID);
  [[nodiscard]] std::optional<std::string> diversionKey() const;
  void setDiversionKey(std::optional<std::string> diversionKey);
  std::map<std::string, std::string> customProperties() const;
  void setCustomProperties(std::map<std::string, std::string> customProperties);
  std::shared_ptr<GWLESDKPropertyProviderDelegate> delegate() const;
  void setDelegate(std::weak_ptr<GWLESDKPropertyProviderDelegate> delegate);

  // The client property for a request: null, with a report, when neither the
  // property nor `identity` has a non-empty diversion key.
  std::shared_ptr<GWLPBClientProperty> proto(const GWLEIdentity* identity) const;

 private:
  const std::string name_;
  mutable platform::Mutex mutex_;
  int64_t version_ ABSL_GUARDED_BY(mutex_) = 0;
  std::optional<std::string> appID_ ABSL_GUARDED_BY(mutex_);
  std::optional<std::string> diversionKey_ ABSL_GUARDED_BY(mutex_);
  std::map<std::string, std::string> customProperties_ ABSL_GUARDED_BY(mutex_);
  std::weak_ptr<GWLESDKPropertyProviderDelegate> delegate_ ABSL_GUARDED_BY(mutex_);
};
