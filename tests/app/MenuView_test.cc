#include "app/MenuView.h"

#include <cmath>

#include <gtest/gtest.h>

#include "app/FileCell.h"
#include "platform/ui/AlertController.h"

#include "tests/app/AppShellTestSupport.h"

namespace tabulo::testing {
namespace {

class MenuViewTest : public AppShellTest {
 protected:
  MenuViewTest() { setIntroShown(); }

  platform::ViewNode screen() { return menu().snapshot(); }
  const platform::ViewNode* okButton(const platform::ViewNode& tree) {
    const platform::ViewNode* alert = tree.find("newFileAlert");
    return alert ? alert->find("ok") : nullptr;
  }
};

TEST_F(MenuViewTest, AnEmptyStoreShowsTheEmptyStateAndTheImportButton) {
  launch();
  platform::ViewNode tree = screen();
  ASSERT_NE(tree.find("emptyTitle"), nullptr);
  EXPECT_EQ(tree.find("emptyTitle")->text, "No Tabulo");
  EXPECT_EQ(tree.find("emptyHint")->text, "Tap the '+' button to create a new file");
  EXPECT_EQ(tree.find("files"), nullptr);
  EXPECT_EQ(tree.find("import")->text, "Import .CSV");
  EXPECT_EQ(menu().navigationItem().title, "Tabulo");
}

TEST_F(MenuViewTest, CreatingAFileEnablesOKOnlyForATitleAndAppendsTheFile) {
  ASSERT_TRUE(store->createFile("First"));
  launch();
  ASSERT_TRUE(menu().performAction("bar.right.0"));  // "plus"
  platform::ViewNode tree = screen();
  ASSERT_NE(okButton(tree), nullptr);
  EXPECT_EQ(tree.find("newFileAlert")->text, "Create new Spreadsheet");
  EXPECT_EQ(tree.find("newFileAlert")->find("title")->placeholder, "Title");
  EXPECT_FALSE(okButton(tree)->enabled);

  struct Step {
    std::string typed;
    bool enabled;
  };
  for (const Step& step : {Step{" ", true}, Step{"", false}, Step{"B", true}, Step{"Budget", true}}) {
    SCOPED_TRACE(step.typed);
    menu().performAction("newFile.title", platform::Object(step.typed));
    EXPECT_EQ(okButton(screen())->enabled, step.enabled);
  }
  ASSERT_TRUE(menu().performAction("newFile.ok"));

  EXPECT_EQ(titles(), (std::vector<std::string>{"First", "Budget"}));
  EXPECT_EQ(model().newFileName, "");
  EXPECT_FALSE(menu().isAlertButtonActive());
  EXPECT_EQ(screen().find("newFileAlert"), nullptr);
  menu().performAction("bar.right.0");
  EXPECT_EQ(screen().find("newFileAlert")->find("title")->text, "");
  EXPECT_FALSE(okButton(screen())->enabled);
  // "OK" does nothing while it is disabled.
  menu().performAction("newFile.ok");
  EXPECT_EQ(store->loadFiles().size(), 2u);
}

TEST_F(MenuViewTest, ImportTakesOnlyTheFirstPickedFile) {
  launch();
  ASSERT_TRUE(menu().performAction("import"));
  auto picker = menu().presentedDocPicker();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker->documentTypes(), std::vector<std::string>{"public.comma-separated-values-text"});
  EXPECT_FALSE(picker->allowsMultipleSelection());
  EXPECT_EQ(picker->mode(), platform::DocumentPickerViewController::Mode::import);

  picker->pick({writeCSV("Sales.csv", "q,amount\nQ1,10\n"), writeCSV("Costs.csv", "a\n")});

