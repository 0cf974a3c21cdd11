#include "app/FileCell.h"

#include <cmath>
#include <ctime>

namespace tabulo {

std::string FileCell::formattedDate(double referenceDate) {
  double seconds = referenceDate + kReferenceDateOffsetFrom1970;
  // Out of the range of time_t (or not a number): no date to show.
  if (!std::isfinite(seconds) || seconds < -6.7e10 || seconds > 6.7e10) return "";
  std::time_t time = static_cast<std::time_t>(std::floor(seconds));
  std::tm local{};
  if (!localtime_r(&time, &local)) return "";
  int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d/%02d, %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                (local.tm_year + 1900) % 100, hour, local.tm_min, local.tm_sec, local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

platform::ViewNode FileCell::body(const SpreadsheetFile& file) {
  platform::ViewNode row("fileCell", file.uuid);
  row.backgroundColor = platform::ViewColor::white();
  row.properties["cornerRadius"] = "18";
  platform::ViewNode icon("image", "icon");
  icon.properties["systemImage"] = "doc.plaintext";
  icon.properties["size"] = "32x32";
  icon.tintColor = platform::ViewColor{0, 122.0 / 255.0, 1, 1};
  row.add(icon);
  platform::ViewNode title("label", "title");
  title.text = file.title;
  title.properties["font"] = "system 16 bold";
  title.properties["lineLimit"] = "1";
  title.properties["truncation"] = "tail";
  row.add(title);
  platform::ViewNode date("label", "date");
  date.text = formattedDate(file.creationDate);
  date.properties["font"] = "system 14 light";
  date.properties["lineLimit"] = "1";
  date.properties["truncation"] = "tail";
  date.textColor = platform::ViewColor{0.5, 0.5, 0.5, 1};
  row.add(date);
  platform::ViewNode chevron("image", "chevron");
  chevron.properties["systemImage"] = "chevron.right";
  chevron.tintColor = platform::ViewColor{0.5, 0.5, 0.5, 1};
  row.add(chevron);
  return row;
}

}  // namespace tabulo
