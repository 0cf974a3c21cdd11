// AddCellsPopupDelegate — appends the rows or columns that the add cells
// popup asks for (the sheet editor).
#pragma once

#include <cstdint>

#include "app/AddCellsDisplayMode.h"

namespace tabulo {

class AddCellsPopupDelegate {
 public:
  virtual ~AddCellsPopupDelegate() = default;
  virtual void applyAddCells(AddCellsDisplayMode mode, int64_t count) = 0;
};

}  // namespace tabulo
