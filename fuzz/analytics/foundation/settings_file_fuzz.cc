// The settings file as found on disk: opening it never crashes, and bytes it
// cannot read are set aside whole, never overwritten by the next write.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "analytics/foundation/config/GWLPersistentDictionary.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/NotificationCenter.h"

namespace fs = std::filesystem;

namespace {
void check(bool condition) {
  if (!condition) std::abort();
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path directory = fs::temp_directory_path() / ("settings_file_fuzz." + std::to_string(::getpid()));
  static const bool quiet = [] {
    platform::log::setSink(std::make_shared<platform::CapturingLogSink>());
    return true;
  }();
  (void)quiet;
  fs::remove_all(directory);
  fs::create_directories(directory);
  const std::string path = (directory / "settings.plist").string();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(path, std::ios::binary) << bytes;

  auto dictionary = GWLPersistentDictionary::createAtPath(path, std::make_shared<platform::ManualClock>(),
                                                          platform::NotificationCenter::create());
  check(dictionary != nullptr);
  (void)dictionary->objectForKey("/halcyra/measurement/app_instance_id");
  (void)dictionary->integerForKey("/halcyra/measurement/session_number");
  (void)dictionary->stringForKey("/halcyra/measurement/app_version");
  if (auto aside = dictionary->setAsidePath()) check(readAll(*aside) == bytes);
  dictionary->setInteger(1, "/halcyra/measurement/session_number");
  if (dictionary->synchronize() && !dictionary->setAsidePath()) {
    // Readable input: everything it held is still there after the write.
    auto reopened = GWLPersistentDictionary::createAtPath(path, std::make_shared<platform::ManualClock>(),
                                                          platform::NotificationCenter::create());
    check(reopened && reopened->integerForKey("/halcyra/measurement/session_number") == 1);
  }
  dictionary.reset();
  fs::remove_all(directory);
  return 0;
}
