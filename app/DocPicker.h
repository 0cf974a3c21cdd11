// DocPicker — the system document picker as a screen element: it offers the
// given content types and hands the picked file URLs to `onComplete`, or the
// cancellation to `onDismiss`.
//
// makeCoordinator() gives the picker's delegate (its `parent` a copy of this
// DocPicker); makeUIViewController() makes the picker in import mode (the app
// gets its own copy of each file) with that delegate. The caller keeps the
// coordinator alive while the picker is shown (the picker holds it weakly).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/DocumentPickerViewController.h"

namespace tabulo {

inline constexpr const char* kCommaSeparatedTextType = "public.comma-separated-values-text";

struct DocPicker {
  std::vector<std::string> documentTypes;
  bool allowsMultipleSelection = false;
  std::function<void()> onDismiss;
  std::function<void(const std::vector<std::filesystem::path>&)> onComplete;

  class Coordinator;

  std::shared_ptr<Coordinator> makeCoordinator() const;
  std::shared_ptr<platform::DocumentPickerViewController> makeUIViewController(
      std::shared_ptr<platform::UIEnvironment> environment, const std::shared_ptr<Coordinator>& coordinator) const;
  // A picker once made is never changed.
  void updateUIViewController(platform::DocumentPickerViewController&) const {}
};

// The picker's delegate: reports a pick to `parent.onComplete` and a
// cancellation to `parent.onDismiss`.
class DocPicker::Coordinator : public platform::DocumentPickerDelegate {
 public:
  explicit Coordinator(DocPicker parent) : parent(std::move(parent)) {}
  void documentPicker(platform::DocumentPickerViewController& picker,
                      const std::vector<std::filesystem::path>& urls) override;
  void documentPickerWasCancelled(platform::DocumentPickerViewController& picker) override;

  const DocPicker parent;
};

}  // namespace tabulo
