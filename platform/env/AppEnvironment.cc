#include "platform/env/AppEnvironment.h"

#include "platform/storage/PropertyList.h"

extern char** environ;

namespace platform {
namespace {

std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<AppEnvironment>& sharedEnvironment() {
  static std::shared_ptr<AppEnvironment> environment;
  return environment;
}

std::string stringFor(const Dictionary& info, const char* key) {
  auto it = info.find(key);
  if (it == info.end() || !it->second.stringValue()) return {};
  return *it->second.stringValue();
}

}  // namespace

AppEnvironment::AppEnvironment(Configuration configuration, Dictionary info)
    : configuration_(std::move(configuration)), info_(std::move(info)) {
  bundleIdentifier_ = configuration_.bundleIdentifier;
  if (bundleIdentifier_.empty()) bundleIdentifier_ = stringFor(info_, kCFBundleIdentifierKey);
  if (bundleIdentifier_.empty()) bundleIdentifier_ = kDefaultBundleIdentifier;
}

std::shared_ptr<AppEnvironment> AppEnvironment::create(Configuration configuration, Error* error) {
  Dictionary info;
  if (!configuration.infoDictionaryPath.empty()) {
    Error local;
    auto object = PropertyList::readFile(configuration.infoDictionaryPath, &local);
    if (!object) {
      setError(error, local);
      return nullptr;
    }
    if (!object->isDictionary()) {
      setError(error, Error(kPropertyListErrorDomain, PropertyList::kUnreadable,
                            configuration.infoDictionaryPath + " holds no dictionary"));
      return nullptr;
    }
    info = std::move(*object->mutableDictionary());
  }
  return std::shared_ptr<AppEnvironment>(new AppEnvironment(std::move(configuration), std::move(info)));
}

std::vector<std::string> AppEnvironment::processArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv[i]; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

std::map<std::string, std::string> AppEnvironment::processEnvironment() {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string item(*entry);
    auto eq = item.find('=');
    if (eq == std::string::npos) continue;
    environment.emplace(item.substr(0, eq), item.substr(eq + 1));
  }
  return environment;
}

std::shared_ptr<AppEnvironment> AppEnvironment::shared() {
  std::lock_guard lock(sharedMutex());
  auto& environment = sharedEnvironment();
  if (!environment) environment = create(Configuration{});
  return environment;
}

void AppEnvironment::setShared(std::shared_ptr<AppEnvironment> environment) {
  std::lock_guard lock(sharedMutex());
  sharedEnvironment() = std::move(environment);
}

std::string AppEnvironment::version() const { return stringFor(info_, kCFBundleShortVersionStringKey); }

std::string AppEnvironment::buildVersion() const { return stringFor(info_, kCFBundleVersionKey); }

const Object* AppEnvironment::objectForInfoDictionaryKey(const std::string& key) const {
  auto it = info_.find(key);
  return it == info_.end() ? nullptr : &it->second;
}

AppEnvironment::InstallSource AppEnvironment::installSource() {
#if defined(TABULO_STORE_BUILD) && TABULO_STORE_BUILD
  return InstallSource::Store;
#else
  return InstallSource::Development;
#endif
}

std::optional<std::string> AppEnvironment::environmentValue(const std::string& name) const {
  auto it = configuration_.environment.find(name);
  if (it == configuration_.environment.end()) return std::nullopt;
  return it->second;
}

void AppEnvironment::registerComponent(const std::string& name, std::map<std::string, ComponentMethod> methods) {
  std::lock_guard lock(componentsMutex_);
  components_.insert_or_assign(name, std::move(methods));
}

bool AppEnvironment::hasComponent(const std::string& name) const {
  std::lock_guard lock(componentsMutex_);
  return components_.count(name) != 0;
}

bool AppEnvironment::componentRespondsTo(const std::string& name, const std::string& method) const {
  std::lock_guard lock(componentsMutex_);
  auto component = components_.find(name);
  return component != components_.end() && component->second.count(method) != 0;
}

AppEnvironment::ComponentMethod AppEnvironment::componentMethod(const std::string& name,
                                                                const std::string& method) const {
  std::lock_guard lock(componentsMutex_);
  auto component = components_.find(name);
  if (component == components_.end()) return {};
  auto found = component->second.find(method);
  return found == component->second.end() ? ComponentMethod() : found->second;
}

}  // namespace platform
