// The sheet editor driven as a user drives it: taps on cells, bar items, menu
// entries, popup controls and alert actions, over a headless UI.
#include "app/SheetEditorViewController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "EditorTestSupport.h"
#include "app/AddCellsPopupViewController.h"
#include "app/CellEditorPopup.h"
#include "app/HeaderCellPopupViewController.h"
#include "app/SpreadsheetFileJSON.h"
#include "platform/ui/ActivityViewController.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/ColorPickerViewController.h"
#include "platform/ui/ImagePickerController.h"

namespace tabulo {
namespace {

using platform::AlertController;
using platform::IndexPath;
using platform::ViewColor;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class SheetEditorTest : public testing::EditorFixture {
 protected:
  // The raw JSON array stored under "Persisted_Files".
  nlohmann::json storedJSON() const {
    auto value = defaults->disk.find(SpreadsheetPersistance::storageKey);
    if (value == defaults->disk.end() || !value->second.bytesValue()) return nullptr;
    const platform::Bytes& bytes = *value->second.bytesValue();
    return nlohmann::json::parse(bytes.begin(), bytes.end());
  }
  std::shared_ptr<AlertController> alert() const { return presented<AlertController>(); }
};

TEST_F(SheetEditorTest, OpensWithTheTitleBackItemSheetOptionsMenuAndSelectItem) {
  open(document);
  const platform::NavigationItem& item = host->navigationItem();
  EXPECT_EQ(item.title, "Budget");
  EXPECT_TRUE(item.hidesBackButton);
  ASSERT_EQ(item.leftBarButtonItems.size(), 1u);
  EXPECT_EQ(item.leftBarButtonItems[0]->systemImage(), "chevron.left");
  EXPECT_EQ(item.leftBarButtonItems[0]->symbolConfiguration(), (platform::SymbolConfiguration{16, 5}));
  EXPECT_EQ(item.leftBarButtonItems[0]->style(), platform::BarButtonItem::Style::done);
  ASSERT_EQ(item.rightBarButtonItems.size(), 2u);
  EXPECT_EQ(item.rightBarButtonItems[0]->systemImage(), "list.bullet");
  EXPECT_EQ(item.rightBarButtonItems[1], editor->selectionButton());
  EXPECT_EQ(editor->selectionButton()->title(), "Select");
  EXPECT_EQ(editor->selectionButton()->style(), platform::BarButtonItem::Style::plain);

  const platform::Menu& menu = *item.rightBarButtonItems[0]->menu();
  EXPECT_EQ(menu.title, "Sheet Options");
  EXPECT_EQ(menu.options, platform::Menu::displayInline);
  const platform::ViewNode tree = menu.snapshot("menu", "");
  std::vector<std::string> entries;
  for (const auto& child : tree.children) {
    entries.push_back(*child.text + (child.properties.count("image") ? " " + child.properties.at("image") : ""));
    for (const auto& inner : child.children) entries.push_back("  " + *inner.text + " " + inner.properties.at("image"));
  }
  EXPECT_THAT(entries, ElementsAre("Add Rows arrow.down", "Add Columns arrow.forward", "File Options",
                                   "  Save square.and.arrow.down", "  Export as .CSV tablecells",
                                   "  Export as .PDF doc.plaintext"));
  const platform::MenuAction* save = menu.find({"File Options", "Save"});
  ASSERT_TRUE(save);
  EXPECT_EQ(save->state, platform::MenuAction::State::off);
  EXPECT_FALSE(save->identifier);

  // The grid shows the default document; the selection bar is hidden.
  const platform::ViewNode screen = navigation->snapshot();
  const platform::ViewNode* grid = screen.find("spreadSheetView");
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->properties.at("rows"), "5");
  EXPECT_EQ(grid->find("0,1")->text, "A");
  EXPECT_EQ(grid->find("4,0")->text, "4");
  EXPECT_TRUE(screen.find("selectMenu")->hidden);
  EXPECT_EQ(screen.find("navigationBar")->text, "Budget");
}

TEST_F(SheetEditorTest, EditsABodyCellWithTextAlignmentColoursAndPhotoThenSaves) {
  open(document);
  EXPECT_EQ(tap(2, 3), "Selected: [3, 2]!\n");
  auto popup = presented<CellEditorPopup>();
  ASSERT_TRUE(popup);
  const auto& record = ui.presenter->records().back();
  EXPECT_EQ(record.presentationStyle, platform::ModalPresentationStyle::overCurrentContext);
  EXPECT_EQ(record.transitionStyle, platform::ModalTransitionStyle::crossDissolve);
  EXPECT_TRUE(record.animated);
  EXPECT_FALSE(record.hadCompletion);
  EXPECT_TRUE(popup->cardTextField.isFirstResponder());
  EXPECT_EQ(popup->cardTextField.placeholder, "Cell content");
  EXPECT_EQ(popup->alignLeftImageView.tintColor, ViewColor::link());
  EXPECT_EQ(popup->alignRightImageView.tintColor, ViewColor::black());

  // Text, alignment (with a light haptic tap) and both colours.
  ASSERT_TRUE(popup->performAction("cardTextField", std::string("Total")));
  ui.haptics->events.clear();
  popup->alignRightTapped();
  EXPECT_THAT(ui.haptics->events, ElementsAre(platform::RecordingHapticEngine::Event{
                                      platform::RecordingHapticEngine::Event::Kind::impact, platform::ImpactStyle::light}));
  EXPECT_EQ(popup->alignRightImageView.tintColor, ViewColor::link());
  EXPECT_EQ(popup->alignLeftImageView.tintColor, ViewColor::black());

  popup->textColorTapped();
  auto picker = std::dynamic_pointer_cast<platform::ColorPickerViewController>(popup->presentedViewController());
  ASSERT_TRUE(picker);
  EXPECT_FALSE(picker->supportsAlpha);
  EXPECT_EQ(picker->selectedColor, ViewColor::black());
  picker->pick({0.5, 0, 0, 1}, true);
  picker->pick({1, 0, 0, 0.2}, false);  // the last pick counts; alpha is dropped
  ::testing::internal::CaptureStdout();
  picker->finish();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Finished!\n");
  EXPECT_FALSE(popup->presentedViewController());
  EXPECT_EQ(popup->textColorIndicatorView.backgroundColor, (ViewColor{1, 0, 0, 1}));
  popup->cellColorTapped();
  picker = std::dynamic_pointer_cast<platform::ColorPickerViewController>(popup->presentedViewController());
  ASSERT_TRUE(picker);
  EXPECT_EQ(picker->selectedColor, ViewColor::white());
  picker->pick({0, 0, 1, 1}, false);
  picker->finish();

  // A PNG photo becomes a JPEG file named by a new UUID.
  popup->addPhotoTapped();
  auto photos = std::dynamic_pointer_cast<platform::ImagePickerController>(popup->presentedViewController());
  ASSERT_TRUE(photos);
  EXPECT_EQ(photos->sourceType, platform::ImagePickerController::SourceType::photoLibrary);
  EXPECT_THAT(photos->mediaTypes, ElementsAre("public.image"));
  photos->pickImage(testing::makePNG(30, 20, 0, 1, 0));
  EXPECT_FALSE(popup->presentedViewController());
  ASSERT_TRUE(popup->imagePath);
  const std::string photo = *popup->imagePath;
  EXPECT_THAT(photo, ::testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.jpg"));
  const std::string jpeg = testing::readFile(outputs() / photo);
  ASSERT_GE(jpeg.size(), 3u);
  EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");

  ::testing::internal::CaptureStdout();
  popup->applyTapped();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Content udpated: " + photo + "\n");
  EXPECT_FALSE(editor->presentedViewController());
  const SpreadsheetCellContent& cell = working().contents[2][3];
  EXPECT_EQ(cell.text, "Total");
  EXPECT_EQ(cell.textAlignment, TextAlignment::right);
  EXPECT_EQ(cell.textColor, (ColorRepresentation{1, 0, 0}));
  EXPECT_EQ(cell.cellColor, (ColorRepresentation{0, 0, 1}));
  EXPECT_EQ(cell.imagePath, photo);
  EXPECT_TRUE(store->loadFiles().empty());  // nothing stored before saving
  EXPECT_EQ(navigation->snapshot().find("2,3")->kind, "imageCell");

  menu({"File Options", "Save"});
  auto confirmation = alert();
  ASSERT_TRUE(confirmation);
  EXPECT_EQ(confirmation->title(), "Save Spreadsheet");
  EXPECT_EQ(confirmation->message(), "Budget was saved successfuly.");
  ASSERT_EQ(confirmation->actions().size(), 1u);
  EXPECT_EQ(confirmation->actions()[0].title, "OK");
  EXPECT_TRUE(confirmation->tapAction("OK"));
  EXPECT_FALSE(editor->presentedViewController());

  const nlohmann::json stored = storedJSON();
  ASSERT_TRUE(stored.is_array());
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["title"], "Budget");
  EXPECT_EQ(stored[0]["creationDate"], 5000);
  const nlohmann::json& storedCell = stored[0]["contents"][2][3];
  EXPECT_EQ(storedCell["text"], "Total");
  EXPECT_EQ(storedCell["imagePath"], photo);
  EXPECT_EQ(storedCell["textAlignment"], 2);
  testing::expectIdentical(store->loadFiles()[0], [&] {
    SpreadsheetFile expected = working();
    expected.creationDate = 5000;
    return expected;
  }());
}

TEST_F(SheetEditorTest, CancellingAPopupChangesNothing) {
  open(document);
  const SpreadsheetFile before = working();
  tap(1, 1);
  auto popup = presented<CellEditorPopup>();
  ASSERT_TRUE(popup);
  popup->performAction("cardTextField", std::string("changed"));
  popup->alignCenterTapped();
  popup->addPhotoTapped();
  std::dynamic_pointer_cast<platform::ImagePickerController>(popup->presentedViewController())
      ->pickImage(testing::makePNG(4, 4, 1, 1, 0));
  popup->requestDismiss();  // the dimmed background
  EXPECT_FALSE(editor->presentedViewController());
  EXPECT_EQ(working(), before);

  tap(0, 2);
  auto header = presented<HeaderCellPopupViewController>();
  ASSERT_TRUE(header);
  header->sliderValueChanged(400);
  header->cancelTapped();
  EXPECT_EQ(working(), before);
}

TEST_F(SheetEditorTest, ApplyKeepsTheCellsPhotoUntilANewPickAndTakesAnAbsentTextAsEmpty) {
  document.contents[1][2].text = "x";
  document.contents[1][2].imagePath = "KEEP.jpg";
  open(document);
  tap(1, 2);
  auto popup = presented<CellEditorPopup>();
  ASSERT_TRUE(popup);
  EXPECT_EQ(popup->cardTextField.text, "x");
  ASSERT_TRUE(popup->performAction("textFieldShouldReturn"));
  EXPECT_FALSE(popup->cardTextField.isFirstResponder());
  popup->cardTextField.text = std::nullopt;
  popup->applyTapped();
  EXPECT_EQ(working().contents[1][2].text, "");
  EXPECT_EQ(working().contents[1][2].imagePath, "KEEP.jpg");

  // Two picks in a row leave two files; the cell takes the second.
  tap(1, 2);
  popup = presented<CellEditorPopup>();
  std::vector<std::string> names;
  for (int i = 0; i < 2; ++i) {
    popup->addPhotoTapped();
    std::dynamic_pointer_cast<platform::ImagePickerController>(popup->presentedViewController())
        ->pickImage(testing::makePNG(2, 2, 1, 0, 1));
    names.push_back(popup->imagePath.value_or(""));
  }
  popup->applyTapped();
  EXPECT_NE(names[0], names[1]);
  EXPECT_TRUE(std::filesystem::exists(outputs() / names[0]));
  EXPECT_TRUE(std::filesystem::exists(outputs() / names[1]));
  EXPECT_EQ(working().contents[1][2].imagePath, names[1]);
}

TEST_F(SheetEditorTest, PhotosThatCannotBeKeptLeaveThePreviousPhotoAndSaySo) {
  document.contents[1][1].imagePath = "OLD.jpg";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool breakDirectory;
  } cases[] = {
      {"not an image", {'G', 'I', 'F', '8', '9', 'a', 1, 2}, false},
      {"damaged JPEG", {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 9, 9}, false},
      {"damaged PNG", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}, false},
      {"unwritable outputs", testing::makePNG(4, 4, 0, 0, 1), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fileSystem->createDirectoriesIfNeeded();
    open(document);
    tap(1, 1);
    auto popup = presented<CellEditorPopup>();
    ASSERT_TRUE(popup);
    if (c.breakDirectory) breakOutputs();
    popup->addPhotoTapped();
    std::dynamic_pointer_cast<platform::ImagePickerController>(popup->presentedViewController())->pickImage(c.bytes);
    EXPECT_EQ(popup->imagePath, "OLD.jpg");
    auto failure = std::dynamic_pointer_cast<AlertController>(popup->presentedViewController());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->title(), "Photo not added");
    EXPECT_THAT(*failure->message(), HasSubstr("keeps its previous one"));
    failure->tapAction("OK");
    if (!c.breakDirectory) {
      EXPECT_TRUE(std::filesystem::is_empty(outputs()));
    } else {
      std::filesystem::remove(outputs());
    }
    popup->applyTapped();
    EXPECT_EQ(working().contents[1][1].imagePath, "OLD.jpg");
    navigation->popViewController(false);
  }
}

