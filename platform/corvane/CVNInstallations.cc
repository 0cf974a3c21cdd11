#include "platform/corvane/CVNInstallations.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "platform/dispatch/Queue.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/Paths.h"
#include "platform/util/Random.h"
#include "platform/util/UUID.h"

namespace platform {
namespace {

struct SharedInstallations {
  Mutex mutex;
  std::shared_ptr<CVNInstallations> installations ABSL_GUARDED_BY(mutex);
};

SharedInstallations& shared() {
  static auto* state = new SharedInstallations();  // never destroyed
  return *state;
}

std::string randomInstallationID() {
  std::random_device device;
  SeededRandom random((static_cast<uint64_t>(device()) << 32) ^ device());
  return randomUUIDString(random);
}

}  // namespace

std::shared_ptr<CVNInstallations> CVNInstallations::installations() {
  auto& state = shared();
  MutexLock lock(state.mutex);
  if (!state.installations) {
    Dependencies dependencies;
    if (auto paths = Paths::current()) dependencies.directory = paths->applicationSupportDirectory();
    state.installations = create(std::move(dependencies));
  }
  return state.installations;
}

void CVNInstallations::setInstallationsForTesting(std::shared_ptr<CVNInstallations> installations) {
  auto& state = shared();
  MutexLock lock(state.mutex);
  state.installations = std::move(installations);
}

std::shared_ptr<CVNInstallations> CVNInstallations::create(Dependencies dependencies) {
  return std::shared_ptr<CVNInstallations>(new CVNInstallations(std::move(dependencies)));
}

CVNInstallations::CVNInstallations(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
  if (!dependencies_.queue) dependencies_.queue = SerialQueue::create("com.halcyra.installations");
  if (!dependencies_.makeID) dependencies_.makeID = randomInstallationID;
}

void CVNInstallations::installationIDWithCompletion(Completion completion) {
  if (!completion) return;
  // Held until it has answered.
  dependencies_.queue->async([self = shared_from_this(), completion = std::move(completion)] {
    Error error;
    auto installationID = self->loadOrMakeID(&error);
    if (installationID) {
      completion(installationID, std::nullopt);
    } else {
      completion(std::nullopt, error);
    }
  });
}

std::optional<std::string> CVNInstallations::loadOrMakeID(Error* error) {
  MutexLock lock(mutex_);
  if (cached_) return cached_;
  if (dependencies_.directory.empty()) {
    if (error) *error = Error(kCVNInstallationsErrorDomain, 1, "No data directory for the installation ID");
    return std::nullopt;
  }
  const auto path = std::filesystem::path(dependencies_.directory) / kCVNInstallationIDFileName;
  {
    std::ifstream in(path);
    std::string stored;
    if (in && std::getline(in, stored) && !stored.empty()) {
      cached_ = stored;
      return cached_;
    }
  }
  std::error_code directoryError;
  std::filesystem::create_directories(dependencies_.directory, directoryError);
  const std::string made = dependencies_.makeID();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(made.data()), made.size());
  if (!writeFileAtomically(path.string(), bytes, error, 0600)) return std::nullopt;
  cached_ = made;
  return cached_;
}

}  // namespace platform
