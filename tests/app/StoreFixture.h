// The documents of the stored-array fixture (store_fixture.json): the bytes
// that the earlier JSON encoder wrote for them are kept in that file, so that
// both directions stay checked: what was stored before reads back as these
// documents, and these documents are stored as exactly those bytes.
#pragma once

#include <limits>
#include <vector>

#include "app/SpreadsheetFile.h"

namespace tabulo::testing {

inline std::vector<SpreadsheetFile> storeFixtureDocuments() {
  std::vector<SpreadsheetFile> files;
  platform::ManualClock clock(kReferenceDateOffsetFrom1970 + 100);

  SpreadsheetFile plain("Budget", clock);
  plain.uuid = "5E1C2B3A-0000-4000-8000-000000000001";
  files.push_back(plain);

  SpreadsheetFile awkward("Quarterly \"numbers\", ünïcødé ✓ \\ /", clock);
  awkward.uuid = "5E1C2B3A-0000-4000-8000-000000000002";
  awkward.creationDate = 786'000'123.456789;
  auto& cell = awkward.contents[1][1];
  cell.text = std::string("line\nbreak, \"quoted\" \t \b \f \r \\ ") + '\x01' + '\x1f' + '\x7f' + " 😀";
  cell.textAlignment = TextAlignment::right;
  cell.textColor = {0.1f, 1.0f / 3.0f, std::numeric_limits<float>::denorm_min()};
  cell.cellColor = {-0.0f, std::numeric_limits<float>::max(), 0.7f};
  cell.imagePath = "0F3C2B1A-1111-4222-8333-444455556666.jpg";
  awkward.contents[2][3].textAlignment = TextAlignment::center;
  awkward.contents[3][4].textColor = {0.123456789f, 16777217.0f, 1e30f};
  awkward.rowHeights[2] = 33.333333f;
  awkward.rowHeights[3] = 1e20f;
  awkward.columnWidths[1] = 1e-7f;
  awkward.columnWidths[2] = -0.0f;
  awkward.mergedRanges = {platform::CellRange({1, 1}, {2, 3}), platform::CellRange({4, 4}, {3, 2})};
  files.push_back(awkward);

  SpreadsheetFile imported("report.final", {{"a", "b", "c"}, {"", "1e5", "-0"}}, clock);
  imported.uuid = "5E1C2B3A-0000-4000-8000-000000000003";
  imported.creationDate = -1234.5;
  files.push_back(imported);

  SpreadsheetFile late("Late", clock);
  late.uuid = "5E1C2B3A-0000-4000-8000-000000000004";
  late.creationDate = 1e17;
  late.contents[4][4].text = "日本語のテキスト";
  files.push_back(late);
  return files;
}

}  // namespace tabulo::testing
