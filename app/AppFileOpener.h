// AppFileOpener — holds a file that another app asked Tabulo to open until the
// document list can take it.
//
// The app's open-URL handler hands every file it receives to `open`. When the
// list's view model is registered as the delegate, the file goes to its
// `openFiles` at once; otherwise it waits as the pending URL, and the list
// takes it (`takePendingURL`) at its next appearance. A file is handed over
// once: handing it to the delegate, or taking it, empties the pending URL, so
// the list does not import the same file again each time it comes back.
//
// Class-wide state, main thread only. The delegate is held weakly.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulo {

class AppFileOpenerDelegate {
 public:
  virtual ~AppFileOpenerDelegate() = default;
  virtual void openFiles(const std::vector<std::filesystem::path>& urls) = 0;
};

class AppFileOpener {
 public:
  AppFileOpener() = delete;

  // Keeps `url` as the pending URL (replacing an earlier one) and, when a
  // delegate is alive, hands it over at once.
  static void open(const std::filesystem::path& url);

  static std::optional<std::filesystem::path> pendingURL();
  // The pending URL, which is given up by this call.
  static std::optional<std::filesystem::path> takePendingURL();

  // Replaces the delegate (weakly held).
  static void setDelegate(std::weak_ptr<AppFileOpenerDelegate> delegate);
  static std::shared_ptr<AppFileOpenerDelegate> delegate();

  // Forgets the pending URL and the delegate (tests start from here).
  static void reset();

  // The local path that a "file:" URL names: "file:///a/b", "file://localhost/a/b"
  // or "file:/a/b", percent-decoded, without query or fragment. None for any
  // other scheme, another host, a relative path, a bad escape or a NUL.
  static std::optional<std::filesystem::path> filePathFromURL(std::string_view url);
  // The "file://" URL of an absolute path, percent-encoded.
  static std::string fileURLFromPath(const std::filesystem::path& path);
};

}  // namespace tabulo
