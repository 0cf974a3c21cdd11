// platform::ColorPickerViewController — the colour picker.
//
// The presenting screen sets the starting colour, whether an alpha control is
// offered, and a weak delegate. Every colour the user picks (also while
// dragging, `continuously` true) is reported with pick(); when the user
// closes the picker, finish() dismisses it and tells the delegate.
// Components reported by a host may be anything; receivers check them.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/ViewController.h"

namespace platform {

class ColorPickerViewController;

class ColorPickerViewControllerDelegate {
 public:
  virtual ~ColorPickerViewControllerDelegate() = default;
  virtual void colorPickerViewControllerDidSelectColor(ColorPickerViewController& picker, const ViewColor& color,
                                                       bool continuously) = 0;
  virtual void colorPickerViewControllerDidFinish(ColorPickerViewController& picker) = 0;
};

class ColorPickerViewController : public ViewController {
 public:
  explicit ColorPickerViewController(std::shared_ptr<UIEnvironment> environment);
  std::string className() const override { return "UIColorPickerViewController"; }
  bool isPlatformClass() const override { return isExactly<ColorPickerViewController>(); }

  ViewColor selectedColor = ViewColor::white();
  bool supportsAlpha = true;
  std::weak_ptr<ColorPickerViewControllerDelegate> delegate;

  // The user picks `color`.
  void pick(const ViewColor& color, bool continuously);
  // The user closes the picker.
  void finish();

  ViewNode snapshot() const override;
};

}  // namespace platform
