// platform::ViewNode — one node of the generic view tree that every screen
// gives as the snapshot of what it shows.
//
// A screen's snapshot is a tree of nodes: each has a `kind` (what a renderer
// draws: "screen", "stack", "label", "button", "textField", "slider",
// "segmentedControl", "image", "colorWell", "grid", "alert", "menu", ...), an
// `id` unique among its siblings, the texts it shows, whether it is enabled or
// hidden, its colours, a number value with its range, an `action` name that
// a renderer sends back to the screen's performAction() when the node is
// tapped or changed, free-form `properties`, and its children in drawing order.
//
// toJSON() gives the tree as JSON text (keys sorted; absent fields left out):
//   {"kind":..,"id":..,"text":..,"placeholder":..,"enabled":..,"hidden":..,
//    "selected":..,"textColor":{"red":..,"green":..,"blue":..,"alpha":..},
//    "backgroundColor":..,"tintColor":..,"value":..,"minimum":..,"maximum":..,
//    "action":..,"properties":{..},"children":[..]}
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A colour of the view tree, components from 0 to 1.
struct ViewColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  static ViewColor black() { return {0, 0, 0, 1}; }
  static ViewColor white() { return {1, 1, 1, 1}; }
  static ViewColor clear() { return {0, 0, 0, 0}; }
  // The platform's colour of links and tinted controls.
  static ViewColor link() { return {0, 122.0 / 255.0, 1, 1}; }

  friend bool operator==(const ViewColor&, const ViewColor&) = default;
};

// A rectangle in points.
struct ViewRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double midX() const { return x + width / 2; }
  double midY() const { return y + height / 2; }
  friend bool operator==(const ViewRect&, const ViewRect&) = default;
};

struct ViewNode {
  std::string kind;
  std::string id;
  std::optional<std::string> text;
  std::optional<std::string> placeholder;
  bool enabled = true;
  bool hidden = false;
  bool selected = false;
  std::optional<ViewColor> textColor;
  std::optional<ViewColor> backgroundColor;
  std::optional<ViewColor> tintColor;
  std::optional<double> value;
  std::optional<double> minimum;
  std::optional<double> maximum;
  std::string action;
  std::map<std::string, std::string> properties;
  std::vector<ViewNode> children;

  ViewNode() = default;
  ViewNode(std::string kind, std::string id) : kind(std::move(kind)), id(std::move(id)) {}

  // Appends `child` and answers a reference to the stored copy.
  ViewNode& add(ViewNode child);

  // The first node in this tree (itself included, depth first) whose id is
  // `id`; null when there is none.
  const ViewNode* find(const std::string& id) const;
  ViewNode* find(const std::string& id);

  std::string toJSON() const;

  friend bool operator==(const ViewNode&, const ViewNode&) = default;
};

}  // namespace platform
