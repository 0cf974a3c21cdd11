// Decodes arbitrary bytes as the document store's JSON array and as one
// document, with the reader and with the store's earlier reader (the
// reference): both must give the same documents, or both refuse for the same
// reason, and each document's span must decode alone to it. Decoding must not
// crash; a decoded array must satisfy the document invariants, encode again,
// and decode from that encoding to the same documents bit for bit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/SpreadsheetFileJSON.h"
#include "tests/app/ReferenceDocumentDecoder.h"

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

void agreeWithReference(std::string_view json, bool single) {
  const std::string difference = tabulo::testing::differenceFromReference(json, single);
  if (difference.empty()) return;
  std::fprintf(stderr, "%s\n", difference.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view json(reinterpret_cast<const char*>(data), size);
  agreeWithReference(json, false);
  agreeWithReference(json, true);
  auto files = SpreadsheetFileJSON::decodeArray(json);
  if (!files) return 0;
  for (const SpreadsheetFile& file : *files) checkInvariants(file);
  auto encoded = SpreadsheetFileJSON::encodeArray(*files);
  if (!encoded) std::abort();
  auto again = SpreadsheetFileJSON::decodeArray(*encoded);
  if (!again || again->size() != files->size()) std::abort();
  for (size_t i = 0; i < files->size(); ++i) {
    if (!tabulo::testing::identical((*files)[i], (*again)[i])) std::abort();
  }
  return 0;
}
