#include "platform/storage/PropertyList.h"

#include <plist/plist.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileBuffer.h"
#include "platform/storage/PropertyListBinaryReader.h"
#include "platform/storage/PropertyListBinaryWriter.h"
#include "platform/text/Utf8.h"

namespace platform {
namespace {

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

Error plistError(int64_t code, std::string description) {
  return Error(kPropertyListErrorDomain, code, std::move(description));
}

// Text a property list can hold: valid UTF-8 without NUL characters.
bool isValidText(const std::string& s) { return s.find('\0') == std::string::npos && utf8::isValid(s); }

// `s` with every byte of an ill-formed sequence replaced by U+FFFD (one per
// byte, as files written before kept them).
std::string replacingInvalidUTF8(std::string s) {
  if (utf8::isValid(s)) return s;
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size();) {
    const utf8::Decoded decoded = utf8::decode(s, i);
    if (decoded.valid) {
      out.append(s, i, decoded.length);
    } else {
      for (size_t k = 0; k < decoded.length; ++k) utf8::append(out, utf8::kReplacementCharacter);
    }
    i += decoded.length;
  }
  return out;
}

// Text from a file: NUL characters and invalid UTF-8 become U+FFFD.
std::string fromOutside(std::string s) {
  std::string out;
  if (s.find('\0') != std::string::npos) {
    out.reserve(s.size());
    for (char c : s) {
      if (c == '\0') {
        out += "\xEF\xBF\xBD";
      } else {
        out += c;
      }
    }
    s.swap(out);
  }
  return replacingInvalidUTF8(std::move(s));
}

std::string takeString(char* raw) {
  std::string s = raw ? raw : "";
  free(raw);
  return fromOutside(std::move(s));
}

bool checkValue(const Object& object, int depth, Error* error) {
  if (depth > PropertyList::kMaximumDepth) {
    setError(error, plistError(PropertyList::kTooLarge, "property list nests too deep"));
    return false;
  }
  switch (object.type()) {
    case Object::Type::Null:
      setError(error, plistError(PropertyList::kUnsupportedValue, "a property list cannot hold null"));
      return false;
    case Object::Type::Bool:
    case Object::Type::Int:
    case Object::Type::Bytes:
      return true;
    case Object::Type::Double:
      return true;
    case Object::Type::String:
      if (!isValidText(*object.stringValue())) {
        setError(error, plistError(PropertyList::kUnsupportedValue,
                                   "a property-list string must be UTF-8 without NUL characters"));
        return false;
      }
      return true;
    case Object::Type::Date: {
      double since2001 = object.dateValue()->secondsSince1970 - kSecondsFrom1970To2001;
      if (!std::isfinite(since2001) || std::trunc(since2001) > std::numeric_limits<int32_t>::max() ||
          std::trunc(since2001) < std::numeric_limits<int32_t>::min()) {
        setError(error, plistError(PropertyList::kUnsupportedValue, "date out of the property-list range"));
        return false;
      }
      return true;
    }
    case Object::Type::Array:
      for (const auto& item : *object.arrayValue()) {
        if (!checkValue(item, depth + 1, error)) return false;
      }
      return true;
    case Object::Type::Dictionary:
      for (const auto& [key, value] : *object.dictionaryValue()) {
        if (!isValidText(key)) {
          setError(error, plistError(PropertyList::kUnsupportedValue,
                                     "a property-list key must be UTF-8 without NUL characters"));
          return false;
        }
        if (!checkValue(value, depth + 1, error)) return false;
      }
      return true;
  }
  return false;
}

// Builds the node of an object already checked by checkValue.
plist_t toNode(const Object& object) {
  switch (object.type()) {
    case Object::Type::Null:
      return nullptr;
    case Object::Type::Bool:
      return plist_new_bool(*object.boolValue() ? 1 : 0);
    case Object::Type::Int:
      // The library keeps every integer as 64 bits; negative values round-trip.
      return plist_new_uint(static_cast<uint64_t>(*object.intValue()));
    case Object::Type::Double:
      return plist_new_real(*object.doubleValue());
    case Object::Type::String:
      return plist_new_string(object.stringValue()->c_str());
    case Object::Type::Bytes: {
      const Bytes& bytes = *object.bytesValue();
      return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case Object::Type::Date: {
      double since2001 = object.dateValue()->secondsSince1970 - kSecondsFrom1970To2001;
      double whole = std::trunc(since2001);
      auto usec = static_cast<int32_t>(std::lround((since2001 - whole) * 1e6));
      auto sec = static_cast<int32_t>(whole);
      if (usec >= 1000000 || usec <= -1000000) {
        // Rounding reached the next whole second.
        sec += usec > 0 ? 1 : -1;
        usec = 0;
      }
      return plist_new_date(sec, usec);
    }
    case Object::Type::Array: {
      plist_t array = plist_new_array();
      for (const auto& item : *object.arrayValue()) plist_array_append_item(array, toNode(item));
      return array;
    }
    case Object::Type::Dictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, value] : *object.dictionaryValue()) plist_dict_set_item(dict, key.c_str(), toNode(value));
      return dict;
    }
  }
  return nullptr;
}

