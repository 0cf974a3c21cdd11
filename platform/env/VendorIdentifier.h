// platform::VendorIdentifier — the device's identifier for the app's vendor.
//
// Stands in for the platform's per-vendor device identifier: a random UUID
// (upper-case text form) made the first time it is asked for in a data
// directory and kept in the file "Library/VendorIdentifier" there, so that it
// stays the same for as long as the data directory lives. A file that does not
// hold a UUID (damaged, or written by something else) is replaced by a new
// identifier; a file that cannot be read or written gives no identifier (the
// platform, too, may answer none) and the error says why.
//
// Reads run on the calling thread; the first read of a process does one small
// file read, later ones are answered from memory. Safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/util/Random.h"

namespace platform {

class Paths;

inline constexpr const char* kVendorIdentifierFileName = "VendorIdentifier";

class VendorIdentifier {
 public:
  // The identifier of the data directory of `paths`, made with `random` and
  // stored when there is none yet.
  [[nodiscard]] static std::optional<std::string> identifierForVendor(const Paths& paths, Random& random, Error* error = nullptr);

  // The file that keeps the identifier of `paths`.
  static std::string filePath(const Paths& paths);

  // Tests: forgets the identifiers remembered in memory.
  static void resetForTesting();
};

}  // namespace platform
