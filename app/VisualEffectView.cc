#include "app/VisualEffectView.h"

namespace tabulo {

platform::ViewNode VisualEffectView::node(const std::string& id) const {
  platform::ViewNode node("visualEffect", id);
  if (effect) node.properties["blurStyle"] = std::to_string(static_cast<int>(*effect));
  return node;
}

}  // namespace tabulo
