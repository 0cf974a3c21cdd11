// Rendering a 200 by 50 grid with 500 merged blocks and text in every cell to
// PDF, through the data source and the grid view.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "app/SpreadsheetDataSource.h"

namespace tabulo {
namespace {

SpreadsheetFile largeGrid() {
  platform::ManualClock clock;
  std::vector<std::vector<std::string>> rows(199, std::vector<std::string>(49));
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) rows[r][c] = "R" + std::to_string(r + 1) + "C" + std::to_string(c + 1);
  }
  SpreadsheetFile file("Large", rows, clock);  // 200 rows and 50 columns with the headers
  // 500 disjoint 2 by 3 blocks: 12 across, one band every third row.
  for (int64_t i = 0; i < 500; ++i) {
    int64_t row = 1 + (i / 12) * 3;
    int64_t column = 1 + (i % 12) * 4;
    file.mergedRanges.emplace_back(platform::Location{row, column}, platform::Location{row + 1, column + 2});
  }
  return file;
}

void BM_RenderGridPDF(benchmark::State& state) {
  auto fileSystem = std::make_shared<platform::FileSystem>(std::filesystem::temp_directory_path());
  auto grid = std::make_shared<platform::SpreadsheetView>();
  auto dataSource = SpreadsheetDataSource::make(grid, largeGrid(), fileSystem, std::make_shared<ImageFetcher>());
  size_t bytes = 0;
  for (auto _ : state) {
    std::optional<std::vector<uint8_t>> pdf = grid->pdfData();
    if (!pdf) {
      state.SkipWithError("rendering failed");
      break;
    }
    bytes = pdf->size();
    benchmark::DoNotOptimize(pdf->data());
  }
  state.counters["pdf_bytes"] = static_cast<double>(bytes);
  state.counters["laid_out_blocks"] = static_cast<double>(grid->laidOutMergedCells().size());
}
BENCHMARK(BM_RenderGridPDF)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tabulo
