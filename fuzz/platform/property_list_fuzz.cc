// Property-list bytes from outside (preferences files, Info dictionaries):
// parsing answers an object or an error and never crashes or hangs; the
// binary reader answers what libplist answers for every list it reads, also
// when it reads one from a file with a data value in place; the binary writer
// writes what libplist writes; what we write of a parsed object parses again.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "platform/storage/FileBuffer.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/PropertyListBinaryReader.h"
#include "tests/platform/SameObject.h"

namespace {

using namespace platform;

bool sameReading(const PropertyListBinaryReader::Reading& a, const PropertyListBinaryReader::Reading& b) {
  if (a.object || b.object) return a.object && b.object && testing::sameObject(*a.object, *b.object);
  return a.declined == b.declined && a.error.code == b.error.code;
}

// The bytes as a file, read in place with a small minimum so that short
// inputs take that path too.
void checkInPlace(std::span<const uint8_t> bytes, const PropertyListBinaryReader::Reading& whole) {
  const int fd = ::memfd_create("plist", MFD_CLOEXEC);
  if (fd < 0) return;
  if (::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) {
    if (auto file = RegularFileReader::open("/proc/self/fd/" + std::to_string(fd), PropertyList::kMaximumSize)) {
      PropertyListBinaryReader::Reading inPlace = PropertyListBinaryReader::readFile(*file, 16);
      // Declining here sends the file to the whole read; anything else is what that read decides.
      if (!inPlace.declined && !sameReading(inPlace, whole)) __builtin_trap();
    }
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  if (size >= 6 && std::memcmp(data, "bplist", 6) == 0 && size <= PropertyList::kMaximumSize) {
    PropertyListBinaryReader::Reading ours = PropertyListBinaryReader::read(bytes);
    // It refuses only what libplist cannot be given (too deep, too large).
    if (!ours.object && !ours.declined && ours.error.code != PropertyList::kTooLarge) __builtin_trap();
    if (ours.object) {
      auto theirs = PropertyList::parseWithLibplistForTesting(bytes);
      if (!theirs || !testing::sameObject(*ours.object, *theirs)) __builtin_trap();
    }
    checkInPlace(bytes, ours);
  }
  auto object = PropertyList::parse(bytes);
  if (!object) return 0;
  // (Dates may move by a microsecond through the library's own conversions,
  // so the objects are not compared.)
  if (auto written = PropertyList::serialize(*object, PropertyListFormat::Binary)) {
    // The binary writer writes the bytes libplist writes.
    auto reference = PropertyList::serializeWithLibplistForTesting(*object, PropertyListFormat::Binary);
    if (!reference || *reference != *written) __builtin_trap();
    auto again = PropertyList::parse(*written);
    if (!again || again->type() != object->type()) __builtin_trap();
  }
  return 0;
}
