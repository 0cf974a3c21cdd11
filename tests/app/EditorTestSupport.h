// A sheet editor opened on a navigation stack over a headless UI, with its own
// store, outputs directory and image cache, for the editor and popup tests.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/SheetEditorView.h"
#include "platform/ui/NavigationController.h"

namespace tabulo::testing {

// A `width` x `height` PNG in one opaque colour.
inline std::vector<uint8_t> makePNG(int width, int height, double red, double green, double blue) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, red, green, blue);
  cairo_paint(cr);
  cairo_destroy(cr);
  std::vector<uint8_t> png;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        auto* out = static_cast<std::vector<uint8_t>*>(closure);
        out->insert(out->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  cairo_surface_destroy(surface);
  return png;
}

class EditorFixture : public ::testing::Test {
 protected:
  EditorFixture() {
    fileSystem->createDirectoriesIfNeeded();
    navigation->setRoot(std::make_shared<platform::ViewController>(ui.environment));
    navigation->beginAppearanceTransition(true, false);
    navigation->endAppearanceTransition();
  }

  SheetEditorViewController::Collaborators collaborators() const { return {store, io, fileSystem, fetcher}; }

  // Pushes an editor for `file` the way the document list does.
  void open(const SpreadsheetFile& file) {
    host = SheetEditorView{file}.makeHost(ui.environment, collaborators());
    navigation->pushViewController(host, true);
    editor = std::static_pointer_cast<SheetEditorViewController>(host->hosted());
  }

  template <typename T>
  std::shared_ptr<T> presented() const {
    return std::dynamic_pointer_cast<T>(editor->presentedViewController());
  }

  // A user's tap on a grid position; answers what the screen printed.
  std::string tap(int64_t row, int64_t section) {
    ::testing::internal::CaptureStdout();
    editor->spreadSheetView()->tapItem({row, section});
    return ::testing::internal::GetCapturedStdout();
  }

  // Runs the "Sheet Options" entry reached through `titles`.
  void menu(const std::vector<std::string>& titles) {
    const auto& items = host->navigationItem().rightBarButtonItems;
    ASSERT_FALSE(items.empty());
    ASSERT_TRUE(items[0]->menu());
    const platform::MenuAction* action = items[0]->menu()->find(titles);
    ASSERT_TRUE(action) << titles.back();
    action->handler();
  }

  const SpreadsheetFile& working() const { return editor->spreadsheetDataSource()->file(); }
  std::filesystem::path outputs() const { return fileSystem->outputsURL(); }
  // Makes the outputs directory unwritable by putting a file in its place.
  void breakOutputs() const {
    std::filesystem::remove_all(outputs());
    writeFile(outputs(), "not a directory");
  }

  TemporaryDirectory directory;
  std::shared_ptr<platform::ManualClock> clock =
      std::make_shared<platform::ManualClock>(kReferenceDateOffsetFrom1970 + 5000);
  std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
  std::shared_ptr<SpreadsheetPersistance> store = std::make_shared<SpreadsheetPersistance>(defaults, clock);
  std::shared_ptr<platform::FileSystem> fileSystem =
      std::make_shared<platform::FileSystem>(directory.path() / "Outputs");
  std::shared_ptr<TabuloIO> io = std::make_shared<TabuloIO>(fileSystem, clock);
  std::shared_ptr<ImageFetcher> fetcher = std::make_shared<ImageFetcher>();
  platform::UIEnvironment::Headless ui = platform::UIEnvironment::makeHeadless();
  std::shared_ptr<platform::NavigationController> navigation =
      std::make_shared<platform::NavigationController>(ui.environment);
  SpreadsheetFile document{"Budget", *clock};
  std::shared_ptr<platform::HostingController> host;
  std::shared_ptr<SheetEditorViewController> editor;
};

}  // namespace tabulo::testing
