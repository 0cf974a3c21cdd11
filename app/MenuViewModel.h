// MenuViewModel — the state and the operations of the document list.
//
// The list never edits its own copy of the documents: creation, import and
// deletion go to the document store, and `tabulo` is then read back whole.
// Every appearance runs one step of start-of-use logic: on the very first
// launch the introduction; later a file handed over by another app, else the
// review decision; then it registers as the file opener's delegate and loads
// the documents.
//
// Problems the user must hear of are published as `alert`: a stored array
// that cannot be read (shown instead of an empty list, once per run of
// unreadable loads; when the whole preferences file could not be read, it is
// kept and nothing is stored until the person chooses "Start Over"), a picked
// or handed-over file that cannot be imported or stored, and a change that the
// store could not write.
//
// Main thread only. Made through `make` (answers go to a weak reference).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/AppFileOpener.h"
#include "app/AppServices.h"
#include "app/FeedbackRequests.h"
#include "app/Popup.h"
#include "app/SpreadsheetFile.h"

namespace tabulo {

class PopupCoordinator;

inline constexpr const char* kReviewPromptTitle = "Tabulo";
inline constexpr const char* kSupportEmailAddress = "support@halcyra.com";
inline constexpr const char* kSupportMailSubject = "Support Request for Tabulo";
inline constexpr const char* kFailedToOpenMailLine = "Failed to open mail";
inline constexpr int kLightContentStatusBarStyle = 1;
inline constexpr const char* kCannotReadDocumentsTitle = "Cannot Read Documents";
inline constexpr const char* kCannotSaveDocumentsTitle = "Cannot Save Documents";
inline constexpr const char* kCannotImportFileTitle = "Cannot Import File";
inline constexpr const char* kStartOverActionTitle = "Start Over";

// "mailto:" + address + "?subject=Support Request for Tabulo", percent-encoded
// for a URL query (spaces become %20).
std::string supportMailLink();

class MenuViewModel : public std::enable_shared_from_this<MenuViewModel>,
                      public AppFileOpenerDelegate,
                      public CanAskStoreFeedback,
                      public CanAskAppFeedback {
 public:
  struct Alert {
    std::string title;
    std::string message;
    // Besides "OK": "Start Over", which sets unreadable, kept storage aside.
    bool offersStartOver = false;
    friend bool operator==(const Alert&, const Alert&) = default;
  };

  static std::shared_ptr<MenuViewModel> make(AppServices services);

  // Set by the screen from its environment just before every onAppear.
  std::shared_ptr<PopupCoordinator> popupCoordinator;
  // Published state.
  std::vector<SpreadsheetFile> tabulo;
  std::string newFileName;
  bool shouldShowNewFileAlert = false;
  bool shouldShowCurrentFile = false;
  bool shouldShowDocPicker = false;
  std::optional<Alert> alert;
  // A copy of the document last tapped.
  std::optional<SpreadsheetFile> selectedFile;

  // Runs after every change of the published state (the screen redraws).
  std::function<void()> objectDidChange;

  void onAppear();
  void createNewFile();
  // Imports the first URL; the others are ignored.
  void openFiles(const std::vector<std::filesystem::path>& urls) override;
  // Removes the documents at the given offsets of `tabulo`, in one store write.
  void deleteFiles(const std::set<size_t>& offsets);
  // A tap on the row at `offset`: selects a copy of its document and opens it.
  void selectFile(size_t offset);
  // Closes the alert.
  void dismissAlert();
  // The alert's "Start Over": moves the unreadable storage aside, keeping it,
  // and reloads the (then empty) list, which may change again.
  void startOver();

  // The review prompt.
  void askForReview();
  void askAppFeedback() override;
  void requestStoreReview() override;
  void openSupportMail();
  // The answers of the feedbacks prompt; each does nothing once the view
  // model is gone.
  static void handlePositiveFeedback(const std::weak_ptr<MenuViewModel>& model, const AppServices& services);
  static void handleNegativeFeedback(const std::weak_ptr<MenuViewModel>& model, const AppServices& services);

  const AppServices& services() const { return services_; }

  explicit MenuViewModel(AppServices services);

 private:
  void loadFiles();
  void reportStoreWrite(bool written, const std::string& reason);
  void changed();
  Popup::Action answer(void (*handler)(const std::weak_ptr<MenuViewModel>&, const AppServices&));

  AppServices services_;
  bool reportedUnreadableStore_ = false;
};

}  // namespace tabulo
