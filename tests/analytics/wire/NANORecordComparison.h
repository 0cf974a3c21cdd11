// Deep comparison of two decoded wire records, slot by slot: what a test or a
// fuzz target uses to show that two decoders read the same bytes alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "analytics/wire/NANOMessageInfo.h"

namespace wire_test {

bool sameRecord(const NANOMessageInfo& a, const NANOMessageInfo& b);

inline bool sameSlot(const NANOSlot& a, const NANOSlot& b) {
  if (a.value.index() != b.value.index()) return false;
  if (const uint64_t* cell = a.cell()) return *cell == *b.cell();
  if (const NANOBytes* bytes = a.bytes()) return bytes->bytes == b.bytes()->bytes;
  if (const NANOArray* x = a.array()) {
    const NANOArray* y = b.array();
    if (x->count != y->count || x->filled != y->filled || x->allocated != y->allocated ||
        x->element != y->element || x->items.size() != y->items.size()) {
      return false;
    }
    for (size_t i = 0; i < x->items.size(); ++i) {
      if (!sameSlot(x->items[i], y->items[i])) return false;
    }
    return true;
  }
  if (a.message() || b.message()) return a.message() && b.message() && sameRecord(*a.message(), *b.message());
  return true;
}

inline bool sameRecord(const NANOMessageInfo& a, const NANOMessageInfo& b) {
  if (a.type != b.type || a.name != b.name || a.flags != b.flags || a.fields.size() != b.fields.size()) return false;
  for (size_t i = 0; i < a.fields.size(); ++i) {
    if (!sameSlot(a.fields[i], b.fields[i])) return false;
  }
  return true;
}

}  // namespace wire_test
