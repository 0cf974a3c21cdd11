// Text the identity reads from outside: the app's version strings and the
// file that keeps the vendor identifier. Version fields are never negative
// and never more than the text has pieces; a vendor identifier file of any
// content gives a UUID that the file then holds.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "analytics/measurement/GWLIdentity.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/env/VendorIdentifier.h"
#include "platform/storage/Paths.h"
#include "platform/util/Random.h"
#include "platform/util/UUID.h"
#include "fuzz/ScratchDirectory.h"

namespace {

using fuzz_support::check;

int testOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  auto fields = GWLIdentity::numericFieldsFromAppVersionNumeric(text, *GWLLibraryMonitor::monitor());
  check(fields.size() <= static_cast<size_t>(std::count(text.begin(), text.end(), '.')) + 1);
  for (int32_t field : fields) check(field >= 0);
  check(GWLIdentity::libraryVersionFromVersionText(text) >= 0 || text.size() >= 4);

  static const std::shared_ptr<platform::Paths> paths =
      platform::Paths::open(fuzz_support::processScratchDirectory("identity_fuzz").string());
  check(paths != nullptr);
  const std::string path = platform::VendorIdentifier::filePath(*paths);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  platform::VendorIdentifier::resetForTesting();
  platform::SeededRandom random(size);
  auto identifier = platform::VendorIdentifier::identifierForVendor(*paths, random);
  check(identifier && platform::isUUIDString(*identifier));
  std::ifstream in(path, std::ios::binary);
  check(std::string(std::istreambuf_iterator<char>(in), {}) == *identifier);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::runWithQuietLibraryMonitor(testOneInput, data, size);
}
