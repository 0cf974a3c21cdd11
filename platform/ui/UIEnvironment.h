// platform::UIEnvironment — the host services every screen reaches: the
// presenter of modal controllers, the haptic engine, the URL opener and the
// device's interface idiom. Screens get it through their constructor and
// hand it to the controllers they make.
//
// The main loop is platform::MainQueue: every screen method runs on it.
#pragma once

#include <memory>

#include "platform/ui/HapticEngine.h"
#include "platform/ui/PresentationStyle.h"
#include "platform/ui/Presenter.h"
#include "platform/ui/RecordingPresenter.h"
#include "platform/ui/URLOpener.h"

namespace platform {

struct UIEnvironment {
  std::shared_ptr<Presenter> presenter;
  std::shared_ptr<HapticEngine> haptics;
  std::shared_ptr<URLOpener> urlOpener;
  UserInterfaceIdiom idiom = UserInterfaceIdiom::phone;

  // An environment of recording doubles (a headless host), with their
  // concrete types for tests to inspect.
  struct Headless;
  static Headless makeHeadless(UserInterfaceIdiom idiom = UserInterfaceIdiom::phone);
};

struct UIEnvironment::Headless {
  std::shared_ptr<UIEnvironment> environment;
  std::shared_ptr<RecordingPresenter> presenter;
  std::shared_ptr<RecordingHapticEngine> haptics;
  std::shared_ptr<RecordingURLOpener> urlOpener;
};

inline UIEnvironment::Headless UIEnvironment::makeHeadless(UserInterfaceIdiom idiom) {
  Headless headless{std::make_shared<UIEnvironment>(), std::make_shared<RecordingPresenter>(),
                    std::make_shared<RecordingHapticEngine>(), std::make_shared<RecordingURLOpener>()};
  headless.environment->presenter = headless.presenter;
  headless.environment->haptics = headless.haptics;
  headless.environment->urlOpener = headless.urlOpener;
  headless.environment->idiom = idiom;
  return headless;
}

}  // namespace platform
