// Fuzz target: a URL handed over by another app, through the app's open-URL
// handling (file: URL to local path and back).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/AppFileOpener.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view url(reinterpret_cast<const char*>(data), size);
  auto path = tabulo::AppFileOpener::filePathFromURL(url);
  if (path) {
    // A path taken from a URL gives a URL that names the same path.
    if (path->string().find('\0') != std::string::npos) std::abort();
    auto again = tabulo::AppFileOpener::filePathFromURL(tabulo::AppFileOpener::fileURLFromPath(*path));
    if (!again || *again != *path) std::abort();
  }
  return 0;
}
