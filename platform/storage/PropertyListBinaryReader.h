// platform::PropertyListBinaryReader — the binary property-list format
// ("bplist00") read straight into platform::Object.
//
// PropertyList reads binary lists through this reader first. For what it
// reads it answers exactly the object that libplist's reader, followed by
// PropertyList's conversion of its nodes, gives for the same bytes (a
// differential test and the property-list fuzz target hold the two to each
// other); that covers every list libplist or this project writes. What it is
// not sure to read the same way (UIDs, sets, 16-byte integers, dates outside
// the 32-bit range, strings that are not clean ASCII or UTF-16, lists laid out
// unlike a writer would) it declines, and PropertyList hands those bytes to
// libplist as before, so every such list reads, or is refused, as it always
// was.
//
// Before anything is built or handed on, the graph of objects the list's
// references make is walked, and the reader refuses (kTooLarge) a list that
// nests deeper than PropertyList::kMaximumDepth or whose shared objects,
// copied out for every reference, would take more than kMaximumExpansion
// bytes: libplist overflows its stack on the first and takes exponential
// time and memory on the second.
//
// `readFile` reads a large file's largest data value straight from the file
// into the buffer the object keeps (the rest of the file into a small one), so
// that a preferences suite's documents are read once and never copied.
//
// Functions of their arguments; safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/storage/PropertyList.h"

namespace platform {

class RegularFileReader;

class PropertyListBinaryReader {
 public:
  // What one read decided: the object, a refusal (`error`), or neither
  // (`declined`: the bytes are left to libplist, or for readFile to a read of
  // the whole file).
  struct Reading {
    std::optional<Object> object;
    bool declined = false;
    Error error;
  };

  // The most the objects of one list may take once shared ones are copied out
  // (each object counts sizeof(Object) plus its text or data).
  static constexpr uint64_t kMaximumExpansion = 4 * uint64_t{PropertyList::kMaximumSize};
  // Files from this size are read in place (their largest data value, when it
  // is at least this large, goes straight into its own buffer).
  static constexpr uint64_t kInPlaceMinimum = 256u << 10;

  // Reads `bytes`, which start with the binary magic.
  static Reading read(std::span<const uint8_t> bytes);
  // Reads an opened file in place: a data value of at least `inPlaceMinimum`
  // bytes goes straight into its own buffer. Declines a file smaller than
  // that, one that is not a binary list with such a value, and one that
  // changed while it was read. (Tests pass a smaller minimum.)
  static Reading readFile(const RegularFileReader& file, uint64_t inPlaceMinimum = kInPlaceMinimum);

  // Whether every string object in the list's offset table can be handed to
  // libplist: false when one holds a NUL character (on which libplist's key
  // accessor asserts) or the table cannot be walked.
  static bool hasOnlySafeStrings(std::span<const uint8_t> bytes);

  // The date libplist's reader makes of a date's parts as it hands them out
  // (whole seconds since 2001 and microseconds), in seconds since 1970; a
  // microsecond count of a whole second or more is no fraction and ignored,
  // so that every date read can be written again.
  static double dateFromLibraryParts(int32_t seconds, int32_t microseconds);
};

}  // namespace platform