TEST_F(SheetEditorTest, PickerResultsWithoutAnImageChangeNothing) {
  open(document);
  tap(1, 1);
  auto popup = presented<CellEditorPopup>();
  const std::vector<platform::PickedMediaInfo> results = {
      {},
      {{platform::kImagePickerControllerMediaType, std::string("public.movie")}},
      {{platform::kImagePickerControllerOriginalImage, std::string("not an image")}},
  };
  for (const auto& result : results) {
    popup->addPhotoTapped();
    auto picker = std::dynamic_pointer_cast<platform::ImagePickerController>(popup->presentedViewController());
    ASSERT_TRUE(picker);
    picker->pick(result);
    EXPECT_FALSE(popup->presentedViewController());  // dismissed, no alert
    EXPECT_FALSE(popup->imagePath);
  }
  popup->addPhotoTapped();
  std::dynamic_pointer_cast<platform::ImagePickerController>(popup->presentedViewController())->cancel();
  EXPECT_FALSE(popup->presentedViewController());
  EXPECT_TRUE(std::filesystem::is_empty(outputs()));
}

TEST_F(SheetEditorTest, PickedColourComponentsAreClampedAndNonFiniteOnesIgnored) {
  open(document);
  tap(1, 1);
  auto popup = presented<CellEditorPopup>();
  popup->textColor = {0.25f, 0.5f, 0.75f};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    ViewColor picked;
    ColorRepresentation expected;
  } cases[] = {
      {{1.5, -0.5, 0.5, 1}, {1, 0, 0.5f}},
      {{nan, inf, -inf, 1}, {1, 0, 0.5f}},  // nothing finite: unchanged
      {{0.2, nan, 2, 0}, {0.2f, 0, 1}},
  };
  popup->textColorTapped();
  auto picker = std::dynamic_pointer_cast<platform::ColorPickerViewController>(popup->presentedViewController());
  for (const auto& c : cases) {
    picker->pick(c.picked, true);
    EXPECT_EQ(popup->textColor, c.expected);
    EXPECT_EQ(popup->textColorIndicatorView.backgroundColor->alpha, 1);
  }
}

