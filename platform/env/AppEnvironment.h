// platform::AppEnvironment — facts about the running app and its device.
//
// Holds the bundle identifier, the app's version, its Info dictionary (read
// from a property-list file), how the app was installed (a store build or a
// development build, fixed when the program is built: the release preset
// defines TABULO_STORE_BUILD), the device model and system version (configured
// values; this host's own kernel or distribution is never reported), the
// process arguments and environment, and which optional components are present.
//
// Optional components stand in for looking a class up by name: code that would
// ask "does the class X exist in this process?" asks `hasComponent("X")`, and
// whoever links X in registers it with `registerComponent("X")`. A component
// may name class methods it answers; each comes with its implementation, or
// with none (an empty function: the class claims the method but cannot run it).
//
// The process-wide instance (`shared()`) is set by the host at start-up; until
// then it is an environment built from the defaults.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/BundleIdentifier.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {

inline constexpr const char* kDefaultDeviceModel = "iPhone14,5";
inline constexpr const char* kDefaultSystemVersion = "17.0";

// Info dictionary keys.
inline constexpr const char* kCFBundleIdentifierKey = "CFBundleIdentifier";
inline constexpr const char* kCFBundleShortVersionStringKey = "CFBundleShortVersionString";
inline constexpr const char* kCFBundleVersionKey = "CFBundleVersion";

class AppEnvironment {
 public:
  enum class InstallSource { Store, Development };

  struct Configuration {
    // Empty: the Info dictionary's CFBundleIdentifier, else kDefaultBundleIdentifier.
    std::string bundleIdentifier;
    // A property-list file holding the Info dictionary; empty for none.
    std::string infoDictionaryPath;
    std::string deviceModel = kDefaultDeviceModel;
    std::string systemVersion = kDefaultSystemVersion;
    // The process arguments, program name first.
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
  };

  // Answers null with an error when the Info dictionary file cannot be read
  // or does not hold a dictionary.
  [[nodiscard]] static std::shared_ptr<AppEnvironment> create(Configuration configuration, Error* error = nullptr);

  // The arguments and environment of this process, for Configuration.
  static std::vector<std::string> processArguments(int argc, const char* const* argv);
  static std::map<std::string, std::string> processEnvironment();

  static std::shared_ptr<AppEnvironment> shared();
  static void setShared(std::shared_ptr<AppEnvironment> environment);

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  // CFBundleShortVersionString, or empty.
  std::string version() const;
  // CFBundleVersion, or empty.
  std::string buildVersion() const;
  const Dictionary& infoDictionary() const { return info_; }
  // The file the Info dictionary was read from; empty when there is none.
  // Resource files of the app lie beside it.
  const std::string& infoDictionaryPath() const { return configuration_.infoDictionaryPath; }
  // The Info dictionary's value for `key`, or null.
  const Object* objectForInfoDictionaryKey(const std::string& key) const;

  static InstallSource installSource();
  static bool isFromAppStore() { return installSource() == InstallSource::Store; }

  const std::string& deviceModel() const { return configuration_.deviceModel; }
  const std::string& systemVersion() const { return configuration_.systemVersion; }
  const std::vector<std::string>& arguments() const { return configuration_.arguments; }
  const std::map<std::string, std::string>& environment() const { return configuration_.environment; }
  // The value of an environment variable, or nullopt when it is not set.
  [[nodiscard]] std::optional<std::string> environmentValue(const std::string& name) const;

  using ComponentMethod = std::function<void()>;
  // Registers (or re-registers, replacing its methods) the component `name`.
  void registerComponent(const std::string& name, std::map<std::string, ComponentMethod> methods = {});
  bool hasComponent(const std::string& name) const;
  // Whether the component is present and names `method` among its methods.
  bool componentRespondsTo(const std::string& name, const std::string& method) const;
  // The method's implementation; empty when the component or the method is
  // missing or the component gave none.
  ComponentMethod componentMethod(const std::string& name, const std::string& method) const;

 private:
  AppEnvironment(Configuration configuration, Dictionary info);

  Configuration configuration_;
  Dictionary info_;
  std::string bundleIdentifier_;
  mutable std::mutex componentsMutex_;
  std::map<std::string, std::map<std::string, ComponentMethod>> components_;
};

}  // namespace platform
