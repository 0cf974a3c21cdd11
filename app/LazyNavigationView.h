// LazyNavigationView — a navigation destination built only when it is shown.
//
// It keeps the closure that makes the destination; the navigation link runs
// `body()` when it is followed, so nothing of the destination is built while
// the list is merely drawn, and whatever the closure reads (the selected
// document) is read at that moment.
#pragma once

#include <functional>
#include <memory>

namespace tabulo {

template <typename Content>
struct LazyNavigationView {
  std::function<std::shared_ptr<Content>()> build;

  explicit LazyNavigationView(std::function<std::shared_ptr<Content>()> build) : build(std::move(build)) {}
  std::shared_ptr<Content> body() const { return build ? build() : nullptr; }
};

}  // namespace tabulo