TEST_F(SheetEditorTest, CornerTapOpensNothingAndHeaderTapsOpenTheHeaderPopup) {
  open(document);
  EXPECT_EQ(tap(0, 0), "Selected: [0, 0]!\n");
  EXPECT_FALSE(editor->presentedViewController());

  // A column header: the width from 50 to 1000.
  EXPECT_EQ(tap(0, 3), "Selected: [3, 0]!\n");
  auto header = presented<HeaderCellPopupViewController>();
  ASSERT_TRUE(header);
  EXPECT_EQ(header->sliderView.minimumValue, 50);
  EXPECT_EQ(header->sliderView.maximumValue, 1000);
  EXPECT_EQ(header->sliderView.value, 100);
  EXPECT_EQ(header->magnitudeLabel.text, "Width: 100");
  EXPECT_EQ(header->cardTextField.text, "C");
  ASSERT_TRUE(header->performAction("sliderValueChanged", 123.9));
  EXPECT_EQ(header->magnitudeLabel.text, "Width: 123");
  header->performAction("cardTextField", std::string("Cost"));
  header->applyTapped();
  EXPECT_FALSE(editor->presentedViewController());
  EXPECT_EQ(working().columnWidths[3], 123.9f);
  EXPECT_EQ(working().contents[0][3].text, "Cost");
  EXPECT_FLOAT_EQ(editor->spreadSheetView()->columnWidth(3), 123.9f);  // shown at once

  // A row header: the height from 20 to 400; applying without moving keeps it.
  tap(3, 0);
  header = presented<HeaderCellPopupViewController>();
  ASSERT_TRUE(header);
  EXPECT_EQ(header->sliderView.minimumValue, 20);
  EXPECT_EQ(header->sliderView.maximumValue, 400);
  EXPECT_EQ(header->magnitudeLabel.text, "Height: 30");
  header->alignCenterTapped();
  header->applyTapped();
  EXPECT_EQ(working().rowHeights[3], 30);
  EXPECT_EQ(working().contents[3][0].textAlignment, TextAlignment::center);
  tap(2, 0);
  header = presented<HeaderCellPopupViewController>();
  header->sliderValueChanged(1e9f);  // the slider keeps its range
  header->applyTapped();
  EXPECT_EQ(working().rowHeights[2], 400);
  EXPECT_FLOAT_EQ(editor->spreadSheetView()->rowHeight(2), 400);

  menu({"File Options", "Save"});
  alert()->tapAction("OK");
  const SpreadsheetFile stored = store->loadFiles().at(0);
  EXPECT_EQ(stored.columnWidths[3], 123.9f);
  EXPECT_EQ(stored.rowHeights[2], 400);
}

