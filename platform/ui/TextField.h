// platform::TextField — the state of a one-line text field: its text (absent
// is not empty), placeholder, first-responder state (the keyboard is up while
// it is first responder) and a weak delegate asked when Return is pressed.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace platform {

class TextField;

class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual bool textFieldShouldReturn(TextField& textField) = 0;
};

class TextField {
 public:
  std::optional<std::string> text;
  std::optional<std::string> placeholder;
  std::weak_ptr<TextFieldDelegate> delegate;

  bool isFirstResponder() const { return firstResponder_; }
  bool becomeFirstResponder() {
    firstResponder_ = true;
    return true;
  }
  bool resignFirstResponder() {
    firstResponder_ = false;
    return true;
  }
  // The user presses Return: the delegate decides (the field itself does nothing more).
  bool pressReturn() {
    auto receiver = delegate.lock();
    return receiver ? receiver->textFieldShouldReturn(*this) : true;
  }

 private:
  bool firstResponder_ = false;
};

}  // namespace platform
