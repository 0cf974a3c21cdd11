// Equality of objects as stored: doubles and dates compared by their bits, so
// that NaN equals itself and -0.0 differs from 0.0 (tests and fuzz targets
// that hold two readers to each other).
#pragma once

#include <bit>
#include <cstdint>

#include "platform/core/Object.h"

namespace platform::testing {

inline bool sameObject(const Object& a, const Object& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Object::Type::Double:
      return std::bit_cast<uint64_t>(*a.doubleValue()) == std::bit_cast<uint64_t>(*b.doubleValue());
    case Object::Type::Date:
      return std::bit_cast<uint64_t>(a.dateValue()->secondsSince1970) ==
             std::bit_cast<uint64_t>(b.dateValue()->secondsSince1970);
    case Object::Type::Array: {
      const Array& x = *a.arrayValue();
      const Array& y = *b.arrayValue();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!sameObject(x[i], y[i])) return false;
      }
      return true;
    }
    case Object::Type::Dictionary: {
      const Dictionary& x = *a.dictionaryValue();
      const Dictionary& y = *b.dictionaryValue();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || !sameObject(i->second, j->second)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace platform::testing