TEST(MagnitudeTextTest, DropsTheFractionAndSaturates) {
  const struct {
    float size;
    std::string text;
  } cases[] = {
      {123.9f, "Width: 123"},
      {-2.5f, "Width: -2"},
      {1e30f, "Width: 9223372036854775807"},
      {-1e30f, "Width: -9223372036854775808"},
      {std::numeric_limits<float>::infinity(), "Width: 9223372036854775807"},
      {std::numeric_limits<float>::quiet_NaN(), "Width: 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(magnitudeText(kWidthLabelFormat, c.size), c.text) << c.size;
  EXPECT_EQ(magnitudeText(kHeightLabelFormat, 30), "Height: 30");
}

TEST_F(SheetEditorTest, SelectionModeMergesOrClosesAndAlwaysClearsTheSelection) {
  open(document);
  editor->toggleSelection();
  EXPECT_TRUE(editor->isSelecting());
  EXPECT_FALSE(editor->selectionButton()->isEnabled());
  EXPECT_FALSE(navigation->snapshot().find("selectMenu")->hidden);
  EXPECT_TRUE(editor->spreadSheetView()->allowsMultipleSelection());
  // The Select item made at a new appearance is disabled too.
  host->beginAppearanceTransition(true, false);
  host->endAppearanceTransition();
  EXPECT_FALSE(editor->selectionButton()->isEnabled());
  EXPECT_FALSE(navigation->performAction("bar.right.1"));

  EXPECT_EQ(tap(1, 1), "Selected: [1, 1]!\n");
  EXPECT_EQ(tap(2, 3), "Selected: [3, 2]!\n");
  tap(0, 2);
  EXPECT_FALSE(editor->presentedViewController());  // taps only select
  EXPECT_TRUE(navigation->performAction("mergeCellsTapped"));
  EXPECT_THAT(working().mergedRanges, ElementsAre(platform::CellRange({1, 1}, {2, 3})));
  EXPECT_FALSE(editor->isSelecting());
  EXPECT_TRUE(editor->selectionButton()->isEnabled());
  EXPECT_TRUE(editor->spreadSheetView()->indexPathsForSelectedItems().empty());
  EXPECT_FALSE(editor->spreadSheetView()->allowsMultipleSelection());
  EXPECT_TRUE(navigation->snapshot().find("selectMenu")->hidden);
  // The hidden bar's controls cannot be reached.
  EXPECT_TRUE(navigation->performAction("mergeCellsTapped"));
  EXPECT_FALSE(editor->isSelecting());

  EXPECT_TRUE(navigation->performAction("bar.right.1"));  // "Select"
  tap(3, 3);
  tap(4, 4);
  editor->closeSelectionTapped();
  EXPECT_FALSE(editor->isSelecting());
  EXPECT_TRUE(editor->spreadSheetView()->indexPathsForSelectedItems().empty());
  EXPECT_EQ(working().mergedRanges.size(), 1u);
}

TEST_F(SheetEditorTest, AddsRowsAndColumnsThroughThePopup) {
  open(document);
  menu({"Add Rows"});
  auto rows = presented<AddCellsPopupViewController>();
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->displayMode, AddCellsDisplayMode::rows);
  EXPECT_EQ(rows->headerTitleLabel.text, "Add Rows");
  EXPECT_EQ(rows->messageLabel.text, "Select how many rows to add");
  EXPECT_EQ(ui.presenter->records().back().transitionStyle, platform::ModalTransitionStyle::crossDissolve);
  rows->addTapped();  // the first segment: one row
  EXPECT_FALSE(editor->presentedViewController());
  ASSERT_EQ(working().contents.size(), 6u);
  EXPECT_EQ(working().contents[5][0].text, "5");
  EXPECT_EQ(working().rowHeights.back(), 30);

  menu({"Add Columns"});
  auto columns = presented<AddCellsPopupViewController>();
  ASSERT_TRUE(columns);
  EXPECT_EQ(columns->headerTitleLabel.text, "Add Columns");
  EXPECT_EQ(columns->messageLabel.text, "Select how many columns to add");
  EXPECT_FALSE(columns->performAction("nothing"));
  columns->performAction("segmentChanged", int64_t{99});  // no such segment
  EXPECT_EQ(columns->selectedIndex, 0);
  columns->performAction("segmentChanged", int64_t{2});
  columns->addTapped();
  EXPECT_EQ(working().columnCount(), 8u);
  EXPECT_THAT(testing::rowTexts(working().contents[0]), ElementsAre("", "A", "B", "C", "D", "E", "F", "G"));
  EXPECT_THAT(working().columnWidths, ElementsAre(50, 100, 100, 100, 100, 100, 100, 100));
  EXPECT_EQ(editor->spreadSheetView()->numberOfColumns(), 8);

  menu({"Add Rows"});
  presented<AddCellsPopupViewController>()->performAction("segmentChanged", int64_t{3});
  presented<AddCellsPopupViewController>()->cancelTapped();
  menu({"Add Rows"});
  presented<AddCellsPopupViewController>()->requestDismiss();
  EXPECT_EQ(working().contents.size(), 6u);
}

TEST_F(SheetEditorTest, CloseAlertSavesAndLeavesClosesWithoutSavingOrStaysWhenTheSaveFails) {
  ASSERT_TRUE(store->addFile(document));
  const std::vector<SpreadsheetFile> before = store->loadFiles();
  for (const std::string choice : {"Save", "Close", "Save failing"}) {
    SCOPED_TRACE(choice);
    open(document);
    tap(1, 1);
    presented<CellEditorPopup>()->performAction("cardTextField", std::string("edited"));
    presented<CellEditorPopup>()->applyTapped();
    ASSERT_TRUE(navigation->performAction("bar.left.0"));  // the back item
    auto question = alert();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->title(), "Save current document");
    EXPECT_EQ(question->message(), "Do you want to save before closing the document?");
    ASSERT_EQ(question->actions().size(), 2u);
    EXPECT_EQ(question->actions()[0].title, "Save");
    EXPECT_EQ(question->actions()[0].style, platform::AlertAction::Style::defaultStyle);
    EXPECT_EQ(question->actions()[1].title, "Close");
    EXPECT_EQ(question->actions()[1].style, platform::AlertAction::Style::destructive);

    defaults->failSynchronize = choice == "Save failing";
    question->tapAction(choice == "Close" ? "Close" : "Save");
    if (choice == "Save failing") {
      EXPECT_EQ(navigation->topViewController(), host);
      auto failure = alert();
      ASSERT_TRUE(failure);
      EXPECT_EQ(failure->message(), "Budget could not be saved.");
      failure->tapAction("OK");
      defaults->failSynchronize = false;
      navigation->popViewController(false);
      continue;
    }
    EXPECT_NE(navigation->topViewController(), host);
    EXPECT_FALSE(editor->presentedViewController());  // no second alert
    EXPECT_EQ(navigation->history().back().kind, platform::NavigationController::Step::Kind::pop);
    EXPECT_TRUE(navigation->history().back().animated);
    const auto stored = store->loadFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].contents[1][1].text, choice == "Save" ? "edited" : before[0].contents[1][1].text);
    if (choice == "Save") {
      ASSERT_TRUE(store->saveFiles(before));
    }
  }
}

