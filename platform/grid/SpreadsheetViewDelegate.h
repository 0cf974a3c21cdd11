// platform::SpreadsheetViewDelegate — what a SpreadsheetView asks and tells
// about touches on its cells. Every answer defaults to yes and every
// notification to nothing.
#pragma once

#include "platform/grid/IndexPath.h"

namespace platform {

class SpreadsheetView;

class SpreadsheetViewDelegate {
 public:
  virtual ~SpreadsheetViewDelegate() = default;

  virtual bool shouldHighlightItemAt(SpreadsheetView&, const IndexPath&) { return true; }
  virtual bool shouldSelectItemAt(SpreadsheetView&, const IndexPath&) { return true; }
  virtual bool shouldDeselectItemAt(SpreadsheetView&, const IndexPath&) { return true; }
  virtual void didSelectItemAt(SpreadsheetView&, const IndexPath&) {}
  virtual void didDeselectItemAt(SpreadsheetView&, const IndexPath&) {}
};

}  // namespace platform
