// The controller layer: presentation chains, alerts, appearance events,
// navigation and the view tree's JSON form.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/dispatch/NotificationCenter.h"
#include "platform/ui/ActivityViewController.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/HostingController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PageViewController.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/ViewController.h"

namespace platform {
namespace {

class Screen : public ViewController {
 public:
  Screen(std::shared_ptr<UIEnvironment> environment, std::string name)
      : ViewController(std::move(environment)), name_(std::move(name)) {
    registerAction("tap", [this](const Object&) { ++taps; });
  }
  std::string className() const override { return name_; }
  int loads = 0;
  int taps = 0;

 protected:
  void viewDidLoad() override { ++loads; }

 private:
  std::string name_;
};

struct Events {
  std::vector<std::string> lines;
  Connection connection = ViewController::appearanceEvents().connect(
      [this](const ViewController& controller, AppearanceEvent event) {
        static const char* names[] = {"willAppear", "didAppear", "willDisappear", "didDisappear"};
        lines.push_back(controller.className() + " " + names[static_cast<int>(event)]);
      });
};

TEST(ViewControllerTest, PresentsOneAtATimeAndDismissesTheWholeChainFromBelow) {
  auto ui = UIEnvironment::makeHeadless();
  auto root = std::make_shared<Screen>(ui.environment, "Root");
  auto popup = std::make_shared<Screen>(ui.environment, "Popup");
  auto picker = std::make_shared<Screen>(ui.environment, "Picker");
  popup->setModalPresentationStyle(ModalPresentationStyle::overCurrentContext);
  popup->setModalTransitionStyle(ModalTransitionStyle::crossDissolve);
  Events events;
  bool presented = false;

  root->present(popup, true, [&] { presented = true; });
  popup->present(picker, true);
  root->present(std::make_shared<Screen>(ui.environment, "Refused"), true);  // already presenting

  EXPECT_TRUE(presented);
  EXPECT_EQ(popup->loads, 1);
  EXPECT_EQ(root->presentedViewController(), popup);
  EXPECT_EQ(picker->presentingViewController(), popup);
  EXPECT_EQ(root->topPresentedViewController(), picker);
  ASSERT_EQ(ui.presenter->records().size(), 2u);
  EXPECT_EQ(ui.presenter->records()[0].presentationStyle, ModalPresentationStyle::overCurrentContext);
  EXPECT_EQ(ui.presenter->records()[0].transitionStyle, ModalTransitionStyle::crossDissolve);
  EXPECT_TRUE(ui.presenter->records()[0].hadCompletion);

  popup->dismiss(true);  // popup presents the picker: only the picker goes
  EXPECT_EQ(root->presentedViewController(), popup);
  EXPECT_FALSE(popup->presentedViewController());
  popup->present(picker, false);
  events.lines.clear();
  root->dismiss(true);  // removes popup and picker, top first
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_FALSE(picker->presentingViewController());
  EXPECT_EQ(events.lines, (std::vector<std::string>{"Picker willDisappear", "Picker didDisappear",
                                                    "Popup willDisappear", "Popup didDisappear"}));
  EXPECT_FALSE(popup->isVisible());
}

TEST(ViewControllerTest, AlertActionDismissesBeforeItsHandlerRuns) {
  auto ui = UIEnvironment::makeHeadless();
  auto root = std::make_shared<Screen>(ui.environment, "Root");
  auto alert = AlertController::make(ui.environment, "Title", "Message", AlertController::Style::alert);
  std::vector<std::string> seen;
  alert->addAction({"OK", AlertAction::Style::defaultStyle, [&](const AlertAction& action) {
                      seen.push_back(action.title + (root->presentedViewController() ? " shown" : " gone"));
                    }});
  alert->addAction({"Delete", AlertAction::Style::destructive, nullptr});
  root->present(alert, true);

  const ViewNode tree = alert->snapshot();
  EXPECT_EQ(tree.kind, "alert");
  EXPECT_EQ(tree.text, "Title");
  EXPECT_EQ(tree.properties.at("message"), "Message");
  ASSERT_EQ(tree.children.size(), 2u);
  EXPECT_EQ(tree.children[1].properties.at("style"), "destructive");

  EXPECT_TRUE(root->topPresentedViewController()->performAction(tree.children[0].action));
  EXPECT_EQ(seen, std::vector<std::string>{"OK gone"});
  EXPECT_FALSE(alert->tapAction("Missing"));
}

TEST(ViewControllerTest, NavigationRunsAppearanceAndRoutesBarActionsToTheTopItem) {
  auto ui = UIEnvironment::makeHeadless();
  auto navigation = std::make_shared<NavigationController>(ui.environment);
  auto list = std::make_shared<Screen>(ui.environment, "List");
  navigation->setRoot(list);
  navigation->beginAppearanceTransition(true, false);
  navigation->endAppearanceTransition();
  EXPECT_TRUE(list->isVisible());

  auto editor = std::make_shared<Screen>(ui.environment, "Editor");
  auto host = HostingController::make(ui.environment, editor);
  int backs = 0, saves = 0;
  auto menu = std::make_shared<Menu>();
  menu->title = "Options";
  auto sub = std::make_shared<Menu>();
  sub->title = "File";
  sub->children.push_back(MenuAction{"Save", "square.and.arrow.down", {}, {}, 0, MenuAction::State::off,
                                     [&] { ++saves; }});
  menu->children.push_back(sub);
  host->navigationItem().leftBarButtonItems = {
      BarButtonItem::withImage("chevron.left", SymbolConfiguration{16, 5}, BarButtonItem::Style::done, [&] { ++backs; })};
  host->navigationItem().rightBarButtonItems = {BarButtonItem::withMenu("list.bullet", menu)};

  Events events;
  navigation->pushViewController(host, true);
  EXPECT_EQ(editor->loads, 1);
  EXPECT_TRUE(editor->isVisible());
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(editor->navigationController(), navigation);
  EXPECT_NE(std::find(events.lines.begin(), events.lines.end(), "Editor didAppear"), events.lines.end());

  EXPECT_TRUE(navigation->performAction("bar.left.0"));
  EXPECT_TRUE(navigation->performAction("bar.right.0.menu.0.0"));
  EXPECT_FALSE(navigation->performAction("bar.right.0.menu.0.7"));
  EXPECT_TRUE(navigation->performAction("tap"));  // to the hosted screen
  EXPECT_EQ(backs, 1);
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(editor->taps, 1);
  EXPECT_EQ(menu->find({"File", "Save"})->image, "square.and.arrow.down");

  EXPECT_EQ(navigation->popViewController(true), host);
  EXPECT_EQ(navigation->popViewController(true), nullptr);  // the root stays
  EXPECT_FALSE(editor->isVisible());
  EXPECT_TRUE(list->isVisible());
  EXPECT_FALSE(host->parent());
  ASSERT_EQ(navigation->history().size(), 2u);
  EXPECT_EQ(navigation->history()[1].kind, NavigationController::Step::Kind::pop);
}

TEST(ViewControllerTest, SnapshotIsJSONWithChangeSignal) {
  ViewNode root("screen", "editor");
  ViewNode& label = root.add(ViewNode("label", "title"));
  label.text = "Bad \xff byte";
  label.textColor = ViewColor::link();
  root.add(ViewNode("button", "save")).enabled = false;
  const auto json = nlohmann::json::parse(root.toJSON());
  EXPECT_EQ(json["children"][0]["text"], "Bad \xef\xbf\xbd byte");
  EXPECT_DOUBLE_EQ(json["children"][0]["textColor"]["blue"].get<double>(), 1.0);
  EXPECT_EQ(json["children"][1]["enabled"], false);
  EXPECT_FALSE(json["children"][1].contains("text"));
  EXPECT_EQ(root.find("save")->kind, "button");

  auto ui = UIEnvironment::makeHeadless();
  auto screen = std::make_shared<Screen>(ui.environment, "S");
  int changes = 0;
  Connection connection = screen->changed().connect([&] { ++changes; });
  screen->setNeedsSnapshot();
  connection.disconnect();
  screen->setNeedsSnapshot();
  EXPECT_EQ(changes, 1);
}

TEST(ViewControllerTest, ShareSheetCompletesOnceAfterClosing) {
  auto ui = UIEnvironment::makeHeadless();
  auto root = std::make_shared<Screen>(ui.environment, "Root");
  auto sheet = std::make_shared<ActivityViewController>(ui.environment, std::vector<std::filesystem::path>{"/o/a.csv"});
  int calls = 0;
  sheet->completionWithItemsHandler = [&](const std::optional<std::string>&, bool completed, const std::vector<Object>&,
                                          const std::optional<Error>&) {
    EXPECT_FALSE(completed);
    EXPECT_FALSE(root->presentedViewController());
    ++calls;
  };
  root->present(sheet, true);
  EXPECT_TRUE(sheet->performAction("share.cancel"));
  sheet->finish(std::nullopt, true);
  EXPECT_EQ(calls, 1);
}

TEST(WindowTest, OneKeyWindowPerApplicationAndTheOldOneSaysItResigned) {
  auto center = NotificationCenter::create();
  auto application = std::make_shared<Application>(center);
  std::vector<const void*> resigned;
  auto token = center->addObserver(kWindowDidResignKeyNotification, nullptr,
                                   [&](const Notification& notification) { resigned.push_back(notification.sender.get()); });
  auto first = std::make_shared<Window>(nullptr);
  auto second = std::make_shared<Window>(nullptr);
  auto loose = std::make_shared<Window>(nullptr);
  application->addWindow(first);
  application->addWindow(second);

  first->makeKeyAndVisible();
  loose->makeKeyAndVisible();  // in no application: never key
  EXPECT_EQ(application->keyWindow(), first);
  EXPECT_FALSE(loose->isKeyWindow());
  EXPECT_TRUE(resigned.empty());
  second->makeKeyAndVisible();
  EXPECT_TRUE(second->isKeyWindow());
  EXPECT_FALSE(first->isKeyWindow());
  EXPECT_EQ(resigned, (std::vector<const void*>{first.get()}));
  application->removeAllWindows();
  EXPECT_EQ(application->keyWindow(), nullptr);
  EXPECT_EQ(resigned, (std::vector<const void*>{first.get(), second.get()}));
}

TEST(WindowTest, ControllersLieInTheWindowWhileTheirContainerShowsThem) {
  auto ui = UIEnvironment::makeHeadless();
  auto window = std::make_shared<Window>(nullptr);
  auto navigation = std::make_shared<NavigationController>(ui.environment);
  auto list = std::make_shared<Screen>(ui.environment, "List");
  auto tabs = std::make_shared<TabBarController>(ui.environment);
  auto firstTab = std::make_shared<Screen>(ui.environment, "FirstTab");
  auto secondTab = std::make_shared<Screen>(ui.environment, "SecondTab");
  tabs->setViewControllers({firstTab, secondTab});
  navigation->setRoot(list);
  window->setRootViewController(navigation);
  window->makeKeyAndVisible();
  EXPECT_EQ(list->window(), window);

  Events events;
  navigation->pushViewController(tabs, false);
  EXPECT_EQ(list->window(), nullptr);
  EXPECT_EQ(firstTab->window(), window);
  EXPECT_EQ(secondTab->window(), nullptr);
  EXPECT_FALSE(secondTab->isVisible());  // appearance goes to the selected tab only
  events.lines.clear();
  tabs->setSelectedIndex(1);
  EXPECT_EQ(events.lines, (std::vector<std::string>{"FirstTab willDisappear", "SecondTab willAppear",
                                                    "FirstTab didDisappear", "SecondTab didAppear"}));
  EXPECT_EQ(secondTab->window(), window);

  // Presented controllers join their presenter's window and are being presented until they have appeared.
  auto pages = std::make_shared<PageViewController>(ui.environment);
  auto page = std::make_shared<Screen>(ui.environment, "Page");
  pages->setViewControllers({page});
  bool presentingWhileAppearing = false;
  Connection probe = ViewController::appearanceEvents().connect([&](const ViewController& controller, AppearanceEvent event) {
    if (&controller == pages.get() && event == AppearanceEvent::didAppear) {
      presentingWhileAppearing = pages->isBeingPresented();
    }
  });
  secondTab->present(pages, false);
  EXPECT_TRUE(presentingWhileAppearing);
  EXPECT_FALSE(pages->isBeingPresented());
  EXPECT_EQ(page->window(), window);
  EXPECT_TRUE(page->isVisible());
  secondTab->dismiss(false);
  EXPECT_EQ(page->window(), nullptr);

  // A new root leaves the old one outside the window.
  window->setRootViewController(std::make_shared<Screen>(ui.environment, "Other"));
  EXPECT_EQ(navigation->window(), nullptr);
}

}  // namespace
}  // namespace platform