TEST_F(SheetEditorTest, AFailedSaveShowsAFailureAlert) {
  open(document);
  defaults->failSynchronize = true;
  menu({"File Options", "Save"});
  auto failure = alert();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->title(), "Save Spreadsheet");
  EXPECT_EQ(failure->message(), "Budget could not be saved.");
}

TEST_F(SheetEditorTest, ExportsReachTheShareSheetWithTheUnsavedState) {
  open(document);
  tap(1, 1);
  presented<CellEditorPopup>()->performAction("cardTextField", std::string("unsaved"));
  presented<CellEditorPopup>()->applyTapped();

  menu({"File Options", "Export as .CSV"});
  auto sheet = presented<platform::ActivityViewController>();
  ASSERT_TRUE(sheet);
  EXPECT_THAT(sheet->activityItems(), ElementsAre(outputs() / "Budget.csv"));
  EXPECT_THAT(sheet->excludedActivityTypes, ElementsAre(platform::kActivityTypeAssignToContact));
  EXPECT_FALSE(sheet->popoverPresentationController().sourceRect);  // a phone
  EXPECT_THAT(testing::readFile(outputs() / "Budget.csv"), HasSubstr("1,unsaved"));
  ::testing::internal::CaptureStdout();
  sheet->finish(std::nullopt, false);  // cancelled
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Shared!\n");
  EXPECT_FALSE(editor->presentedViewController());

  menu({"File Options", "Export as .PDF"});
  sheet = presented<platform::ActivityViewController>();
  ASSERT_TRUE(sheet);
  EXPECT_THAT(sheet->activityItems(), ElementsAre(outputs() / "Budget.pdf"));
  const std::string first = testing::readFile(outputs() / "Budget.pdf");
  EXPECT_EQ(first.substr(0, 5), "%PDF-");
  ::testing::internal::CaptureStdout();
  sheet->finish(std::string("com.apple.UIKit.activity.AirDrop"), true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Shared!\n");

  // A second export replaces the file; the name keeps the title at opening.
  testing::writeFile(outputs() / "Budget.pdf", "stale");
  menu({"File Options", "Export as .PDF"});
  EXPECT_EQ(testing::readFile(outputs() / "Budget.pdf").substr(0, 5), "%PDF-");
  presented<platform::ActivityViewController>()->finish(std::nullopt, false);
}

TEST_F(SheetEditorTest, OnAPadTheShareSheetPointsAtTheMiddleOfTheScreen) {
  ui.environment->idiom = platform::UserInterfaceIdiom::pad;
  open(document);
  editor->setViewBounds({0, 0, 800, 600});
  menu({"File Options", "Export as .CSV"});
  auto sheet = presented<platform::ActivityViewController>();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->popoverPresentationController().sourceRect, (platform::ViewRect{400, 300, 0, 0}));
  EXPECT_EQ(sheet->popoverPresentationController().sourceView.lock(), editor);
}

