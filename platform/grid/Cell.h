// platform::Cell — the grid's cell view, the base of every cell class that is
// registered with a SpreadsheetView.
//
// A cell holds its content in `contentView`, which always covers the cell and
// resizes with it. `selectedBackgroundView`, when set, is shown over the
// cell's background and behind its content while the cell is selected. The
// grid sets the frame on layout and the selected state.
//
// Before the grid hands a cell out again for another position it calls
// `prepareForReuse`, where a subclass drops what it showed (text, image), so a
// reused cell never shows a value that the data source did not set for its new
// position.
#pragma once

#include <memory>
#include <string>

#include "platform/grid/View.h"

namespace platform {

class Cell : public View {
 public:
  explicit Cell(Rect frame = {});

  const std::shared_ptr<View>& contentView() const { return contentView_; }

  const std::shared_ptr<View>& selectedBackgroundView() const { return selectedBackgroundView_; }
  void setSelectedBackgroundView(std::shared_ptr<View> view);

  bool isSelected() const { return selected_; }
  void setSelected(bool selected);

  // Resets the state common to all cells (background colour, selection);
  // subclasses call this first and then reset their own content.
  virtual void prepareForReuse();

  void setFrame(const Rect& frame) override;

  // The identifier the grid made this cell for; empty for a cell made outside
  // the grid, which the grid never reuses.
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }

 private:
  friend class SpreadsheetView;

  std::string reuseIdentifier_;
  std::shared_ptr<View> contentView_;
  std::shared_ptr<View> selectedBackgroundView_;
  bool selected_ = false;
};

}  // namespace platform
