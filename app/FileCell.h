// FileCell — the list row of one document: an icon, the title and the date
// and time of the last save (or of the creation or import when the document
// was never saved).
//
// The date line is the document's creationDate with the short date style and
// the medium time style in the device's time zone ("12/10/26, 2:45:26 PM").
#pragma once

#include <string>

#include "app/SpreadsheetFile.h"
#include "platform/ui/ViewNode.h"

namespace tabulo {

struct FileCell {
  SpreadsheetFile file;

  // The row's view: a "fileCell" node with the icon, the title and the date.
  platform::ViewNode body() const { return body(file); }
  // The same for `file`, without copying the document into a FileCell.
  static platform::ViewNode body(const SpreadsheetFile& file);

  // `referenceDate` (seconds since 2001-01-01 UTC) in the short date and
  // medium time styles, local time.
  static std::string formattedDate(double referenceDate);
};

}  // namespace tabulo
