// GWLSVTPPreviewHeaders — the process's server-side tagging preview headers:
// none, or one entry "X-Kxw-Server-Preview" whose value is the preview key an
// opened debug URL carried. Uploads to the server-side tagging endpoint add
// them to their request; while they are set that endpoint is chosen without
// its sampling.
//
// The headers are one immutable map replaced whole: written on the thread
// that handles an opened URL, read on the worker queue. Not persisted.
//
// A preview key becomes a header value only when it is 1 to 256 bytes of
// printable ASCII (0x20 to 0x7e): text from a URL can then never end a header
// line or start another one.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

inline constexpr const char* kGWLSVTPPreviewHeader = "X-Kxw-Server-Preview";
inline constexpr size_t kGWLSVTPPreviewKeyMaxLength = 256;

class GWLSVTPPreviewHeaders {
 public:
  using Headers = std::map<std::string, std::string>;

  // The headers in force; null while there are none. Any thread.
  static std::shared_ptr<const Headers> current();
  // Replaces the headers whole (null: none). Any thread.
  static void replace(std::shared_ptr<const Headers> headers);

  // Whether `key` may be sent as the preview header's value.
  static bool isValidPreviewKey(std::string_view key);
};
