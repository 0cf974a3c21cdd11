// SheetEditorViewModel — the document as it was when the sheet editor opened.
// Its title names the screen and the PDF export; the editor's data source
// starts from a copy of it. It never changes.
#pragma once

#include "app/SpreadsheetFile.h"

namespace tabulo {

class SheetEditorViewModel {
 public:
  explicit SheetEditorViewModel(SpreadsheetFile file) : originalFile(std::move(file)) {}

  const SpreadsheetFile originalFile;
};

}  // namespace tabulo
