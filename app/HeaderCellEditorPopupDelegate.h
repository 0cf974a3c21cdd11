// HeaderCellEditorPopupDelegate — receives the content and the size (column
// width for row 0, row height for column 0) that the header cell popup
// applies (the sheet editor).
#pragma once

#include "app/SpreadsheetCellContent.h"
#include "platform/grid/IndexPath.h"

namespace tabulo {

class HeaderCellEditorPopupDelegate {
 public:
  virtual ~HeaderCellEditorPopupDelegate() = default;
  virtual void applyHeaderChanges(const SpreadsheetCellContent& content, const platform::IndexPath& indexPath,
                                  float size) = 0;
};

}  // namespace tabulo
