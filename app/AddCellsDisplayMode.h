// AddCellsDisplayMode — whether the add cells popup adds rows or columns
// (AddCellsPopupViewController::DisplayMode).
#pragma once

#include <cstdint>

namespace tabulo {

enum class AddCellsDisplayMode : uint8_t { rows = 0, columns = 1 };

}  // namespace tabulo