std::optional<Object> fromNode(plist_t node, int depth, Error* error) {
  if (depth > PropertyList::kMaximumDepth) {
    setError(error, plistError(PropertyList::kTooLarge, "property list nests too deep"));
    return std::nullopt;
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return Object(value != 0);
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return Object(static_cast<int64_t>(value));
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return Object(value);
    }
    case PLIST_STRING: {
      // Read through the pointer: the copying accessor asserts on a string
      // with an embedded NUL, which a hostile file can hold.
      uint64_t length = 0;
      const char* raw = plist_get_string_ptr(node, &length);
      return Object(fromOutside(raw ? std::string(raw, length) : std::string()));
    }
    case PLIST_DATA: {
      // Copied once, straight out of the node.
      uint64_t length = 0;
      const char* raw = plist_get_data_ptr(node, &length);
      const auto* begin = reinterpret_cast<const uint8_t*>(raw);
      return Object(Bytes(begin, begin + (raw ? length : 0)));
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return Object(Date{PropertyListBinaryReader::dateFromLibraryParts(sec, usec)});
    }
    case PLIST_ARRAY: {
      Array array;
      uint32_t size = plist_array_get_size(node);
      array.reserve(size);
      for (uint32_t i = 0; i < size; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1, error);
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
      }
      return Object(std::move(array));
    }
    case PLIST_DICT: {
      Dictionary dict;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      bool ok = true;
      for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &rawKey, &value);
        if (!value) {
          free(rawKey);
          break;
        }
        std::string key = takeString(rawKey);
        auto item = fromNode(value, depth + 1, error);
        if (!item) {
          ok = false;
          break;
        }
        dict.insert_or_assign(std::move(key), std::move(*item));
      }
      free(it);
      if (!ok) return std::nullopt;
      return Object(std::move(dict));
    }
    case PLIST_UID: {
      // Keyed-archive references have no counterpart; keep the number.
      uint64_t value = 0;
      plist_get_uid_val(node, &value);
      return Object(static_cast<int64_t>(value));
    }
    default:
      setError(error, plistError(PropertyList::kUnreadable, "property list holds a value of unknown kind"));
      return std::nullopt;
  }
}

}  // namespace

namespace {

constexpr char kBinaryMagic[] = {'b', 'p', 'l', 'i', 's', 't'};

bool isBinary(std::span<const uint8_t> bytes) {
  return bytes.size() >= sizeof kBinaryMagic && std::equal(kBinaryMagic, kBinaryMagic + sizeof kBinaryMagic, bytes.begin());
}

// libplist's reader, for XML and for the binary lists the binary reader
// declines (it has walked them, so they neither nest too deep nor expand).
std::optional<Object> parseWithLibplist(std::span<const uint8_t> bytes, Error* error) {
  if (isBinary(bytes) && !PropertyListBinaryReader::hasOnlySafeStrings(bytes)) {
    setError(error, plistError(PropertyList::kUnreadable,
                               "not a property list, or one with a NUL character in a string"));
    return std::nullopt;
  }
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) {
    setError(error, plistError(PropertyList::kUnreadable, "not a property list"));
    return std::nullopt;
  }
  PlistPtr owned(root);
  Error local;
  auto object = fromNode(root, 0, &local);
  if (!object) setError(error, local);
  return object;
}

