#include "app/MenuViewModel.h"

#include "app/AppConsole.h"
#include "app/BoxwellAnalytics.h"
#include "app/PopupCoordinator.h"
#include "app/TextEncoding.h"
#include "app/UserSettings.h"
#include "platform/text/PercentEncoding.h"
#include "platform/text/Utf8.h"

namespace tabulo {
namespace {

// The characters a URL query keeps as they are.
const platform::percent::AllowedSet& urlQueryAllowed() {
  static const platform::percent::AllowedSet set =
      platform::percent::AllowedSet::unreserved().adding("!$&'()*+,;=:@/?");
  return set;
}

// A file's name for a message: its bytes as UTF-8, else read as Windows-1252.
std::string displayName(const std::filesystem::path& url) {
  std::string name = url.filename().string();
  return platform::utf8::isValid(name) ? name : windows1252ToUTF8(name);
}

}  // namespace

std::string supportMailLink() {
  std::string link = std::string("mailto:") + kSupportEmailAddress + "?subject=" + kSupportMailSubject;
  return platform::percent::encode(link, urlQueryAllowed());
}

std::shared_ptr<MenuViewModel> MenuViewModel::make(AppServices services) {
  return std::make_shared<MenuViewModel>(std::move(services));
}

MenuViewModel::MenuViewModel(AppServices services) : services_(std::move(services)) {}

void MenuViewModel::changed() {
  if (objectDidChange) objectDidChange();
}

void MenuViewModel::onAppear() {
  UserDefaults& defaults = *services_.userDefaults;
  if (!defaults.boolForKey(UserSettings::didShowIntroKey)) {
    defaults.setBool(true, UserSettings::didShowIntroKey);
    if (popupCoordinator) popupCoordinator->present(Popup::intro(), kLightContentStatusBarStyle);
  } else if (auto url = AppFileOpener::takePendingURL()) {
    openFiles({*url});
  } else if (defaults.boolForKey(UserSettings::achievedSuccessKey)) {
    requestStoreReview();
  } else if (services_.counter->reached(defaults, kRelevantActionCountKey) &&
             !defaults.boolForKey(UserSettings::didRequestKey)) {
    askForReview();
  }
  AppFileOpener::setDelegate(weak_from_this());
  loadFiles();
}

void MenuViewModel::loadFiles() {
  SpreadsheetPersistance::StoredFiles stored = services_.store->readFiles();
  tabulo = std::move(stored.files);
  if (stored.unreadable && !reportedUnreadableStore_) {
    if (stored.storageKept) {
      alert = Alert{kCannotReadDocumentsTitle,
                    "The stored documents could not be read (" + stored.reason +
                        "). They are kept as they are, and nothing is stored until you choose Start Over, which "
                        "sets them aside.",
                    true};
    } else {
      alert = Alert{kCannotReadDocumentsTitle,
                    "The stored documents could not be read (" + stored.reason +
                        "). They are not deleted: they are set aside when the list next changes."};
    }
  }
  reportedUnreadableStore_ = stored.unreadable;
  changed();
}

void MenuViewModel::reportStoreWrite(bool written, const std::string& reason) {
  if (written) return;
  alert = Alert{kCannotSaveDocumentsTitle, reason.empty() ? "The change could not be stored. Please try again."
                                                          : "The change could not be stored: " + reason + "."};
}

void MenuViewModel::createNewFile() {
  std::string reason;
  reportStoreWrite(services_.store->createFile(newFileName, &reason), reason);
  newFileName.clear();
  loadFiles();
}

void MenuViewModel::startOver() {
  alert.reset();
  if (!services_.store->setAsideUnreadableStorage()) {
    alert = Alert{kCannotReadDocumentsTitle, "The stored documents could not be set aside. Please try again.", true};
    changed();
    return;
  }
  reportedUnreadableStore_ = false;
  loadFiles();
}

void MenuViewModel::openFiles(const std::vector<std::filesystem::path>& urls) {
  if (urls.empty()) return;
  std::string reason;
  const std::string name = displayName(urls.front());
  std::optional<SpreadsheetFile> file = services_.io->importCSV(urls.front(), &reason);
  if (!file) {
    alert = Alert{kCannotImportFileTitle, name + ": " + reason};
    changed();
    return;
  }
  if (!services_.store->addFile(*file, &reason)) alert = Alert{kCannotImportFileTitle, name + ": " + reason};
  loadFiles();
}

void MenuViewModel::deleteFiles(const std::set<size_t>& offsets) {
  std::vector<std::string> uuids;
  for (size_t offset : offsets) {
    if (offset < tabulo.size()) uuids.push_back(tabulo[offset].uuid);
  }
  if (uuids.empty()) return;
  std::string reason;
  reportStoreWrite(services_.store->removeFiles(uuids, &reason), reason);
  loadFiles();
}

void MenuViewModel::selectFile(size_t offset) {
  if (offset >= tabulo.size()) return;
  selectedFile = tabulo[offset];
  shouldShowCurrentFile = true;
  changed();
}

void MenuViewModel::dismissAlert() {
  alert.reset();
  changed();
}

void MenuViewModel::askForReview() {
  UserDefaults& defaults = *services_.userDefaults;
  if (defaults.boolForKey(UserSettings::didRequestKey)) return;
  defaults.setBool(true, UserSettings::didRequestKey);
  askAppFeedback();
}

Popup::Action MenuViewModel::answer(void (*handler)(const std::weak_ptr<MenuViewModel>&, const AppServices&)) {
  std::weak_ptr<MenuViewModel> weak = weak_from_this();
  return [weak, handler] {
    std::shared_ptr<MenuViewModel> model = weak.lock();
    if (!model || !model->popupCoordinator) return;
    AppServices services = model->services_;
    // The handler runs once the prompt has closed.
    model->popupCoordinator->present(Popup::dismiss(), std::nullopt,
                                     [weak, services, handler] { handler(weak, services); });
  };
}

void MenuViewModel::askAppFeedback() {
  if (services_.isPad && services_.isPad()) {
    requestStoreReview();
    return;
  }
  if (!popupCoordinator) return;
  popupCoordinator->present(
      Popup::feedbacks(kReviewPromptTitle, answer(&handlePositiveFeedback), answer(&handleNegativeFeedback)),
      kLightContentStatusBarStyle);
}

void MenuViewModel::requestStoreReview() {
  if (services_.requestStoreReview) services_.requestStoreReview();
}

void MenuViewModel::handlePositiveFeedback(const std::weak_ptr<MenuViewModel>& model, const AppServices& services) {
  BoxwellAnalytics::logEvent(*services.userDefaults, kPositiveReviewEvent);
  if (auto alive = model.lock()) alive->requestStoreReview();
  services.userDefaults->setBool(true, UserSettings::achievedSuccessKey);
}

void MenuViewModel::handleNegativeFeedback(const std::weak_ptr<MenuViewModel>& model, const AppServices& services) {
  BoxwellAnalytics::logEvent(*services.userDefaults, kNegativeReviewEvent);
  services.userDefaults->setBool(false, UserSettings::achievedSuccessKey);
  if (auto alive = model.lock()) alive->openSupportMail();
}

void MenuViewModel::openSupportMail() {
  std::string link = supportMailLink();
  if (services_.canOpenURL && services_.canOpenURL(link)) {
    if (services_.openURL) services_.openURL(link);
    return;
  }
  printLine(kFailedToOpenMailLine);
}

}  // namespace tabulo
