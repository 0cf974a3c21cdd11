// platform::Paths — the app's data directory, laid out like an app container.
//
// Everything the app and the library keep lives under one data directory:
//
//   DIR/Library/Preferences           user-defaults suites (<suite>.plist)
//   DIR/Library/Application Support   the library's files and databases
//   DIR/Documents                     the user's documents and exports
//   DIR/tmp                           scratch files
//
// The directory is chosen by `--data-dir DIR` among the process arguments,
// else by the environment variable TABULO_DATA_DIR, else it is "tabulo" in the
// XDG data home ($XDG_DATA_HOME, or ~/.local/share). `open` creates what is
// missing and takes an exclusive lock (flock on DIR/.lock) for as long as the
// Paths object lives: one process at a time owns a data directory, and a second
// one is refused with kDataDirectoryInUseError.
//
// A process-wide current instance (`Paths::current()`) answers where things
// live for code that has no Paths of its own; it is null until the host sets it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace platform {

class Paths {
 public:
  // Error codes in kPathsErrorDomain.
  enum Code : int64_t {
    kDataDirectoryInUseError = 1,      // another process holds the lock
    kDataDirectoryUnavailableError = 2, // cannot be chosen, created or locked
  };

  // The data directory named by `arguments` (the process arguments without
  // the program name), else by `environment`; answers nullopt with an error
  // when `--data-dir` lacks its value or no home directory is known.
  [[nodiscard]] static std::optional<std::string> dataDirectoryFrom(const std::vector<std::string>& arguments,
                                                      const std::map<std::string, std::string>& environment,
                                                      Error* error = nullptr);

  // Creates the layout under `dataDirectory` (made absolute) and locks it.
  [[nodiscard]] static std::shared_ptr<Paths> open(const std::string& dataDirectory, Error* error = nullptr);

  // The process-wide instance set by the host; may be null.
  static std::shared_ptr<Paths> current();
  static void setCurrent(std::shared_ptr<Paths> paths);

  ~Paths();  // releases the lock
  Paths(const Paths&) = delete;
  Paths& operator=(const Paths&) = delete;

  const std::string& dataDirectory() const { return root_; }
  std::string libraryDirectory() const;             // DIR/Library
  std::string preferencesDirectory() const;         // DIR/Library/Preferences
  std::string applicationSupportDirectory() const;  // DIR/Library/Application Support
  std::string documentsDirectory() const;           // DIR/Documents
  std::string temporaryDirectory() const;           // DIR/tmp

 private:
  Paths(std::string root, int lockFd) : root_(std::move(root)), lockFd_(lockFd) {}
  std::string root_;
  int lockFd_;
};

inline constexpr const char* kPathsErrorDomain = "platform.Paths";
inline constexpr const char* kDataDirectoryArgument = "--data-dir";
inline constexpr const char* kDataDirectoryEnvironmentVariable = "TABULO_DATA_DIR";

}  // namespace platform
