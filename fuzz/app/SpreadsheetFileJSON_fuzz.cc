// Decodes arbitrary bytes as the document store's JSON array. Decoding must
// not crash; a decoded array must satisfy the document invariants, encode
// again, and decode from that encoding to the same documents bit for bit.
// The store's top-level scanner must not crash either; where both the
// decoder and the scanner take the text, they must agree on the documents and
// their uuids, and the encoder's own text must split unless a uuid needed an
// escape.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/SpreadsheetFileJSON.h"

using tabulo::SpreadsheetFile;
using tabulo::SpreadsheetFileJSON;

namespace {

void checkInvariants(const SpreadsheetFile& file) {
  if (file.contents.empty()) std::abort();
  size_t width = file.contents[0].size();
  if (width == 0) std::abort();
  for (const auto& row : file.contents) {
    if (row.size() != width) std::abort();
  }
  if (file.rowHeights.size() != file.contents.size() || file.columnWidths.size() != width) std::abort();
  for (const auto& range : file.mergedRanges) {
    if (range.topRow() < 0 || range.leftColumn() < 0 || range.bottomRow() >= static_cast<int64_t>(file.contents.size()) ||
        range.rightColumn() >= static_cast<int64_t>(width)) {
      std::abort();
    }
  }
}

bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view json(reinterpret_cast<const char*>(data), size);
  auto elements = SpreadsheetFileJSON::scanArray(json);
  auto files = SpreadsheetFileJSON::decodeArray(json);
  if (!files) return 0;
  for (const SpreadsheetFile& file : *files) checkInvariants(file);
  if (elements) {
    if (elements->size() != files->size()) std::abort();
    for (size_t i = 0; i < files->size(); ++i) {
      const auto& span = (*elements)[i].span;
      auto alone = SpreadsheetFileJSON::decode(json.substr(span.begin, span.end - span.begin));
      if ((*elements)[i].uuid != (*files)[i].uuid || !alone || alone->uuid != (*files)[i].uuid) std::abort();
    }
  }
  auto encoded = SpreadsheetFileJSON::encodeArray(*files);
  if (!encoded) std::abort();
  if (!SpreadsheetFileJSON::scanArray(*encoded)) {
    bool escapedUUID = false;
    for (const SpreadsheetFile& file : *files) {
      for (unsigned char c : file.uuid) escapedUUID = escapedUUID || c < 0x20 || c == '"' || c == '\\';
    }
    if (!escapedUUID) std::abort();
  }
  auto again = SpreadsheetFileJSON::decodeArray(*encoded);
  if (!again || again->size() != files->size()) std::abort();
  for (size_t i = 0; i < files->size(); ++i) {
    const SpreadsheetFile& a = (*files)[i];
    const SpreadsheetFile& b = (*again)[i];
    if (a.uuid != b.uuid || a.title != b.title || a.mergedRanges != b.mergedRanges ||
        std::bit_cast<uint64_t>(a.creationDate) != std::bit_cast<uint64_t>(b.creationDate) ||
        !sameFloats(a.rowHeights, b.rowHeights) || !sameFloats(a.columnWidths, b.columnWidths) ||
        a.contents.size() != b.contents.size()) {
      std::abort();
    }
    for (size_t r = 0; r < a.contents.size(); ++r) {
      for (size_t c = 0; c < a.contents[r].size(); ++c) {
        const auto& x = a.contents[r][c];
        const auto& y = b.contents[r][c];
        if (x.text != y.text || x.textAlignment != y.textAlignment || x.imagePath != y.imagePath ||
            !sameFloats({x.textColor.red, x.textColor.green, x.textColor.blue, x.cellColor.red, x.cellColor.green,
                         x.cellColor.blue},
                        {y.textColor.red, y.textColor.green, y.textColor.blue, y.cellColor.red, y.cellColor.green,
                         y.cellColor.blue})) {
          std::abort();
        }
      }
    }
  }
  return 0;
}
