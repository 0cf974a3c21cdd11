// Atomic file replacement.
//
// `writeFileAtomically` writes the bytes to a temporary file in the target's
// directory, flushes it to disk (fsync), renames it over the target and then
// flushes the directory, so that after a crash the target holds either the
// old bytes or the new ones, never a mix. A write that fails part-way removes
// its temporary file and leaves the target untouched.
//
// `writeFileAtomicallyAt` is the same write inside a directory the caller has
// already opened (and checked): every step goes through that descriptor, so a
// directory swapped for another path in the meantime is never written to, and
// no step follows a symbolic link.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/core/Error.h"

namespace platform {

// The steps of an atomic write, in order; a failed write names the one it
// stopped at, for callers that describe each failure in their own words.
enum class AtomicWriteStep {
  kCreate,          // opening the directory or creating the temporary file
  kSetMode,         // giving the temporary file its permissions
  kWrite,           // writing the bytes
  kFlush,           // fsync of the temporary file
  kClose,           // closing it
  kInterrupted,     // stopped before the rename by the test hook
  kRename,          // renaming it over the target
  kFlushDirectory,  // fsync of the directory: the target is in place, but may not survive a crash
};

struct AtomicWriteOptions {
  // The new file's permissions: less the process's umask, or exactly these
  // with `exactMode`.
  unsigned mode = 0644;
  bool exactMode = false;
  // The name of the temporary files starts with this; empty: ".<name>.tmp-".
  std::string temporaryPrefix;
  // Removes what earlier writes that never reached their rename left behind
  // (files with the temporary prefix) before writing.
  bool removeLeftovers = false;
  // Filled with the step a failed write stopped at.
  AtomicWriteStep* failedStep = nullptr;
};

// Writes `bytes` to `path` atomically with permissions `mode` (before umask).
// Answers false and fills `error` (POSIX domain) on failure.
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                                       Error* error = nullptr, unsigned mode = 0644);
// The same for bytes that lie in pieces, written in order (a gathered write:
// large parts go to the file from where they are, without being joined first).
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                                       Error* error = nullptr, unsigned mode = 0644);
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                                       const AtomicWriteOptions& options, Error* error = nullptr);

// Writes `bytes` to the file `name` of the open directory `directoryFd`.
// `directoryPath` names that directory in error descriptions only.
[[nodiscard]] bool writeFileAtomicallyAt(int directoryFd, const std::string& directoryPath, const std::string& name,
                                         std::span<const std::span<const uint8_t>> pieces,
                                         const AtomicWriteOptions& options, Error* error = nullptr);

// Removes the files of `directoryFd` whose names start with `prefix`: what
// writes that never reached their rename left behind. Best effort.
void removeAtomicWriteLeftovers(int directoryFd, const std::string& prefix);
// The same for the temporary files written next to `path`.
void removeAtomicWriteLeftovers(const std::string& path);

// Tests only: a hook called with the temporary file's path after it has been
// written and flushed, just before the rename. A hook that answers false
// abandons the write there, as if the process had died: the temporary file
// stays behind and the target keeps its old bytes. Pass nullptr to remove it.
void setAtomicWriteHookForTesting(std::function<bool(const std::string& temporaryPath)> hook);

// The prefix of the temporary files written next to `path` (".<name>.tmp-").
std::string atomicWriteTemporaryPrefix(const std::string& path);

}  // namespace platform
