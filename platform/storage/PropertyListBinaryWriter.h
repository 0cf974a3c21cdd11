// platform::PropertyListBinaryWriter — objects written as binary property
// lists ("bplist00") without building libplist's tree.
//
// The bytes are the ones libplist's writer makes of the same object as
// PropertyList hands it over (a differential test and the property-list fuzz
// target hold the two to each other): objects numbered depth first, a
// dictionary's key before its value; equal booleans, integers, reals (by
// their bits), dates, strings and keys written once and referenced again;
// data, arrays and dictionaries written each time; integers in the fewest
// of 1, 2, 4 or 8 bytes; reals as 4-byte floats when that keeps them exactly;
// strings as ASCII, else UTF-16; offsets and references as wide as the table
// offset and the object count need.
//
// The output keeps the bytes of large data values where they are: it is a
// sequence of pieces, the writer's own bytes between references to those
// values, written out with one gathered write. It borrows from the object it
// was made of, which must outlive it.
//
// The object must have passed PropertyList::isValid (keys and strings valid
// UTF-8 without NUL, dates in range, no null). Functions of their arguments;
// safe on any thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/core/Object.h"
#include "platform/storage/PropertyList.h"

namespace platform {

class PropertyListBinaryWriter {
 public:
  // Data values from this size are referenced rather than copied.
  static constexpr size_t kBorrowedMinimum = 64u << 10;

  class Output {
   public:
    // The writer's bytes [begin, end), then `borrowed` ones (possibly none).
    struct Piece {
      size_t begin = 0;
      size_t end = 0;
      std::span<const uint8_t> borrowed;
    };
    Output(Bytes own, std::vector<Piece> pieces, size_t size)
        : own_(std::move(own)), pieces_(std::move(pieces)), size_(size) {}

    // The file's bytes, in order.
    std::vector<std::span<const uint8_t>> pieces() const;
    size_t size() const { return size_; }
    // The bytes joined.
    Bytes bytes() const;

   private:
    Bytes own_;
    std::vector<Piece> pieces_;
    size_t size_ = 0;
  };

  static Output write(const Object& root);
  // A dictionary of shared values, as a preferences suite holds it.
  static Output write(const SharedDictionary& root);
};

}  // namespace platform
