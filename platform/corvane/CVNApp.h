// CVNApp — a small stand-in for the maker's core framework, which lives
// outside this system: what the analytics library needs of it and no more.
//
// Libraries register themselves (name, version, the components they offer
// and a hook the configure call runs), usually from the process-load call.
// `configure` reads the app's options once: the app ID from the service file
// "HalcyraService-Info.plist" beside the Info dictionary, and the collection
// switches from the Info dictionary. It then makes the default app and runs
// every registered library's hook with it. A second call is refused with a
// log line and changes nothing.
//
// The analytics configuration object is the sender of the notification that
// turns collection on or off at run time.
//
// Thread-safe: every method may be called from any thread; the hooks run on
// the thread that configures, outside the framework's lock.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {

class AppEnvironment;
class NotificationCenter;

inline constexpr const char* kCVNCorvaneVersion = "12.5.0";
// The core framework's logger name of the analytics library.
inline constexpr const char* kCVNLoggerAnalytics = "[Corvane/Analytics]";
inline constexpr const char* kCVNServiceInfoFileName = "HalcyraService-Info.plist";
inline constexpr const char* kCVNServiceAppIDKey = "HALCYRA_APP_ID";
// Info dictionary switches (booleans).
inline constexpr const char* kCVNInfoCollectionEnabledKey = "CORVANE_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kCVNInfoCollectionDeactivatedKey = "CORVANE_ANALYTICS_COLLECTION_DEACTIVATED";
// Posted by the analytics configuration object as its sender; the user
// information holds the flag under the same name.
inline constexpr const char* kCVNAnalyticsConfigurationSetEnabledNotification =
    "CVNAnalyticsConfigurationSetEnabledNotification";
inline constexpr const char* kCVNAppErrorDomain = "platform.CVNApp";

// The options of the default app.
struct CVNOptions {
  std::string halcyraAppID;
  bool isAnalyticsCollectionEnabled = true;
  bool isAnalyticsCollectionDeactivated = false;

  // The options of the app `environment` describes; none (with an error)
  // without a readable service file holding a non-empty app ID.
  static std::optional<CVNOptions> fromEnvironment(const AppEnvironment& environment, Error* error = nullptr);
};

// The analytics configuration object: posts the collection switch.
class CVNAnalyticsConfiguration : public std::enable_shared_from_this<CVNAnalyticsConfiguration> {
 public:
  static std::shared_ptr<CVNAnalyticsConfiguration> create(std::shared_ptr<NotificationCenter> center);
  void setAnalyticsCollectionEnabled(bool enabled);

 private:
  explicit CVNAnalyticsConfiguration(std::shared_ptr<NotificationCenter> center) : center_(std::move(center)) {}
  std::shared_ptr<NotificationCenter> center_;
};

class CVNApp;

// One interop component a library offers: the protocol it serves and the
// block that makes an instance of it for an app.
class CVNComponent {
 public:
  using CreationBlock = std::function<std::shared_ptr<void>(const CVNApp& app)>;
  static CVNComponent componentWithProtocol(std::string protocol, CreationBlock creationBlock) {
    return CVNComponent(std::move(protocol), std::move(creationBlock));
  }
  const std::string& protocol() const { return protocol_; }
  std::shared_ptr<void> create(const CVNApp& app) const { return creationBlock_ ? creationBlock_(app) : nullptr; }

 private:
  CVNComponent(std::string protocol, CreationBlock creationBlock)
      : protocol_(std::move(protocol)), creationBlock_(std::move(creationBlock)) {}
  std::string protocol_;
  CreationBlock creationBlock_;
};

class CVNApp {
 public:
  using ConfigureHook = std::function<void(const CVNApp& app)>;
  struct Library {
    std::string name;
    std::string version;
    std::vector<CVNComponent> components;
    ConfigureHook configure;
  };

  // Registers a library; one of a name already registered replaces it.
  static void registerInternalLibrary(std::string name, std::string version, std::vector<CVNComponent> components,
                                      ConfigureHook configure = nullptr);
  static std::vector<Library> registeredLibraries();

  // Makes the default app from `environment` (the shared one when null) and
  // runs the registered hooks. False, with an error and a log line, when the
  // default app exists already or the options cannot be read.
  [[nodiscard]] static bool configure(std::shared_ptr<AppEnvironment> environment = nullptr,
                                      std::shared_ptr<NotificationCenter> center = nullptr, Error* error = nullptr);
  static bool isDefaultAppConfigured();
  static std::shared_ptr<const CVNApp> defaultApp();

  const CVNOptions& options() const { return options_; }
  const std::shared_ptr<CVNAnalyticsConfiguration>& analyticsConfiguration() const { return configuration_; }
  // A new instance of the component a registered library offers for
  // `protocol`; null when none does.
  std::shared_ptr<void> instanceForProtocol(const std::string& protocol) const;

  // Tests: no default app (the registered libraries stay).
  static void resetDefaultAppForTesting();

  CVNApp(CVNOptions options, std::shared_ptr<CVNAnalyticsConfiguration> configuration)
      : options_(std::move(options)), configuration_(std::move(configuration)) {}

 private:
  CVNOptions options_;
  std::shared_ptr<CVNAnalyticsConfiguration> configuration_;
};

}  // namespace platform