TEST_F(SheetEditorTest, AFailedExportShowsAnErrorAndNoShareSheet) {
  for (const std::string entry : {"Export as .CSV", "Export as .PDF"}) {
    SCOPED_TRACE(entry);
    open(document);
    breakOutputs();
    menu({"File Options", entry});
    auto failure = alert();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->title(), "Export failed");
    EXPECT_FALSE(failure->message()->empty());
    for (const auto& record : ui.presenter->records()) EXPECT_NE(record.controllerClass, "UIActivityViewController");
    failure->tapAction("OK");
    std::filesystem::remove(outputs());
    fileSystem->createDirectoriesIfNeeded();
    navigation->popViewController(false);
  }
}

TEST_F(SheetEditorTest, CallbacksArrivingAfterTheScreenIsGoneDoNothing) {
  ASSERT_TRUE(store->addFile(document));
  const std::vector<SpreadsheetFile> before = store->loadFiles();
  open(document);
  const auto menuItem = host->navigationItem().rightBarButtonItems[0];
  const auto backItem = host->navigationItem().leftBarButtonItems[0];
  const auto dataSource = editor->spreadsheetDataSource();
  tap(1, 1);
  auto popup = presented<CellEditorPopup>();
  ASSERT_TRUE(popup);
  popup->performAction("cardTextField", std::string("late"));

  // The screen goes while its popup is up.
  std::weak_ptr<SheetEditorViewController> gone = editor;
  navigation->popViewController(true);
  host.reset();
  editor.reset();
  ASSERT_TRUE(gone.expired());

  popup->applyTapped();  // no delegate: only dismisses
  menuItem->menu()->find({"File Options", "Save"})->handler();
  menuItem->menu()->find({"Add Rows"})->handler();
  menuItem->menu()->find({"File Options", "Export as .PDF"})->handler();
  backItem->tap();
  ::testing::internal::CaptureStdout();
  dataSource->didSelectItemAt(*dataSource->spreadsheetView(), {2, 2});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(store->loadFiles(), before);
  EXPECT_TRUE(std::filesystem::is_empty(outputs()));
}

