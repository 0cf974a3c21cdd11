// Deep comparison of two decoded wire records, slot by slot: what a test or a
// fuzz target uses to show that two decoders read the same bytes alike. Only
// what a record holds counts, not where it holds it (inline, arena or heap)
// nor the decoders' bookkeeping (list cursors).
#pragma once

#include <cstddef>
#include <cstdint>

#include "analytics/wire/NANOMessageInfo.h"

namespace wire_test {

bool sameRecord(const NANOMessageInfo& a, const NANOMessageInfo& b);

inline bool sameSlot(const NANOSlot& a, const NANOSlot& b) {
  if (const uint64_t* cell = a.cell()) return b.cell() && *cell == *b.cell();
  if (const NANOBytes* bytes = a.bytes()) return b.bytes() && *bytes == *b.bytes();
  if (const NANOArray* x = a.array()) {
    const NANOArray* y = b.array();
    if (!y || x->element != y->element || x->itemSpan().size() != y->itemSpan().size()) return false;
    for (size_t i = 0; i < x->itemSpan().size(); ++i) {
      if (!sameSlot(x->itemSpan()[i], y->itemSpan()[i])) return false;
    }
    return true;
  }
  if (a.message() || b.message()) return a.message() && b.message() && sameRecord(*a.message(), *b.message());
  return a.empty() && b.empty();
}

inline bool sameRecord(const NANOMessageInfo& a, const NANOMessageInfo& b) {
  if (a.type != b.type || a.name != b.name || a.flags != b.flags || a.fields.size() != b.fields.size() ||
      a.present != b.present) {
    return false;
  }
  for (size_t i = 0; i < a.fields.size(); ++i) {
    if (!sameSlot(a.fields[i], b.fields[i])) return false;
  }
  return true;
}

}  // namespace wire_test
