#include "analytics/foundation/core/GWLEnvironmentInfo.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/env/AppEnvironment.h"

namespace {
constexpr int64_t kNoDeviceModelCode = 14000;
constexpr const char* kNoDeviceModelMessage = "Failed to get device model";
constexpr int64_t kNoLanguageCode = 14001;
constexpr const char* kNoLanguageMessage = "Failed to get preferred language";

// "en_US.UTF-8@euro" gives "en-us"; "C" and "POSIX" give nothing.
std::string languageOfLocale(std::string locale) {
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return {};
  std::replace(locale.begin(), locale.end(), '_', '-');
  std::transform(locale.begin(), locale.end(), locale.begin(), [](unsigned char c) { return std::tolower(c); });
  return locale;
}
}  // namespace

std::shared_ptr<GWLEnvironmentInfo> GWLEnvironmentInfo::sharedInstance() {
  static const std::shared_ptr<GWLEnvironmentInfo> instance = std::make_shared<GWLEnvironmentInfo>();
  return instance;
}

std::string GWLEnvironmentInfo::deviceModel() {
  std::call_once(deviceModelOnce_, [this] {
    errno = 0;
    deviceModel_ = GWLAEU::deviceModel();
    if (deviceModel_.empty()) {
      GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelErrorSilent, kNoDeviceModelCode, kNoDeviceModelMessage,
                                                 std::string(std::strerror(errno)));
    }
  });
  return deviceModel_;
}

std::string GWLEnvironmentInfo::deviceOSVersion() const { return GWLAEU::systemVersion(); }

std::optional<std::string> GWLEnvironmentInfo::userDefaultLanguage() const {
  auto environment = platform::AppEnvironment::shared();
  std::string language;
  if (auto list = environment->environmentValue("LANGUAGE")) language = languageOfLocale(list->substr(0, list->find(':')));
  if (language.empty()) {
    if (auto lang = environment->environmentValue("LANG")) language = languageOfLocale(*lang);
  }
  if (language.empty()) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelErrorSilent, kNoLanguageCode, kNoLanguageMessage);
    return std::nullopt;
  }
  return language;
}

int32_t GWLEnvironmentInfo::timeZoneOffsetMinutes(double now) {
  if (!std::isfinite(now)) return 0;
  const time_t seconds = static_cast<time_t>(now);
  struct tm local {};
  if (!localtime_r(&seconds, &local)) return 0;
  return static_cast<int32_t>(std::trunc(static_cast<double>(local.tm_gmtoff) / 60.0));
}

int32_t GWLEnvironmentInfo::timeZoneOffsetMinutes() const {
  return timeZoneOffsetMinutes(platform::Clock::system()->now());
}
