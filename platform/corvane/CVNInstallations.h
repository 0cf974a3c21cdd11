// CVNInstallations — a small stand-in for the maker's installations
// framework: one installation ID per data directory, made on first request
// and kept in a file, answered on a queue of the framework's own.
//
// Thread-safe: every method may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/util/Mutex.h"

namespace platform {

class Queue;

inline constexpr const char* kCVNInstallationIDDidChangeNotification = "CVNInstallationIDDidChangeNotification";
inline constexpr const char* kCVNInstallationsErrorDomain = "platform.CVNInstallations";
inline constexpr const char* kCVNInstallationIDFileName = "CVNInstallationID";

class CVNInstallations : public std::enable_shared_from_this<CVNInstallations> {
 public:
  using Completion = std::function<void(const std::optional<std::string>& installationID,
                                        const std::optional<Error>& error)>;
  struct Dependencies {
    std::string directory;        // where the ID's file lives; made on first use
    std::shared_ptr<Queue> queue;  // where answers come; a serial queue of its own when null
    std::function<std::string()> makeID;  // a new random ID when empty
  };

  // The process's installations, in the current data directory's
  // application-support directory; made once.
  static std::shared_ptr<CVNInstallations> installations();
  static std::shared_ptr<CVNInstallations> create(Dependencies dependencies);
  // Tests: the next installations() answers `installations` (null: a new one).
  static void setInstallationsForTesting(std::shared_ptr<CVNInstallations> installations);

  // Answers the ID, or nil with an error when it can be neither read nor stored.
  void installationIDWithCompletion(Completion completion);

 private:
  explicit CVNInstallations(Dependencies dependencies);
  std::optional<std::string> loadOrMakeID(Error* error);

  Dependencies dependencies_;
  Mutex mutex_;
  std::optional<std::string> cached_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace platform
