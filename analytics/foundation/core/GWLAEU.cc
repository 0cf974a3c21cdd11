#include "analytics/foundation/core/GWLAEU.h"

#include <cctype>
#include <mutex>

#include "platform/env/AppEnvironment.h"
#include "platform/storekit/Store.h"
#include "platform/util/Mutex.h"

namespace {

constexpr const char* kSandboxReceiptName = "sandboxReceipt";
constexpr const char* kReceiptURLCheckKey = "CorvaneAppStoreReceiptURLCheckEnabled";
constexpr const char* kSceneManifestKey = "UIApplicationSceneManifest";
constexpr const char* kActivePrewarmVariable = "ActivePrewarm";

// A text's truth value: after blanks, a sign and zeros, it starts with Y, T or a digit 1-9.
bool textIsTrue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i == text.size()) return false;
  char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

struct AppActiveState {
  platform::Mutex mutex;
  std::function<bool()> provider ABSL_GUARDED_BY(mutex);
};

AppActiveState& appActiveState() {
  static AppActiveState* state = new AppActiveState();
  return *state;
}

}  // namespace

std::optional<std::string> GWLAEU::appStoreRURL() {
  const platform::Object* check =
      platform::AppEnvironment::shared()->objectForInfoDictionaryKey(kReceiptURLCheckKey);
  if (check) {
    std::optional<bool> enabled = check->boolValue();
    if (auto number = check->numberValue()) enabled = *number != 0;
    if (enabled == false) return std::nullopt;
  }
  auto store = platform::Store::shared();
  if (!store) return std::nullopt;
  return store->receiptPath();
}

bool GWLAEU::isASRS() {
  auto url = appStoreRURL();
  if (!url) return false;
  auto slash = url->find_last_of('/');
  return url->substr(slash == std::string::npos ? 0 : slash + 1) == kSandboxReceiptName;
}

bool GWLAEU::isNOD() {
  std::string model = deviceModel();
  return model == "x86_64" || model == "i386";
}

bool GWLAEU::isFAS() {
  if (isNOD() || isASRS()) return false;
  return platform::AppEnvironment::isFromAppStore();
}

std::string GWLAEU::deviceModel() { return platform::AppEnvironment::shared()->deviceModel(); }

std::string GWLAEU::systemVersion() { return platform::AppEnvironment::shared()->systemVersion(); }

bool GWLAEU::isAEX() { return false; }

bool GWLAEU::classExists(const std::string& className) {
  return platform::AppEnvironment::shared()->hasComponent(className);
}

bool GWLIsAppActive() {
  std::function<bool()> provider;
  {
    platform::MutexLock lock(appActiveState().mutex);
    provider = appActiveState().provider;
  }
  return provider ? provider() : false;
}

void GWLSetAppActiveProvider(std::function<bool()> provider) {
  platform::MutexLock lock(appActiveState().mutex);
  appActiveState().provider = std::move(provider);
}

bool GWLIsActivePrewarm() {
  auto value = platform::AppEnvironment::shared()->environmentValue(kActivePrewarmVariable);
  return value && textIsTrue(*value);
}

bool GWLHasSceneManifest() {
  return platform::AppEnvironment::shared()->objectForInfoDictionaryKey(kSceneManifestKey) != nullptr;
}