// A refusal of the binary reader, or what libplist makes of bytes it declined.
std::optional<Object> finish(PropertyListBinaryReader::Reading reading, std::span<const uint8_t> bytes,
                             Error* error) {
  if (reading.object) return std::move(reading.object);
  if (!reading.declined) {
    setError(error, reading.error);
    return std::nullopt;
  }
  return parseWithLibplist(bytes, error);
}

bool checkParseSize(std::span<const uint8_t> bytes, Error* error) {
  if (bytes.size() > PropertyList::kMaximumSize) {
    setError(error, plistError(PropertyList::kTooLarge,
                               "property list larger than " + std::to_string(PropertyList::kMaximumSize) + " bytes"));
    return false;
  }
  if (bytes.empty()) {
    setError(error, plistError(PropertyList::kUnreadable, "empty property list"));
    return false;
  }
  return true;
}

}  // namespace

std::optional<Object> PropertyList::parse(std::span<const uint8_t> bytes, Error* error) {
  if (!checkParseSize(bytes, error)) return std::nullopt;
  if (!isBinary(bytes)) return parseWithLibplist(bytes, error);
  return finish(PropertyListBinaryReader::read(bytes), bytes, error);
}

std::optional<Object> PropertyList::parseWithLibplistForTesting(std::span<const uint8_t> bytes, Error* error) {
  if (!checkParseSize(bytes, error)) return std::nullopt;
  return parseWithLibplist(bytes, error);
}

namespace {

// Each object: marker, length (up to 9 bytes), an offset-table entry and a
// reference from its container (up to 8 bytes each).
constexpr size_t kPerObject = 1 + 9 + 8 + 8;

}  // namespace

size_t PropertyList::binarySizeBound(const std::string& string) {
  // ASCII is written a byte a character, anything else as UTF-16.
  const bool ascii = std::all_of(string.begin(), string.end(), [](char c) { return (c & 0x80) == 0; });
  return kPerObject + (ascii ? string.size() : 2 * utf8::utf16Length(string));
}

size_t PropertyList::binarySizeBound(const Object& object) {
  switch (object.type()) {
    case Object::Type::Null:
    case Object::Type::Bool:
      return kPerObject;
    case Object::Type::Int:  // an unsigned value past int64 takes 16 bytes
      return kPerObject + 16;
    case Object::Type::Double:
    case Object::Type::Date:
      return kPerObject + 8;
    case Object::Type::String:
      return binarySizeBound(*object.stringValue());
    case Object::Type::Bytes:
      return kPerObject + object.bytesValue()->size();
    case Object::Type::Array: {
      size_t total = kPerObject;
      for (const Object& item : *object.arrayValue()) total += binarySizeBound(item);
      return total;
    }
    case Object::Type::Dictionary: {
      size_t total = kPerObject;
      for (const auto& [key, value] : *object.dictionaryValue()) total += binarySizeBound(key) + binarySizeBound(value);
      return total;
    }
  }
  return kPerObject;
}

bool PropertyList::isValid(const Object& object, Error* error) {
  Error local;
  bool ok = checkValue(object, 0, &local);
  if (!ok) setError(error, local);
  return ok;
}

namespace {

// Serialised bytes as libplist hands them out, freed by its own function.
class Serialised {
 public:
  Serialised(PropertyListFormat format, plist_t root) : format_(format) {
    if (format == PropertyListFormat::Binary) {
      plist_to_bin(root, &raw_, &length_);
    } else {
      plist_to_xml(root, &raw_, &length_);
    }
  }
  ~Serialised() {
    if (!raw_) return;
    if (format_ == PropertyListFormat::Binary) {
      plist_to_bin_free(raw_);
    } else {
      plist_to_xml_free(raw_);
    }
  }
  Serialised(const Serialised&) = delete;
  Serialised& operator=(const Serialised&) = delete;

  bool ok() const { return raw_ != nullptr; }
  std::span<const uint8_t> bytes() const { return {reinterpret_cast<const uint8_t*>(raw_), length_}; }

