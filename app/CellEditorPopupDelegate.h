// CellEditorPopupDelegate — receives the content that the cell editor popup
// applies to the cell at an index path (the sheet editor).
#pragma once

#include "app/SpreadsheetCellContent.h"
#include "platform/grid/IndexPath.h"

namespace tabulo {

class CellEditorPopupDelegate {
 public:
  virtual ~CellEditorPopupDelegate() = default;
  virtual void applyCellChanges(const SpreadsheetCellContent& content, const platform::IndexPath& indexPath) = 0;
};

}  // namespace tabulo
