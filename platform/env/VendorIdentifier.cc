#include "platform/env/VendorIdentifier.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/storage/AtomicFile.h"
#include "platform/storage/Paths.h"
#include "platform/util/Mutex.h"
#include "platform/util/UUID.h"

namespace platform {
namespace {

// A stored identifier is 36 characters; anything longer is not one.
constexpr size_t kMaximumFileSize = 64;

struct Remembered {
  Mutex mutex;
  std::map<std::string, std::string> byFile ABSL_GUARDED_BY(mutex);  // file path -> identifier
};

Remembered& remembered() {
  static Remembered* state = new Remembered();  // never destroyed: readers may run during exit
  return *state;
}

// The file's first bytes (one more than an identifier may have); an empty
// string when there is no file; nullopt with the error when it cannot be read.
std::optional<std::string> readStart(const std::string& path, Error* error) {
  std::error_code code;
  const auto status = std::filesystem::status(path, code);
  if (status.type() == std::filesystem::file_type::not_found) return std::string();
  std::ifstream in;
  if (!code && std::filesystem::is_regular_file(status)) in.open(path, std::ios::binary);
  if (!in) {
    setError(error, posixError(code ? code.value() : EISDIR, "cannot read " + path));
    return std::nullopt;
  }
  std::string text(kMaximumFileSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    setError(error, posixError(EIO, "cannot read " + path));
    return std::nullopt;
  }
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

}  // namespace

std::string VendorIdentifier::filePath(const Paths& paths) {
  return paths.libraryDirectory() + "/" + kVendorIdentifierFileName;
}

std::optional<std::string> VendorIdentifier::identifierForVendor(const Paths& paths, Random& random, Error* error) {
  const std::string path = filePath(paths);
  auto& state = remembered();
  MutexLock lock(state.mutex);
  if (auto it = state.byFile.find(path); it != state.byFile.end()) return it->second;

  Error local;
  auto stored = readStart(path, &local);
  if (!stored) {
    setError(error, local);
    return std::nullopt;
  }
  std::string identifier = *stored;
  if (!isUUIDString(identifier)) {
    identifier = randomUUIDString(random);
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(identifier.data()), identifier.size());
    if (!writeFileAtomically(path, bytes, &local, 0600)) {
      setError(error, local);
      return std::nullopt;
    }
  }
  state.byFile[path] = identifier;
  return identifier;
}

void VendorIdentifier::resetForTesting() {
  auto& state = remembered();
  MutexLock lock(state.mutex);
  state.byFile.clear();
}

}  // namespace platform