  EXPECT_EQ(titles(), std::vector<std::string>{"Sales"});
  EXPECT_FALSE(model().shouldShowDocPicker);
  EXPECT_EQ(menu().presentedViewController(), nullptr);
  EXPECT_EQ(menu().presentedDocPicker(), nullptr);
}

TEST_F(MenuViewTest, CancellingOrPickingNothingImportsNothing) {
  launch();
  menu().performAction("import");
  menu().presentedDocPicker()->cancel();
  EXPECT_FALSE(model().shouldShowDocPicker);
  EXPECT_EQ(menu().presentedViewController(), nullptr);

  menu().performAction("import");
  menu().presentedDocPicker()->pick({});
  EXPECT_TRUE(model().tabulo.empty());
  EXPECT_FALSE(model().alert.has_value());
}

TEST_F(MenuViewTest, AFileThatDoesNotImportIsReportedAndChangesNothing) {
  ASSERT_TRUE(store->createFile("Kept"));
  launch();
  const int writes = defaults->synchronizeCount;
  for (auto path : {directory.path() / "missing.csv", writeCSV("empty.csv", ""), writeCSV("bad.csv", "\"open\n")}) {
    SCOPED_TRACE(path.string());
    model().openFiles({path});
    ASSERT_TRUE(model().alert.has_value());
    EXPECT_EQ(model().alert->title, "Cannot Import File");
    EXPECT_NE(model().alert->message.find(path.filename().string()), std::string::npos);
    ASSERT_NE(screen().find("errorAlert"), nullptr);
    menu().performAction("errorAlert.ok");
    EXPECT_EQ(screen().find("errorAlert"), nullptr);
  }
  EXPECT_EQ(storedTitles(), std::vector<std::string>{"Kept"});
  EXPECT_EQ(defaults->synchronizeCount, writes);
}

TEST_F(MenuViewTest, DeletingSeveralRowsRemovesExactlyThoseDocumentsInOneWrite) {
  for (const char* title : {"A", "Same", "C", "Same"}) ASSERT_TRUE(store->createFile(title));
  launch();
  std::vector<SpreadsheetFile> before = model().tabulo;
  const int writes = defaults->synchronizeCount;

  ASSERT_TRUE(menu().performAction("delete", platform::Object(platform::Array{int64_t{3}, int64_t{0}})));

  EXPECT_EQ(defaults->synchronizeCount, writes + 1);
  std::vector<SpreadsheetFile> after = store->loadFiles();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].uuid, before[1].uuid);
  EXPECT_EQ(after[1].uuid, before[2].uuid);
  EXPECT_EQ(titles(), (std::vector<std::string>{"Same", "C"}));

  // Offsets past the end are ignored; deleting the rest shows the empty state.
  menu().performAction("delete", platform::Object(platform::Array{int64_t{0}, int64_t{1}, int64_t{7}}));
  EXPECT_TRUE(store->loadFiles().empty());
  EXPECT_NE(screen().find("emptyTitle"), nullptr);
}

TEST_F(MenuViewTest, OpeningADocumentAndReturningAfterASaveShowsItLast) {
  for (const char* title : {"A", "B", "C"}) ASSERT_TRUE(store->createFile(title));
  realEditor = true;
  launch();
  ASSERT_TRUE(menu().performAction("row.1"));

  ASSERT_EQ(openedInEditor.size(), 1u);
  EXPECT_EQ(openedInEditor[0].title, "B");
  EXPECT_EQ(model().selectedFile->uuid, model().tabulo[1].uuid);
  EXPECT_TRUE(model().shouldShowCurrentFile);
  auto host = std::dynamic_pointer_cast<platform::HostingController>(app->navigation()->topViewController());
  ASSERT_NE(host, nullptr);
  auto editor = std::dynamic_pointer_cast<SheetEditorViewController>(host->hosted());
  ASSERT_NE(editor, nullptr);
  EXPECT_FALSE(menu().isVisible());

  // Edit a cell, then leave through the back item and save on the way.
  SpreadsheetCellContent content = editor->spreadsheetDataSource()->file().contents[1][1];
  content.text = "edited";
  ::testing::internal::CaptureStdout();
  editor->spreadsheetDataSource()->updateContent(content, {1, 1});
  ::testing::internal::GetCapturedStdout();
  clock->advance(60);
  ASSERT_TRUE(app->navigation()->performAction("bar.left.0"));
  auto question = std::dynamic_pointer_cast<platform::AlertController>(editor->presentedViewController());
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(question->tapAction("Save"));

  EXPECT_EQ(app->navigation()->topViewController(), app->menuView());
  EXPECT_FALSE(model().shouldShowCurrentFile);
  EXPECT_EQ(titles(), (std::vector<std::string>{"A", "C", "B"}));
  EXPECT_EQ(model().tabulo.back().contents[1][1].text, "edited");
  EXPECT_GT(model().tabulo.back().creationDate, openedInEditor[0].creationDate);
  // The row shows the time of the save.
  EXPECT_EQ(screen().find(model().tabulo.back().uuid)->find("date")->text,
            FileCell::formattedDate(model().tabulo.back().creationDate));
  EXPECT_FALSE(menu().performAction("row.3"));
}