TEST_F(SheetEditorTest, CloseAlertActionsAfterTheScreenIsGoneDoNothing) {
  open(document);
  editor->backTapped();
  auto question = alert();
  ASSERT_TRUE(question);
  const platform::AlertAction save = question->actions()[0];
  const platform::AlertAction close = question->actions()[1];
  std::weak_ptr<SheetEditorViewController> gone = editor;
  navigation->popViewController(false);
  host.reset();
  editor.reset();
  question.reset();
  ASSERT_TRUE(gone.expired());
  save.handler(save);
  close.handler(close);
  EXPECT_TRUE(store->loadFiles().empty());
  EXPECT_EQ(navigation->viewControllers().size(), 1u);
}

TEST_F(SheetEditorTest, SnapshotIsJSONARendererCanDrive) {
  open(document);
  tap(2, 2);
  presented<CellEditorPopup>()->performAction("cardTextField", std::string("x"));
  presented<CellEditorPopup>()->alignCenterTapped();
  const nlohmann::json popup = nlohmann::json::parse(editor->topPresentedViewController()->snapshot().toJSON());
  EXPECT_EQ(popup["properties"]["class"], "CellEditorPopup");
  const nlohmann::json tree = nlohmann::json::parse(navigation->snapshot().toJSON());
  EXPECT_EQ(tree["children"][0]["kind"], "navigationBar");
  // The renderer sends taps back by action name.
  int changes = 0;
  platform::Connection connection = editor->changed().connect([&] { ++changes; });
  ASSERT_TRUE(editor->topPresentedViewController()->performAction("applyTapped"));
  EXPECT_GT(changes, 0);
  EXPECT_EQ(working().contents[2][2].textAlignment, TextAlignment::center);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(navigation->performAction("grid.tap", platform::Dictionary{{"row", int64_t{0}}, {"section", int64_t{0}}}));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Selected: [0, 0]!\n");
  ASSERT_TRUE(navigation->performAction("bar.right.0.menu.2.0"));  // "Save"
  EXPECT_EQ(alert()->message(), "Budget was saved successfuly.");
}

}  // namespace
}  // namespace tabulo

