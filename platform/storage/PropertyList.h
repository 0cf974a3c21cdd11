// platform::PropertyList — reading and writing property lists.
//
// Converts between property-list bytes (XML or binary, both readable) and
// platform::Object: booleans, integers and reals stay distinct, dates become
// platform::Date and data becomes bytes. Files are written atomically
// (temporary file, fsync, rename, fsync of the directory).
//
// Files are written in the binary format by default: it keeps doubles
// bit-exact and dates to the microsecond (the XML form drops a date's
// fractional seconds), and it is smaller and faster to read back. XML stays
// available for files that people read, such as an Info dictionary.
//
// What a property list cannot hold is refused with an error, never dropped
// silently: null, strings or keys with a NUL character or invalid UTF-8, and
// dates outside about 1933-2069. Strings read from outside that are not valid
// UTF-8 have the bad sequences replaced by U+FFFD. Nothing here throws.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {

enum class PropertyListFormat { Binary, XML };

// A dictionary whose values are shared and never changed: copying it copies
// pointers, not values (a preferences suite's snapshot of large data values).
using SharedDictionary = std::map<std::string, std::shared_ptr<const Object>>;

class PropertyList {
 public:
  // Error codes in kPropertyListErrorDomain.
  enum Code : int64_t {
    kUnreadable = 1,       // the bytes are no property list
    kUnsupportedValue = 2, // the value cannot be written as a property list
    kTooLarge = 3,         // the input or output exceeds kMaximumSize, or nests too deep
  };
  // The largest property list read or written: the one size budget of
  // everything kept in property-list files (a preferences suite is refused a
  // value that would make its file larger, so that what is written can always
  // be read back).
  static constexpr size_t kMaximumSize = 64u << 20;
  static constexpr int kMaximumDepth = 256;

  // Parses XML or binary property-list bytes. Binary lists are read by
  // PropertyListBinaryReader, which hands the ones it does not read to
  // libplist (and refuses lists that nest too deep or expand too far).
  [[nodiscard]] static std::optional<Object> parse(std::span<const uint8_t> bytes, Error* error = nullptr);
  // Tests: the parse through libplist alone, which the binary reader is held
  // to. Only for lists the binary reader did not refuse: libplist overflows
  // its stack, or runs for hours, on the ones it refuses as too deep or large.
  [[nodiscard]] static std::optional<Object> parseWithLibplistForTesting(std::span<const uint8_t> bytes, Error* error = nullptr);
  // Serialises `object` in `format`: binary lists by PropertyListBinaryWriter
  // (the bytes libplist would write), XML by libplist.
  [[nodiscard]] static std::optional<Bytes> serialize(const Object& object, PropertyListFormat format, Error* error = nullptr);
  // Tests: the serialisation through libplist alone, which the binary writer is held to.
  [[nodiscard]] static std::optional<Bytes> serializeWithLibplistForTesting(const Object& object, PropertyListFormat format,
                                                              Error* error = nullptr);
  // Whether `object` can be written as a property list; the error says why not.
  [[nodiscard]] static bool isValid(const Object& object, Error* error = nullptr);
  // An upper bound of the bytes `object` takes in a binary property list,
  // its share of the object table and of its container's references included
  // (a whole file adds kBinaryFileOverhead). Data counts its length, a string
  // its bytes when ASCII and its UTF-16 units twice otherwise, containers
  // their members.
  static size_t binarySizeBound(const Object& object);
  static size_t binarySizeBound(const std::string& string);
  static constexpr size_t kBinaryFileOverhead = 8 + 32 + 32;

  // Reads and parses the file at `path`: one read of the file's size, or for
  // a large binary list, its largest data value read straight into the
  // value's own buffer and the rest into another. A missing file is an error
  // in the POSIX domain with code ENOENT.
  [[nodiscard]] static std::optional<Object> readFile(const std::string& path, Error* error = nullptr);
  // Serialises `object` and writes it to `path` atomically.
  [[nodiscard]] static bool writeFile(const std::string& path, const Object& object,
                        PropertyListFormat format = PropertyListFormat::Binary, Error* error = nullptr);
  // Serialises `dictionary` and writes it to `path` atomically with
  // permissions `mode`. In the binary format, large data values go to the
  // file from where the dictionary keeps them (no copy).
  [[nodiscard]] static bool writeFile(const std::string& path, const SharedDictionary& dictionary, PropertyListFormat format,
                        unsigned mode, Error* error = nullptr);
};

inline constexpr const char* kPropertyListErrorDomain = "platform.PropertyList";

}  // namespace platform
