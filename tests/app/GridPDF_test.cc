// The grid rendered as PDF, read back with poppler-utils (pdfinfo, pdftotext,
// pdftoppm).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "AppTestSupport.h"
#include "GridTestSupport.h"
#include "app/SpreadsheetDataSource.h"

// fontconfig leaks a few bytes while it parses its configuration files, once
// per process; that is not ours to fix, so the leak checker is told to skip it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace tabulo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

// `text` with every run of blanks cut to one blank.
std::string squeezed(const std::string& text) {
  std::string result;
  for (char ch : text) {
    if (ch == ' ' && !result.empty() && result.back() == ' ') continue;
    result.push_back(ch);
  }
  return result;
}

size_t occurrences(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
  size_t count = 0;
  for (auto it = haystack.begin();
       (it = std::search(it, haystack.end(), needle.begin(), needle.end())) != haystack.end(); ++it) {
    ++count;
  }
  return count;
}

class GridPDFTest : public ::testing::Test {
 protected:
  GridPDFTest() : file("Sheet", clock) {}

  // Renders `file` and writes the PDF to the temporary directory.
  std::filesystem::path render() {
    auto grid = std::make_shared<platform::SpreadsheetView>();
    auto dataSource = SpreadsheetDataSource::make(grid, file, fileSystem, std::make_shared<ImageFetcher>());
    platform::Error error;
    std::optional<std::vector<uint8_t>> data = grid->pdfData(&error);
    EXPECT_TRUE(data) << error.toString();
    pdf = data.value_or(std::vector<uint8_t>{});
    std::filesystem::path path = directory.path() / "grid.pdf";
    testing::writeBytes(path, pdf);
    return path;
  }

  static std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

  platform::ManualClock clock;
  SpreadsheetFile file;
  testing::TemporaryDirectory directory;
  std::shared_ptr<platform::FileSystem> fileSystem = std::make_shared<platform::FileSystem>(directory.path());
  std::vector<uint8_t> pdf;
};

TEST_F(GridPDFTest, DefaultGridPageHasTheGridsSizeAndItsTexts) {
  file.contents[2][2].text = "Total";
  file.contents[3][4].text = "42";
  file.contents[3][4].textAlignment = TextAlignment::right;
  std::filesystem::path path = render();

  std::string info = squeezed(testing::run("pdfinfo " + quoted(path)));
  EXPECT_THAT(info, HasSubstr("Pages: 1\n"));
  EXPECT_THAT(info, HasSubstr("Page size: 450 x 140 pts"));
  EXPECT_THAT(words(testing::run("pdftotext -layout " + quoted(path) + " -")),
              ElementsAre("A", "B", "C", "D", "1", "2", "Total", "3", "42", "4"));
}

TEST_F(GridPDFTest, MergedBlockIsDrawnOnceAndPhotosAreEmbeddedAsTheirJPEGBytes) {
  std::vector<uint8_t> red = testing::makeJPEG(20, 20, {255, 0, 0});
  testing::writeBytes(directory.path() / "red.jpg", red);
  file.contents[1][1].text = "Merged";
  file.contents[1][1].textAlignment = TextAlignment::center;
  file.contents[1][4].cellColor = {0, 0, 1};
  file.contents[3][3].imagePath = "red.jpg";
  file.contents[4][1].imagePath = "red.jpg";
  file.mergedRanges = {platform::CellRange({1, 1}, {2, 2})};
  std::filesystem::path path = render();

  // The photo shown twice is embedded once, byte for byte.
  EXPECT_EQ(occurrences(pdf, red), 1u);
  EXPECT_THAT(words(testing::run("pdftotext " + quoted(path) + " -")), ::testing::Contains("Merged"));

  // Rasterised at 144 dpi: 2 pixels per point.
  testing::run("pdftoppm -r 144 -png " + quoted(path) + " " + quoted(directory.path() / "png"));
  testing::run("pdftoppm -r 144 " + quoted(path) + " " + quoted(directory.path() / "ppm"));
  testing::PPM image = testing::readPPM(directory.path() / "ppm-1.ppm");
  ASSERT_EQ(image.width, 900);
  ASSERT_EQ(image.height, 280);
  auto at = [&](double x, double y) { return image.at(static_cast<int>(x * 2), static_cast<int>(y * 2)); };
  EXPECT_TRUE(testing::near(at(10, 10), {235, 235, 235}));   // corner gray
  EXPECT_TRUE(testing::near(at(150, 25), {255, 255, 255}));  // no column line inside the block
  EXPECT_TRUE(testing::near(at(100, 50), {255, 255, 255}));  // no row line inside the block
  EXPECT_TRUE(testing::near(at(400, 25), {0, 0, 255}));      // body fill
  EXPECT_TRUE(testing::near(at(300, 95), {255, 0, 0}));      // the photo, fitted in its cell
  EXPECT_TRUE(testing::near(at(260, 95), {255, 255, 255}));  // beside the fitted photo
}

TEST_F(GridPDFTest, GridLargerThanAPageIsTiledOverSeveralPages) {
  file.columnWidths[4] = 19650;  // the content is 20,000 points wide
  file.contents[1][4].text = "Far";
  file.contents[1][4].textAlignment = TextAlignment::right;
  std::filesystem::path path = render();

  std::string info = squeezed(testing::run("pdfinfo -f 1 -l 2 " + quoted(path)));
  EXPECT_THAT(info, HasSubstr("Pages: 2\n"));
  EXPECT_THAT(info, HasSubstr("Page 1 size: 14400 x 140 pts"));
  EXPECT_THAT(info, HasSubstr("Page 2 size: 5600 x 140 pts"));
  EXPECT_THAT(words(testing::run("pdftotext -f 2 -l 2 " + quoted(path) + " -")), ElementsAre("Far"));
}

}  // namespace
}  // namespace tabulo
