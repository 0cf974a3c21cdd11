// platform::DocumentPickerViewController — the system document picker.
//
// Made with the content-type identifiers it offers and a mode (import: the
// app gets its own copy of each picked file). The host reports the user's
// choice with pick() or cancel(); the picker tells its weak delegate. Closing
// the screen that holds the picker is the business of whoever presented it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class DocumentPickerViewController;

class DocumentPickerDelegate {
 public:
  virtual ~DocumentPickerDelegate() = default;
  virtual void documentPicker(DocumentPickerViewController& picker,
                              const std::vector<std::filesystem::path>& urls) = 0;
  virtual void documentPickerWasCancelled(DocumentPickerViewController& picker) = 0;
};

class DocumentPickerViewController : public ViewController {
 public:
  enum class Mode : int { import = 0, open = 1, exportToService = 2, moveToService = 3 };

  DocumentPickerViewController(std::shared_ptr<UIEnvironment> environment, std::vector<std::string> documentTypes,
                               Mode mode)
      : ViewController(std::move(environment)), documentTypes_(std::move(documentTypes)), mode_(mode) {}
  std::string className() const override { return "UIDocumentPickerViewController"; }
  bool isPlatformClass() const override { return isExactly<DocumentPickerViewController>(); }

  const std::vector<std::string>& documentTypes() const { return documentTypes_; }
  Mode mode() const { return mode_; }
  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool allows) { allowsMultipleSelection_ = allows; }
  void setDelegate(std::weak_ptr<DocumentPickerDelegate> delegate) { delegate_ = std::move(delegate); }

  // The user picked `urls` (reported as they are, an empty list included).
  void pick(const std::vector<std::filesystem::path>& urls);
  // The user cancelled.
  void cancel();

  ViewNode snapshot() const override;

 private:
  std::vector<std::string> documentTypes_;
  Mode mode_;
  bool allowsMultipleSelection_ = false;
  std::weak_ptr<DocumentPickerDelegate> delegate_;
};

}  // namespace platform