TEST_F(MenuViewTest, SettingsAreBuiltWhenFollowedWithTheUsageDataFlagOfThatMoment) {
  launch();
  EXPECT_TRUE(settingsOpenedWith.empty());
  defaults->setBool(false, UserSettings::sendUsageDataKey);
  ASSERT_TRUE(menu().performAction("bar.left.0"));
  EXPECT_EQ(settingsOpenedWith, std::vector<bool>{false});
}

TEST_F(MenuViewTest, AnUnreadableStoreIsReportedNotShownAsEmpty) {
  defaults->setData(platform::Bytes{'n', 'o', 't', ' ', 'j', 's', 'o', 'n'}, SpreadsheetPersistance::storageKey);
  launch();
  ASSERT_TRUE(model().alert.has_value());
  EXPECT_EQ(model().alert->title, "Cannot Read Documents");
  EXPECT_NE(screen().find("errorAlert"), nullptr);
  menu().performAction("errorAlert.ok");

  // Said once, not at every return to the list.
  menu().performAction("bar.left.0");
  goBack();
  EXPECT_FALSE(model().alert.has_value());

  // A new document sets the unreadable value aside instead of writing over it.
  menu().performAction("bar.right.0");
  menu().performAction("newFile.title", platform::Object("New"));
  menu().performAction("newFile.ok");
  EXPECT_EQ(titles(), std::vector<std::string>{"New"});
  EXPECT_TRUE(defaults->objectForKey(std::string(SpreadsheetPersistance::backupKeyPrefix) + "1").has_value());
}

TEST_F(MenuViewTest, AChangeTheStoreCannotWriteIsReported) {
  launch();
  defaults->failSynchronize = true;
  model().newFileName = "Lost?";
  model().createNewFile();
  ASSERT_TRUE(model().alert.has_value());
  EXPECT_EQ(model().alert->title, "Cannot Save Documents");
}

TEST(FileCellTest, ShowsTitleAndSaveTimeOnOneLineEach) {
  SpreadsheetFile file;
  file.uuid = "U";
  file.title = "";
  file.creationDate = 0;
  platform::ViewNode row = FileCell{file}.body();
  EXPECT_EQ(row.find("title")->text, "");
  EXPECT_EQ(row.find("title")->properties.at("lineLimit"), "1");
  EXPECT_EQ(row.find("date")->properties.at("lineLimit"), "1");
  EXPECT_EQ(row.find("icon")->properties.at("systemImage"), "doc.plaintext");
  EXPECT_EQ(row.find("chevron")->properties.at("systemImage"), "chevron.right");
  EXPECT_EQ(FileCell::formattedDate(std::nan("")), "");
  EXPECT_EQ(FileCell::formattedDate(1e300), "");
}

}  // namespace
}  // namespace tabulo::testing
