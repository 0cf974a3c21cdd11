// DocumentLimits — the bounds every document of the app stays within, shared
// by the CSV import, the decoder of the stored array and the document store,
// and derived from the one size budget of the preferences file that holds the
// store (PropertyList::kMaximumSize: what is larger is neither written nor
// read back).
//
// - kStoreBudget: the stored array's bytes; the rest of the file is left to
//   the other preferences (the app's flags, the analytics library's settings).
// - kMaxCells: the cells of one grid, header row and number column included
//   (rows times the widest row). No cell encodes in fewer than
//   kMinimumEncodedCell bytes, so a readable store never holds a grid beyond
//   it, and an import within it is checked against the budget once more
//   exactly (its encoded size) before it is stored.
// - kMaxTextBytes: one cell's text.
#pragma once

#include <cstddef>

#include "platform/storage/PropertyList.h"

namespace tabulo {

struct DocumentLimits {
  static constexpr size_t kReservedForOtherPreferences = 1u << 20;
  static constexpr size_t kStoreBudget = platform::PropertyList::kMaximumSize - kReservedForOtherPreferences;
  // {"text":"","textAlignment":0,"textColor":{"red":0,"green":0,"blue":0},"cellColor":{"red":0,"green":0,"blue":0}}
  static constexpr size_t kMinimumEncodedCell = 111;
  static constexpr size_t kMaxCells = platform::PropertyList::kMaximumSize / kMinimumEncodedCell;
  static constexpr size_t kMaxTextBytes = platform::PropertyList::kMaximumSize;
};

}  // namespace tabulo