 private:
  PropertyListFormat format_;
  char* raw_ = nullptr;
  uint32_t length_ = 0;
};

// What could not be read back is not written.
bool checkSerialisedSize(size_t size, Error* error) {
  if (size > PropertyList::kMaximumSize) {
    setError(error, plistError(PropertyList::kTooLarge, "the property list would be larger than " +
                                                            std::to_string(PropertyList::kMaximumSize) + " bytes"));
    return false;
  }
  return true;
}

bool checkSerialised(const Serialised& serialised, Error* error) {
  if (!serialised.ok()) {
    setError(error, plistError(PropertyList::kUnsupportedValue, "the property list could not be serialised"));
    return false;
  }
  return checkSerialisedSize(serialised.bytes().size(), error);
}

std::optional<Bytes> serializeWithLibplist(const Object& object, PropertyListFormat format, Error* error) {
  PlistPtr root(toNode(object));
  Serialised serialised(format, root.get());
  if (!checkSerialised(serialised, error)) return std::nullopt;
  return Bytes(serialised.bytes().begin(), serialised.bytes().end());
}

}  // namespace

std::optional<Bytes> PropertyList::serialize(const Object& object, PropertyListFormat format, Error* error) {
  if (!isValid(object, error)) return std::nullopt;
  if (format == PropertyListFormat::XML) return serializeWithLibplist(object, format, error);
  PropertyListBinaryWriter::Output output = PropertyListBinaryWriter::write(object);
  if (!checkSerialisedSize(output.size(), error)) return std::nullopt;
  return output.bytes();
}

std::optional<Bytes> PropertyList::serializeWithLibplistForTesting(const Object& object, PropertyListFormat format,
                                                                  Error* error) {
  if (!isValid(object, error)) return std::nullopt;
  return serializeWithLibplist(object, format, error);
}

std::optional<Object> PropertyList::readFile(const std::string& path, Error* error) {
  Error local;
  std::optional<RegularFileReader> file = RegularFileReader::open(path, kMaximumSize, &local);
  std::optional<FileBuffer> bytes;
  if (file) {
    // A large binary list is read in place; anything else whole, in one read.
    PropertyListBinaryReader::Reading reading = PropertyListBinaryReader::readFile(*file);
    if (!reading.declined) {
      if (reading.object) return std::move(reading.object);
      local = reading.error;
      local.description = path + ": " + local.description;
      setError(error, local);
      return std::nullopt;
    }
    bytes = file->readAll(&local);
  }
  if (!bytes) {
    if (local.domain == kPOSIXErrorDomain && local.code == EFBIG) {
      local = plistError(kTooLarge, path + " is larger than " + std::to_string(kMaximumSize) + " bytes");
    }
    setError(error, local);
    return std::nullopt;
  }
  auto object = parse(bytes->bytes(), &local);
  if (!object) {
    local.description = path + ": " + local.description;
    setError(error, local);
  }
  return object;
}

bool PropertyList::writeFile(const std::string& path, const Object& object, PropertyListFormat format, Error* error) {
  if (!isValid(object, error)) return false;
  if (format == PropertyListFormat::Binary) {
    PropertyListBinaryWriter::Output output = PropertyListBinaryWriter::write(object);
    if (!checkSerialisedSize(output.size(), error)) return false;
    return writeFileAtomically(path, output.pieces(), error);
  }
  PlistPtr root(toNode(object));
  Serialised serialised(format, root.get());
  if (!checkSerialised(serialised, error)) return false;
  return writeFileAtomically(path, serialised.bytes(), error);
}

bool PropertyList::writeFile(const std::string& path, const SharedDictionary& dictionary, PropertyListFormat format,
                             unsigned mode, Error* error) {
  for (const auto& [key, value] : dictionary) {
    if (!isValidText(key)) {
      setError(error, plistError(kUnsupportedValue, "a property-list key must be UTF-8 without NUL characters"));
      return false;
    }
    if (!value) {
      setError(error, plistError(kUnsupportedValue, "a property list cannot hold null"));
      return false;
    }
    if (!checkValue(*value, 1, error)) return false;
  }
  if (format == PropertyListFormat::Binary) {
    // The values' bytes go to the file from where the suite keeps them.
    PropertyListBinaryWriter::Output output = PropertyListBinaryWriter::write(dictionary);
    if (!checkSerialisedSize(output.size(), error)) return false;
    return writeFileAtomically(path, output.pieces(), error, mode);
  }
  PlistPtr root(plist_new_dict());
  for (const auto& [key, value] : dictionary) plist_dict_set_item(root.get(), key.c_str(), toNode(*value));
  Serialised serialised(format, root.get());
  if (!checkSerialised(serialised, error)) return false;
  return writeFileAtomically(path, serialised.bytes(), error, mode);
}

}  // namespace platform
