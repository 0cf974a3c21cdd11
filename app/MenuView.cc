#include "app/MenuView.h"

#include "app/FileCell.h"
#include "app/LazyNavigationView.h"
#include "app/SettingsView.h"
#include "app/SheetEditorView.h"
#include "app/UserSettings.h"
#include "platform/ui/NavigationController.h"

namespace tabulo {
namespace {

const platform::ViewColor kGroupedBackground{242.0 / 255.0, 242.0 / 255.0, 247.0 / 255.0, 1};
const platform::ViewColor kGrey{0.5, 0.5, 0.5, 1};

platform::ViewNode label(std::string id, std::string text, std::string font) {
  platform::ViewNode node("label", std::move(id));
  node.text = std::move(text);
  node.properties["font"] = std::move(font);
  return node;
}

}  // namespace

MenuView::Destinations MenuView::Destinations::standard() {
  return Destinations{
      [](const SpreadsheetFile& file, std::shared_ptr<platform::UIEnvironment> environment) {
        return std::static_pointer_cast<platform::ViewController>(SheetEditorView{file}.makeHost(environment));
      },
      [](std::shared_ptr<UserDefaults> userDefaults, std::shared_ptr<platform::UIEnvironment> environment) {
        auto viewModel = std::make_shared<SettingsViewModel>(environment->urlOpener, std::move(userDefaults));
        return std::static_pointer_cast<platform::ViewController>(
            std::make_shared<SettingsView>(environment, std::move(viewModel)));
      }};
}

MenuView::MenuView(std::shared_ptr<platform::UIEnvironment> environment,
                   std::shared_ptr<PopupCoordinator> popupCoordinator, std::shared_ptr<MenuViewModel> viewModel,
                   Destinations destinations)
    : ViewController(std::move(environment)),
      popupCoordinator_(std::move(popupCoordinator)),
      viewModel_(std::move(viewModel)),
      destinations_(std::move(destinations)) {}

void MenuView::viewDidLoad() {
  std::weak_ptr<MenuView> weak = std::static_pointer_cast<MenuView>(shared_from_this());
  viewModel_->objectDidChange = [weak] {
    if (auto self = weak.lock()) self->update();
  };

  navigationItem().title = "Tabulo";
  navigationItem().leftBarButtonItems = {platform::BarButtonItem::withImage(
      "settingsBtn", std::nullopt, platform::BarButtonItem::Style::plain, [weak] {
        auto self = weak.lock();
        if (!self) return;
        auto destinations = self->destinations_;
        auto environment = self->environment();
        auto userDefaults = self->viewModel_->services().userDefaults;
        LazyNavigationView<platform::ViewController> destination([destinations, environment, userDefaults] {
          return destinations.settings(userDefaults, environment);
        });
        self->pushDestination(destination.body());
      })};
  navigationItem().rightBarButtonItems = {
      platform::BarButtonItem::withImage("plus", std::nullopt, platform::BarButtonItem::Style::plain, [weak] {
        if (auto self = weak.lock()) {
          self->viewModel_->shouldShowNewFileAlert = true;
          self->update();
        }
      })};

  registerAction("import", [this](const platform::Object&) {
    viewModel_->shouldShowDocPicker = true;
    update();
  });
  registerAction("delete", [this](const platform::Object& value) {
    std::set<size_t> offsets;
    auto add = [&offsets](const platform::Object& item) {
      if (auto offset = item.intValue(); offset && *offset >= 0) offsets.insert(static_cast<size_t>(*offset));
    };
    if (const platform::Array* array = value.arrayValue()) {
      for (const auto& item : *array) add(item);
    } else {
      add(value);
    }
    viewModel_->deleteFiles(offsets);
  });
  registerAction("newFile.title", [this](const platform::Object& value) {
    const std::string* text = value.stringValue();
    viewModel_->newFileName = text ? *text : "";
    update();
  });
  registerAction("newFile.ok", [this](const platform::Object&) {
    if (!viewModel_->shouldShowNewFileAlert || !isAlertButtonActive_) return;
    viewModel_->shouldShowNewFileAlert = false;
    viewModel_->createNewFile();
    update();
  });
  registerAction("errorAlert.ok", [this](const platform::Object&) { viewModel_->dismissAlert(); });
  registerAction("errorAlert.startOver", [this](const platform::Object&) { viewModel_->startOver(); });
}

bool MenuView::performAction(const std::string& name, const platform::Object& value) {
  if (name.starts_with("row.")) {
    size_t offset = 0;
    const std::string digits = name.substr(4);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    offset = std::stoul(digits);
    if (offset >= viewModel_->tabulo.size()) return false;
    auto self = shared_from_this();
    viewModel_->selectFile(offset);
    return true;
  }
  return ViewController::performAction(name, value);
}

void MenuView::viewWillAppear(bool) {
  // Back from the editor: the navigation link is no longer active.
  if (editorShown_) {
    editorShown_ = false;
    viewModel_->shouldShowCurrentFile = false;
  }
}

void MenuView::viewDidAppear(bool) {
  viewModel_->popupCoordinator = popupCoordinator_;
  viewModel_->onAppear();
}

std::shared_ptr<platform::DocumentPickerViewController> MenuView::presentedDocPicker() const { return picker_.lock(); }

void MenuView::pushDestination(std::shared_ptr<platform::ViewController> destination) {
  auto navigation = navigationController();
  if (!navigation || !destination) return;
  navigation->pushViewController(destination, true);
}

void MenuView::update() {
  if (viewModel_->newFileName != lastNewFileName_) {
    lastNewFileName_ = viewModel_->newFileName;
    isAlertButtonActive_ = !lastNewFileName_.empty();
  }

  auto picker = picker_.lock();
  if (viewModel_->shouldShowDocPicker && !picker) {
    std::weak_ptr<MenuView> weak = std::static_pointer_cast<MenuView>(shared_from_this());
    DocPicker docPicker{{kCommaSeparatedTextType}, false,
                        [weak] {
                          if (auto self = weak.lock()) {
                            self->viewModel_->shouldShowDocPicker = false;
                            self->update();
                          }
                        },
                        [weak](const std::vector<std::filesystem::path>& urls) {
                          if (auto self = weak.lock()) {
                            self->viewModel_->shouldShowDocPicker = false;
                            self->update();
                            self->viewModel_->openFiles(urls);
                          }
                        }};
    pickerCoordinator_ = docPicker.makeCoordinator();
    auto controller = docPicker.makeUIViewController(environment(), pickerCoordinator_);
    controller->setModalPresentationStyle(platform::ModalPresentationStyle::pageSheet);
    picker_ = controller;
    present(controller, true);
  } else if (!viewModel_->shouldShowDocPicker && picker) {
    picker_.reset();
    if (picker->presentingViewController()) picker->dismiss(true);
    pickerCoordinator_.reset();
  }

  if (viewModel_->shouldShowCurrentFile && viewModel_->selectedFile && !editorShown_ && navigationController()) {
    editorShown_ = true;
    auto destinations = destinations_;
    auto environment = this->environment();
    auto model = viewModel_;
    LazyNavigationView<platform::ViewController> destination([destinations, environment, model] {
      return destinations.editor(*model->selectedFile, environment);
    });
    pushDestination(destination.body());
  }
  setNeedsSnapshot();
}

platform::ViewNode MenuView::snapshot() const {
  platform::ViewNode node = screenNode("menu");
  node.backgroundColor = kGroupedBackground;
  platform::ViewNode& content = node.add(platform::ViewNode("stack", "content"));
  if (viewModel_->tabulo.empty()) {
    platform::ViewNode title = label("emptyTitle", "No Tabulo", "system 28 black");
    platform::ViewNode hint = label("emptyHint", "Tap the '+' button to create a new file", "system 16 medium");
    for (platform::ViewNode* text : {&title, &hint}) {
      text->textColor = kGrey;
      text->properties["lineLimit"] = "1";
      text->properties["minimumScaleFactor"] = "0.5";
      content.add(*text);
    }
  } else {
    platform::ViewNode& list = content.add(platform::ViewNode("list", "files"));
    list.action = "delete";
    for (size_t i = 0; i < viewModel_->tabulo.size(); ++i) {
      platform::ViewNode row = FileCell::body(viewModel_->tabulo[i]);
      row.action = "row." + std::to_string(i);
      list.add(std::move(row));
    }
  }
  platform::ViewNode import("button", "import");
  import.text = "Import .CSV";
  import.action = "import";
  import.textColor = platform::ViewColor::white();
  import.backgroundColor = platform::ViewColor{0, 122.0 / 255.0, 1, 1};
  import.properties["font"] = "system 20 heavy";
  import.properties["size"] = "310x50";
  import.properties["cornerRadius"] = "25";
  content.add(import);

  if (viewModel_->shouldShowNewFileAlert) {
    platform::ViewNode alert("alert", "newFileAlert");
    alert.text = "Create new Spreadsheet";
    alert.properties["message"] = "Give a title to the new file";
    platform::ViewNode field("textField", "title");
    field.text = viewModel_->newFileName;
    field.placeholder = "Title";
    field.action = "newFile.title";
    alert.add(field);
    platform::ViewNode ok("button", "ok");
    ok.text = "OK";
    ok.action = "newFile.ok";
    ok.enabled = isAlertButtonActive_;
    alert.add(ok);
    node.add(alert);
  }
  if (viewModel_->alert) {
    platform::ViewNode alert("alert", "errorAlert");
    alert.text = viewModel_->alert->title;
    alert.properties["message"] = viewModel_->alert->message;
    platform::ViewNode ok("button", "ok");
    ok.text = "OK";
    ok.action = "errorAlert.ok";
    alert.add(ok);
    if (viewModel_->alert->offersStartOver) {
      platform::ViewNode startOver("button", "startOver");
      startOver.text = kStartOverActionTitle;
      startOver.action = "errorAlert.startOver";
      alert.add(startOver);
    }
    node.add(alert);
  }
  return node;
}

}  // namespace tabulo
