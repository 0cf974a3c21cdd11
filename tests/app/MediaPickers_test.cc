// The media adapters: how each configures its platform controller, and the
// completion, cancel and failure paths of their coordinators; the video view's
// layer following the view's size.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppConsole.h"
#include "app/CameraPicker.h"
#include "app/DocumentScanner.h"
#include "app/ImagePicker.h"
#include "app/VideoPlayerView.h"

namespace tabulo {
namespace {

using Picker = platform::ImagePickerController;
using URLs = std::vector<std::string>;

// What a picker's closures heard.
struct Outcome {
  std::vector<URLs> completions;
  int dismissals = 0;
};

template <typename Adapter>
Adapter makeAdapter(Outcome& outcome) {
  Adapter adapter;
  adapter.onComplete = [&outcome](const URLs& urls) { outcome.completions.push_back(urls); };
  adapter.onDismiss = [&outcome] { ++outcome.dismissals; };
  return adapter;
}

TEST(MediaPickersTest, ImagePickerChoosesImagesFromTheLibrary) {
  auto ui = platform::UIEnvironment::makeHeadless();
  Outcome outcome;
  ImagePicker adapter = makeAdapter<ImagePicker>(outcome);
  auto coordinator = adapter.makeCoordinator();
  auto picker = adapter.makeUIViewController(ui.environment, coordinator);
  EXPECT_EQ(picker->sourceType, Picker::SourceType::photoLibrary);
  EXPECT_EQ(picker->mediaTypes, std::vector<std::string>{"public.image"});
  EXPECT_EQ(picker->delegate.lock(), coordinator);
}

TEST(MediaPickersTest, CameraPickerRecordsAShortHighQualityVideo) {
  auto ui = platform::UIEnvironment::makeHeadless();
  Outcome outcome;
  CameraPicker adapter = makeAdapter<CameraPicker>(outcome);
  auto coordinator = adapter.makeCoordinator();
  auto picker = adapter.makeUIViewController(ui.environment, coordinator);
  EXPECT_EQ(picker->mediaTypes, std::vector<std::string>{"public.movie"});
  EXPECT_EQ(picker->sourceType, Picker::SourceType::camera);
  EXPECT_EQ(picker->cameraCaptureMode, Picker::CameraCaptureMode::video);
  EXPECT_EQ(picker->videoMaximumDuration, 5.0);
  EXPECT_EQ(picker->videoQuality, Picker::QualityType::high);
  EXPECT_EQ(picker->delegate.lock(), coordinator);
}

TEST(MediaPickersTest, AFinishedPickHandsBackOneAddressOrNone) {
  const std::string image = "file:///tmp/picked/IMG_0001.jpeg";
  const std::string movie = "file:///tmp/picked/capture.mov";
  struct Case {
    const char* name;
    platform::PickedMediaInfo info;
    URLs expected;
  };
  const Case cases[] = {
      {"image URL", {{platform::kImagePickerControllerImageURL, image}}, {image}},
      {"media URL", {{platform::kImagePickerControllerMediaURL, movie}}, {movie}},
      {"both: the image URL wins",
       {{platform::kImagePickerControllerImageURL, image}, {platform::kImagePickerControllerMediaURL, movie}},
       {image}},
      {"neither", {{platform::kImagePickerControllerMediaType, std::string("public.image")}}, {}},
      {"image bytes under the image URL key",
       {{platform::kImagePickerControllerImageURL, platform::EncodedImage{{0xFF, 0xD8}}},
        {platform::kImagePickerControllerMediaURL, movie}},
       {movie}},
      {"text without a scheme", {{platform::kImagePickerControllerImageURL, std::string("IMG_0001.jpeg")}}, {}},
      {"empty result", {}, {}},
  };
  auto ui = platform::UIEnvironment::makeHeadless();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome imageOutcome, cameraOutcome;
    ImagePicker imageAdapter = makeAdapter<ImagePicker>(imageOutcome);
    CameraPicker cameraAdapter = makeAdapter<CameraPicker>(cameraOutcome);
    auto imageCoordinator = imageAdapter.makeCoordinator();
    auto cameraCoordinator = cameraAdapter.makeCoordinator();
    imageAdapter.makeUIViewController(ui.environment, imageCoordinator)->pick(c.info);
    cameraAdapter.makeUIViewController(ui.environment, cameraCoordinator)->pick(c.info);
    for (const Outcome* outcome : {&imageOutcome, &cameraOutcome}) {
      EXPECT_EQ(outcome->completions, std::vector<URLs>{c.expected});
      EXPECT_EQ(outcome->dismissals, 0);
    }
  }
}

TEST(MediaPickersTest, CancellingCallsOnDismissOnly) {
  auto ui = platform::UIEnvironment::makeHeadless();
  Outcome imageOutcome, cameraOutcome;
  ImagePicker imageAdapter = makeAdapter<ImagePicker>(imageOutcome);
  CameraPicker cameraAdapter = makeAdapter<CameraPicker>(cameraOutcome);
  auto imageCoordinator = imageAdapter.makeCoordinator();
  auto cameraCoordinator = cameraAdapter.makeCoordinator();
  auto imagePicker = imageAdapter.makeUIViewController(ui.environment, imageCoordinator);
  auto cameraPicker = cameraAdapter.makeUIViewController(ui.environment, cameraCoordinator);
  // The renderer's cancel button, and the host's cancel.
  ASSERT_TRUE(imagePicker->performAction("imagePicker.cancel"));
  cameraPicker->cancel();
  for (const Outcome* outcome : {&imageOutcome, &cameraOutcome}) {
    EXPECT_EQ(outcome->dismissals, 1);
    EXPECT_TRUE(outcome->completions.empty());
  }
  // The adapters never close the picker themselves.
  EXPECT_TRUE(ui.presenter->records().empty());
}

TEST(MediaPickersTest, APickerWhoseCoordinatorIsGoneReportsNothing) {
  auto ui = platform::UIEnvironment::makeHeadless();
  Outcome outcome;
  ImagePicker adapter = makeAdapter<ImagePicker>(outcome);
  auto coordinator = adapter.makeCoordinator();
  auto picker = adapter.makeUIViewController(ui.environment, coordinator);
  coordinator.reset();
  picker->pick({{platform::kImagePickerControllerImageURL, std::string("file:///a.jpeg")}});
  picker->cancel();
  EXPECT_TRUE(outcome.completions.empty());
  EXPECT_EQ(outcome.dismissals, 0);
}

TEST(MediaPickersTest, DocumentScannerReportsScanCancelAndFailure) {
  auto ui = platform::UIEnvironment::makeHeadless();
  std::vector<std::optional<platform::DocumentCameraScan>> scans;
  int dismissals = 0;
  DocumentScanner adapter;
  adapter.onDismiss = [&] { ++dismissals; };
  adapter.onComplete = [&](const std::optional<platform::DocumentCameraScan>& scan) { scans.push_back(scan); };
  auto coordinator = adapter.makeCoordinator();
  auto camera = adapter.makeUIViewController(ui.environment, coordinator);
  EXPECT_EQ(camera->delegate.lock(), coordinator);

  // A finished scan from the renderer: page images as bytes; other entries are no pages.
  platform::Array pages{platform::Bytes{0xFF, 0xD8, 0x01}, platform::Object("not a page"), platform::Bytes{0x89}};
  ASSERT_TRUE(camera->performAction("documentCamera.finish", pages));
  ASSERT_EQ(scans.size(), 1u);
  ASSERT_TRUE(scans[0].has_value());
  EXPECT_EQ(scans[0]->pageCount(), 2u);
  EXPECT_EQ(scans[0]->pages[1].bytes, (std::vector<uint8_t>{0x89}));

  camera->cancel();
  EXPECT_EQ(dismissals, 1);
  EXPECT_EQ(scans.size(), 1u);

  ScopedConsoleCapture console;
  camera->fail(platform::Error("VNDocumentCamera", 1, "The camera is not available."));
  EXPECT_EQ(console.lines(), std::vector<std::string>{"ERROR: The camera is not available."});
  ASSERT_EQ(scans.size(), 2u);
  EXPECT_FALSE(scans[1].has_value());
  EXPECT_EQ(dismissals, 1);
}

TEST(MediaPickersTest, PlayerLayerTakesTheViewsBoundsAtEachLayoutPass) {
  PlayerUIView view(platform::Rect{20, 40, 320, 180});
  view.layoutSubviews();
  EXPECT_EQ(view.playerLayer().frame(), (platform::Rect{0, 0, 320, 180}));

  view.setFrame(platform::Rect{0, 0, 640, 360});
  EXPECT_EQ(view.playerLayer().frame(), (platform::Rect{0, 0, 320, 180}));  // until the next pass
  view.layoutSubviews();
  EXPECT_EQ(view.playerLayer().frame(), (platform::Rect{0, 0, 640, 360}));
}

}  // namespace
}  // namespace tabulo