namespace tabulo::testing {
namespace {

class LargeSheetTest : public EditorFixture {
 protected:
  // 50,000 records of 5 fields: a grid of 50,001 rows and 6 columns.
  static SpreadsheetFile largeDocument() {
    std::vector<std::vector<std::string>> rows(50'000, std::vector<std::string>(5));
    for (size_t r = 0; r < rows.size(); ++r) {
      for (size_t c = 0; c < 5; ++c) rows[r][c] = "r" + std::to_string(r + 1) + "c" + std::to_string(c + 1);
    }
    rows[49'999][0] = std::string(100'000, 'w');  // one long text near the end
    return SpreadsheetFile("Large", rows, platform::ManualClock());
  }
  std::string screenJSON() { return navigation->snapshot().toJSON(); }
  const platform::ViewNode* gridOf(const platform::ViewNode& screen) { return screen.find("spreadSheetView"); }
};

TEST_F(LargeSheetTest, TheGridReachesTheRendererAsAWindowAroundWhatItShows) {
  open(largeDocument());
  const std::string first = screenJSON();
  EXPECT_LT(first.size(), 200'000u);
  platform::ViewNode screen = navigation->snapshot();
  const platform::ViewNode* grid = gridOf(screen);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->properties.at("rows"), "50001");
  EXPECT_EQ(grid->properties.at("columns"), "6");
  EXPECT_EQ(grid->properties.at("rowHeights"), "20,30*50000");
  EXPECT_EQ(grid->properties.at("columnWidths"), "50,100*5");
  ASSERT_TRUE(grid->find("1,1"));
  EXPECT_EQ(grid->find("1,1")->text, "r1c1");
  EXPECT_FALSE(grid->find("40000,1"));

  // The page scrolls near the end: those cells come, with the header row and
  // the number column beside them; the start goes.
  const double bottom = 20 + 30 * 49'990;
  ASSERT_TRUE(editor->performAction(
      "grid.scroll", platform::Dictionary{{"x", 0.0}, {"y", bottom}, {"width", 1000.0}, {"height", 600.0}}));
  const std::string scrolled = screenJSON();
  EXPECT_LT(scrolled.size(), 200'000u);
  screen = navigation->snapshot();
  grid = gridOf(screen);
  ASSERT_TRUE(grid->find("49995,2"));
  EXPECT_EQ(grid->find("49995,2")->text, "r49995c2");
  EXPECT_EQ(grid->find("0,3")->text, "C");         // header row
  EXPECT_EQ(grid->find("49995,0")->text, "49995");  // number column
  EXPECT_EQ(grid->find("0,0")->text, "");           // corner
  EXPECT_FALSE(grid->find("1,1"));
  // A long text is cut to what its cell can show; the document keeps it whole.
  const platform::ViewNode* longCell = grid->find("50000,1");
  ASSERT_TRUE(longCell);
  EXPECT_LT(longCell->text->size(), 200u);
  EXPECT_EQ(working().contents[50000][1].text.size(), 100'000u);
  EXPECT_EQ(editor->spreadSheetView()->visibleRect(), (platform::Rect{0, bottom, 1000, 600}));

  // A tap there answers as small a screen.
  tap(49'995, 2);
  ASSERT_TRUE(presented<CellEditorPopup>());
}

TEST_F(LargeSheetTest, AViewThatIsNoRectangleIsKeptInBounds) {
  open(largeDocument());
  for (const auto& value : {platform::Dictionary{{"x", -5.0}, {"y", 1e300}, {"width", 0.0}, {"height", 1e9}},
                            platform::Dictionary{{"x", 1.0}}}) {
    editor->performAction("grid.scroll", value);
    const platform::Rect& visible = editor->spreadSheetView()->visibleRect();
    EXPECT_GE(visible.x, 0);
    EXPECT_GE(visible.width, 1);
    EXPECT_LE(visible.height, platform::SpreadsheetView::kMaxVisibleSide);
    EXPECT_LT(screenJSON().size(), 400'000u);
  }
}

}  // namespace
}  // namespace tabulo::testing
