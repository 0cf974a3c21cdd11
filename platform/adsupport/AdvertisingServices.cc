#include "platform/adsupport/AdvertisingServices.h"

#include <cctype>

#include "platform/env/AppEnvironment.h"
#include "platform/util/Mutex.h"

namespace platform {
namespace {

struct State {
  Mutex mutex;
  ASIdentifierManager::Answers identifier ABSL_GUARDED_BY(mutex);
  std::optional<ATTrackingAuthorizationStatus> tracking ABSL_GUARDED_BY(mutex);
};

// Never destroyed: queue threads may still ask while the process exits.
State& state() {
  static State* shared = new State();
  return *shared;
}

bool present(const char* component) {
  auto environment = AppEnvironment::shared();
  return environment && environment->hasComponent(component);
}

// The canonical upper-case form of an 8-4-4-4-12 hexadecimal UUID; none for
// other text.
std::optional<std::string> canonicalUUID(const std::string& text) {
  if (text.size() != 36) return std::nullopt;
  std::string canonical = text;
  for (size_t i = 0; i < canonical.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const unsigned char c = static_cast<unsigned char>(canonical[i]);
    if (dash ? c != '-' : !std::isxdigit(c)) return std::nullopt;
    canonical[i] = static_cast<char>(std::toupper(c));
  }
  return canonical;
}

}  // namespace

bool ASIdentifierManager::isPresent() { return present(kASIdentifierManagerComponentName); }

std::optional<std::string> ASIdentifierManager::advertisingIdentifier() {
  if (!isPresent()) return std::nullopt;
  std::optional<std::string> identifier;
  {
    MutexLock lock(state().mutex);
    identifier = state().identifier.advertisingIdentifier;
  }
  return identifier ? canonicalUUID(*identifier) : std::nullopt;
}

std::optional<bool> ASIdentifierManager::isAdvertisingTrackingEnabled() {
  if (!isPresent()) return std::nullopt;
  MutexLock lock(state().mutex);
  return state().identifier.isAdvertisingTrackingEnabled;
}

void ASIdentifierManager::setAnswers(Answers answers) {
  MutexLock lock(state().mutex);
  state().identifier = std::move(answers);
}

void ASIdentifierManager::reset() { setAnswers({}); }

bool ATTrackingManager::isPresent() { return present(kATTrackingManagerComponentName); }

std::optional<ATTrackingAuthorizationStatus> ATTrackingManager::trackingAuthorizationStatus() {
  if (!isPresent()) return std::nullopt;
  MutexLock lock(state().mutex);
  return state().tracking;
}

void ATTrackingManager::setTrackingAuthorizationStatus(std::optional<ATTrackingAuthorizationStatus> status) {
  MutexLock lock(state().mutex);
  state().tracking = status;
}

void ATTrackingManager::reset() { setTrackingAuthorizationStatus(std::nullopt); }

}  // namespace platform
