#include "platform/ui/ColorPickerViewController.h"

namespace platform {
namespace {
double component(const Object& value, const char* key, double fallback) {
  const Object* found = value.find(key);
  return found && found->numberValue() ? *found->numberValue() : fallback;
}
}  // namespace

ColorPickerViewController::ColorPickerViewController(std::shared_ptr<UIEnvironment> environment)
    : ViewController(std::move(environment)) {
  // {"red":..,"green":..,"blue":..,"alpha":..,"continuously":bool}
  registerAction("colorPicker.pick", [this](const Object& value) {
    ViewColor color{component(value, "red", 0), component(value, "green", 0), component(value, "blue", 0),
                    component(value, "alpha", 1)};
    const Object* continuously = value.find("continuously");
    pick(color, continuously && continuously->boolValue().value_or(false));
  });
  registerAction("colorPicker.finish", [this](const Object&) { finish(); });
}

void ColorPickerViewController::pick(const ViewColor& color, bool continuously) {
  auto self = weak_from_this().lock();
  selectedColor = color;
  setNeedsSnapshot();
  if (auto receiver = delegate.lock()) receiver->colorPickerViewControllerDidSelectColor(*this, color, continuously);
}

void ColorPickerViewController::finish() {
  auto self = weak_from_this().lock();
  dismiss(true);
  if (auto receiver = delegate.lock()) receiver->colorPickerViewControllerDidFinish(*this);
}

ViewNode ColorPickerViewController::snapshot() const {
  ViewNode node = screenNode("colorPicker");
  node.kind = "colorPicker";
  node.backgroundColor = selectedColor;
  node.properties["supportsAlpha"] = supportsAlpha ? "true" : "false";
  node.action = "colorPicker.pick";
  ViewNode& done = node.add(ViewNode("button", "colorPicker.finish"));
  done.action = "colorPicker.finish";
  return node;
}

}  // namespace platform
