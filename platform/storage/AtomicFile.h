// Atomic file replacement.
//
// `writeFileAtomically` writes the bytes to a temporary file in the target's
// directory, flushes it to disk (fsync), renames it over the target and then
// flushes the directory, so that after a crash the target holds either the
// old bytes or the new ones, never a mix. A write that fails part-way removes
// its temporary file and leaves the target untouched.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/core/Error.h"

namespace platform {

// Writes `bytes` to `path` atomically with permissions `mode` (before umask).
// Answers false and fills `error` (POSIX domain) on failure.
bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes, Error* error = nullptr,
                         unsigned mode = 0644);
// The same for bytes that lie in pieces, written in order (a gathered write:
// large parts go to the file from where they are, without being joined first).
bool writeFileAtomically(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                         Error* error = nullptr, unsigned mode = 0644);

// Tests only: a hook called with the temporary file's path after it has been
// written and flushed, just before the rename. A hook that answers false
// abandons the write there, as if the process had died: the temporary file
// stays behind and the target keeps its old bytes. Pass nullptr to remove it.
void setAtomicWriteHookForTesting(std::function<bool(const std::string& temporaryPath)> hook);

// The prefix of the temporary files written next to `path` (".<name>.tmp-").
std::string atomicWriteTemporaryPrefix(const std::string& path);

}  // namespace platform
