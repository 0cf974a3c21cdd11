// platform::ViewController — the base of every screen and popup.
//
// A screen is a C++ class with one method per tap or callback, and a
// snapshot() of what it shows (a ViewNode tree) that tests assert on and a
// renderer draws. When what it shows changes, it calls setNeedsSnapshot(),
// which emits `changed()`. A renderer sends a tap back as performAction() with
// the node's action name (and the new value of a text field, slider or
// segmented control); screens register their action names with
// registerAction().
//
// Life cycle, as the platform has it: loadViewIfNeeded() runs viewDidLoad()
// once; hosts run beginAppearanceTransition() / endAppearanceTransition()
// around showing and hiding a controller, which call viewWillAppear,
// viewDidAppear, viewWillDisappear and viewDidDisappear, forward them to the
// children, and emit the process-wide `appearanceEvents()` signal (screen
// tracking follows screens through it).
//
// Containment: a parent owns its children (addChild); a child finds its
// navigation controller through its parents. A container shows some of its
// children's views (showsChildView: a navigation controller its top one, a tab
// bar controller its selected one) and forwards appearance only to those.
//
// Windows: a controller's view lies in a window when the controller is a
// window's root, or is shown by a parent whose view lies in one, or is
// presented by a controller whose view lies in one (presented views join
// their presenter's window; the presenter's view stays in it).
//
// Class facts the runtime would report: the class name, whether the class is
// the platform's own or the app's, and its superclass's name. A platform
// class answers "platform" only for objects of exactly that class, so an
// app's subclass of a platform class counts as the app's. Presentation: present() makes
// this controller own the presented one until it is dismissed and hands the
// transition to the environment's Presenter; a controller presents one at a
// time (a second request is refused with a log line, as the platform does).
// dismiss() on a presenting controller removes what it presents (and
// everything above); on a presented one it asks its presenter to remove it.
//
// Main thread only. Controllers are owned by std::shared_ptr; create them
// with std::make_shared (a controller that is not owned so cannot be a
// parent, and presents nothing).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/core/Object.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/PresentationStyle.h"
#include "platform/ui/Signal.h"
#include "platform/ui/UIEnvironment.h"
#include "platform/ui/ViewNode.h"

namespace platform {

class NavigationController;
class Window;

enum class AppearanceEvent { willAppear, didAppear, willDisappear, didDisappear };

class ViewController : public std::enable_shared_from_this<ViewController> {
 public:
  using ActionHandler = std::function<void(const Object& value)>;

  explicit ViewController(std::shared_ptr<UIEnvironment> environment);
  virtual ~ViewController() = default;
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  // The class name the platform reports (screen tracking reads it).
  virtual std::string className() const { return "UIViewController"; }
  // Whether the class is the platform's own (not the app's). Platform classes
  // override it with isExactly<TheirClass>().
  virtual bool isPlatformClass() const { return isExactly<ViewController>(); }
  // The name of the class this controller's class derives from. An app class
  // that derives from another app class overrides it.
  virtual std::string superclassName() const {
    return isExactly<ViewController>() ? "UIResponder" : "UIViewController";
  }

  const std::shared_ptr<UIEnvironment>& environment() const { return environment_; }

  // View life cycle.
  void loadViewIfNeeded();
  bool isViewLoaded() const { return viewLoaded_; }
  void beginAppearanceTransition(bool appearing, bool animated);
  void endAppearanceTransition();
  bool isVisible() const { return visible_; }
  // The window the controller's view lies in; null when it lies in none.
  std::shared_ptr<Window> window() const;
  // Whether the view of `child` (one of this controller's children) lies in
  // this controller's view; every child's does unless a container says otherwise.
  virtual bool showsChildView(const ViewController& child) const;
  static Signal<const ViewController&, AppearanceEvent>& appearanceEvents();

  // The bounds of the controller's view; the host sets them on layout.
  const ViewRect& viewBounds() const { return viewBounds_; }
  void setViewBounds(const ViewRect& bounds) { viewBounds_ = bounds; }

  // What the screen shows; the default is an empty "screen" node.
  virtual ViewNode snapshot() const;
  Signal<>& changed() { return changed_; }
  void setNeedsSnapshot() { changed_.emit(); }

  // A tap or change sent back by a renderer; false when `name` names no action.
  virtual bool performAction(const std::string& name, const Object& value = {});
  std::vector<std::string> actionNames() const;

  // Containment and navigation.
  std::shared_ptr<ViewController> parent() const { return parent_.lock(); }
  const std::vector<std::shared_ptr<ViewController>>& children() const { return children_; }
  void addChild(const std::shared_ptr<ViewController>& child);
  void removeFromParent();
  NavigationItem& navigationItem() { return navigationItem_; }
  const NavigationItem& navigationItem() const { return navigationItem_; }
  // The nearest navigation controller among this controller and its parents.
  std::shared_ptr<NavigationController> navigationController();

  // Modal presentation.
  ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
  void setModalPresentationStyle(ModalPresentationStyle style) { presentationStyle_ = style; }
  ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
  void setModalTransitionStyle(ModalTransitionStyle style) { transitionStyle_ = style; }
  void present(const std::shared_ptr<ViewController>& controller, bool animated,
               std::function<void()> completion = {});
  void dismiss(bool animated, std::function<void()> completion = {});
  const std::shared_ptr<ViewController>& presentedViewController() const { return presented_; }
  // From present() until the end of the presented controller's appearance
  // (its didAppear handlers included).
  bool isBeingPresented() const { return beingPresented_; }
  std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }
  // The controller at the top of this controller's chain of presented ones
  // (this one when it presents nothing).
  std::shared_ptr<ViewController> topPresentedViewController();

 protected:
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}

  void registerAction(const std::string& name, ActionHandler handler);

  // A snapshot node that carries this controller's class name.
  ViewNode screenNode(const std::string& id) const;

  template <typename Class>
  bool isExactly() const {
    return typeid(*this) == typeid(Class);
  }

 private:
  friend class Window;
  void setParent(const std::shared_ptr<ViewController>& parent) { parent_ = parent; }

  std::shared_ptr<UIEnvironment> environment_;
  ViewRect viewBounds_;
  bool viewLoaded_ = false;
  bool visible_ = false;
  bool appearing_ = false;
  bool inTransition_ = false;
  bool beingPresented_ = false;
  std::weak_ptr<Window> rootOfWindow_;  // the window whose root this controller is
  Signal<> changed_;
  std::map<std::string, ActionHandler> actions_;
  std::weak_ptr<ViewController> parent_;
  std::vector<std::shared_ptr<ViewController>> children_;
  NavigationItem navigationItem_;
  ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::automatic;
  ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::coverVertical;
  std::shared_ptr<ViewController> presented_;
  std::weak_ptr<ViewController> presenting_;
};

}  // namespace platform
