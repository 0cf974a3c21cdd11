#include "platform/ui/ViewNode.h"

#include <nlohmann/json.hpp>

namespace platform {
namespace {

nlohmann::json colorJSON(const ViewColor& color) {
  return {{"red", color.red}, {"green", color.green}, {"blue", color.blue}, {"alpha", color.alpha}};
}

nlohmann::json nodeJSON(const ViewNode& node) {
  nlohmann::json out = nlohmann::json::object();
  out["kind"] = node.kind;
  out["id"] = node.id;
  if (node.text) out["text"] = *node.text;
  if (node.placeholder) out["placeholder"] = *node.placeholder;
  out["enabled"] = node.enabled;
  out["hidden"] = node.hidden;
  out["selected"] = node.selected;
  if (node.textColor) out["textColor"] = colorJSON(*node.textColor);
  if (node.backgroundColor) out["backgroundColor"] = colorJSON(*node.backgroundColor);
  if (node.tintColor) out["tintColor"] = colorJSON(*node.tintColor);
  if (node.value) out["value"] = *node.value;
  if (node.minimum) out["minimum"] = *node.minimum;
  if (node.maximum) out["maximum"] = *node.maximum;
  if (!node.action.empty()) out["action"] = node.action;
  if (!node.properties.empty()) out["properties"] = node.properties;
  if (!node.children.empty()) {
    nlohmann::json children = nlohmann::json::array();
    for (const ViewNode& child : node.children) children.push_back(nodeJSON(child));
    out["children"] = std::move(children);
  }
  return out;
}

}  // namespace

ViewNode& ViewNode::add(ViewNode child) {
  children.push_back(std::move(child));
  return children.back();
}

const ViewNode* ViewNode::find(const std::string& wanted) const {
  if (id == wanted) return this;
  for (const ViewNode& child : children) {
    if (const ViewNode* found = child.find(wanted)) return found;
  }
  return nullptr;
}

ViewNode* ViewNode::find(const std::string& wanted) {
  return const_cast<ViewNode*>(static_cast<const ViewNode&>(*this).find(wanted));
}

std::string ViewNode::toJSON() const {
  // Texts come from documents and users; invalid UTF-8 is replaced, never thrown on.
  return nodeJSON(*this).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace platform
