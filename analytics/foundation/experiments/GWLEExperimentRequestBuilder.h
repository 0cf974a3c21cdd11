// GWLEExperimentRequestBuilder — builds the request of an experiments fetch:
// the app property (platform, preferred language, bundle identifier, install
// source, client version) and one client property per registered SDK that has
// a diversion key. One process-wide instance gathers the SDK properties as
// SDKs register; any thread may use it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/wire/GWLPBAppProperty.h"
#include "analytics/wire/GWLPBExperimentRequest.h"
#include "platform/util/Mutex.h"

class GWLEIdentity;
class GWLESDKProperty;

class GWLEExperimentRequestBuilder {
 public:
  // What the app property says about the app; read anew for every request.
  struct AppFacts {
    std::string bundleIdentifier;
    bool fromAppStore = false;
    std::vector<std::string> preferredLanguages;  // most preferred first

    // The app environment's bundle identifier and install source; languages
    // from the process environment (LANGUAGE, else LANG), as "en-us".
    static AppFacts system();
  };

  static std::shared_ptr<GWLEExperimentRequestBuilder> sharedInstance();
  explicit GWLEExperimentRequestBuilder(std::function<AppFacts()> appFacts = AppFacts::system);

  // Keeps `property` under its name, replacing an earlier one (null is reported).
  void addSDKProperty(const std::shared_ptr<GWLESDKProperty>& property);
  // The identity whose diversion key serves SDKs without one of their own.
  void setIdentity(std::shared_ptr<GWLEIdentity> identity);

  std::shared_ptr<GWLPBAppProperty> appPropertyProto() const;
  std::shared_ptr<GWLPBExperimentRequest> request() const;

 private:
  const std::function<AppFacts()> appFacts_;
  mutable platform::Mutex mutex_;
  std::map<std::string, std::shared_ptr<GWLESDKProperty>> clientPropertyBySDKName_ ABSL_GUARDED_BY(mutex_);
  std::shared_ptr<GWLEIdentity> identity_ ABSL_GUARDED_BY(mutex_);
};
