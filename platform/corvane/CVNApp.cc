#include "platform/corvane/CVNApp.h"

#include <filesystem>
#include <mutex>

#include "platform/core/Log.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

struct CoreState {
  std::mutex mutex;
  std::vector<CVNApp::Library> libraries;
  std::shared_ptr<const CVNApp> defaultApp;
};

CoreState& coreState() {
  static auto* state = new CoreState();  // never destroyed: read until the process ends
  return *state;
}

bool infoFlag(const AppEnvironment& environment, const char* key, bool absent) {
  const Object* value = environment.objectForInfoDictionaryKey(key);
  if (!value || !value->isNumberOrBool()) return absent;
  return value->boolValueOrFalse();
}

void fail(Error* error, const std::string& description) {
  log::write(LogLevel::Error, "com.halcyra.corvane", "[Corvane/Core]", "I-COR000003", description);
  if (error) *error = Error(kCVNAppErrorDomain, 1, description);
}

}  // namespace

std::optional<CVNOptions> CVNOptions::fromEnvironment(const AppEnvironment& environment, Error* error) {
  if (environment.infoDictionaryPath().empty()) {
    if (error) *error = Error(kCVNAppErrorDomain, 2, "No Info dictionary, so no service file beside it");
    return std::nullopt;
  }
  const auto path = std::filesystem::path(environment.infoDictionaryPath()).parent_path() / kCVNServiceInfoFileName;
  Error readError;
  auto file = PropertyList::readFile(path.string(), &readError);
  const Object* appID = file ? file->find(kCVNServiceAppIDKey) : nullptr;
  if (!appID || !appID->stringValue() || appID->stringValue()->empty()) {
    if (error) {
      *error = Error(kCVNAppErrorDomain, 2,
                     std::string(kCVNServiceInfoFileName) + " is missing or holds no " + kCVNServiceAppIDKey);
    }
    return std::nullopt;
  }
  CVNOptions options;
  options.halcyraAppID = *appID->stringValue();
  options.isAnalyticsCollectionEnabled = infoFlag(environment, kCVNInfoCollectionEnabledKey, true);
  options.isAnalyticsCollectionDeactivated = infoFlag(environment, kCVNInfoCollectionDeactivatedKey, false);
  return options;
}

std::shared_ptr<CVNAnalyticsConfiguration> CVNAnalyticsConfiguration::create(std::shared_ptr<NotificationCenter> center) {
  return std::shared_ptr<CVNAnalyticsConfiguration>(
      new CVNAnalyticsConfiguration(center ? std::move(center) : NotificationCenter::defaultCenter()));
}

void CVNAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
  center_->post(kCVNAnalyticsConfigurationSetEnabledNotification,
                Dictionary{{kCVNAnalyticsConfigurationSetEnabledNotification, Object(enabled)}}, shared_from_this());
}

void CVNApp::registerInternalLibrary(std::string name, std::string version, std::vector<CVNComponent> components,
                                     ConfigureHook configure) {
  auto& state = coreState();
  std::lock_guard lock(state.mutex);
  Library library{std::move(name), std::move(version), std::move(components), std::move(configure)};
  for (auto& existing : state.libraries) {
    if (existing.name == library.name) {
      existing = std::move(library);
      return;
    }
  }
  state.libraries.push_back(std::move(library));
}

std::vector<CVNApp::Library> CVNApp::registeredLibraries() {
  auto& state = coreState();
  std::lock_guard lock(state.mutex);
  return state.libraries;
}

bool CVNApp::configure(std::shared_ptr<AppEnvironment> environment, std::shared_ptr<NotificationCenter> center,
                       Error* error) {
  if (!environment) environment = AppEnvironment::shared();
  if (!environment) {
    fail(error, "The default app cannot be configured without an app environment.");
    return false;
  }
  Error optionsError;
  auto options = CVNOptions::fromEnvironment(*environment, &optionsError);
  if (!options) {
    fail(error, "The default app cannot be configured: " + optionsError.description);
    return false;
  }
  auto app = std::make_shared<const CVNApp>(std::move(*options), CVNAnalyticsConfiguration::create(std::move(center)));
  std::vector<Library> libraries;
  {
    auto& state = coreState();
    std::lock_guard lock(state.mutex);
    if (!state.defaultApp) {
      state.defaultApp = app;
      libraries = state.libraries;
    } else {
      app.reset();
    }
  }
  if (!app) {  // logged outside the lock
    fail(error, "The default app has already been configured.");
    return false;
  }
  for (const auto& library : libraries) {
    if (library.configure) library.configure(*app);
  }
  return true;
}

bool CVNApp::isDefaultAppConfigured() { return defaultApp() != nullptr; }

std::shared_ptr<const CVNApp> CVNApp::defaultApp() {
  auto& state = coreState();
  std::lock_guard lock(state.mutex);
  return state.defaultApp;
}

std::shared_ptr<void> CVNApp::instanceForProtocol(const std::string& protocol) const {
  for (const auto& library : registeredLibraries()) {
    for (const auto& component : library.components) {
      if (component.protocol() == protocol) return component.create(*this);
    }
  }
  return nullptr;
}

void CVNApp::resetDefaultAppForTesting() {
  auto& state = coreState();
  std::lock_guard lock(state.mutex);
  state.defaultApp.reset();
}

}  // namespace platform
