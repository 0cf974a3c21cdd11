// The driver's kill points, set up without any help from the library: an
// SQLite automatic extension watches every connection the process opens
// (row changes, commits, statements), and a VFS registered as the default
// wraps the system's to see the writes to each write-ahead log. When the
// chosen point is reached for the k-th time, the process sends itself
// SIGKILL.
#pragma once

#include <string>

namespace crash_drill {

// Installs the point named by `pointText` ("point:k", see DrillProtocol.h);
// empty or "random": nothing. False (with a message on standard error) when
// the text names no point. Call before the library opens its database.
bool installKillPoint(const std::string& pointText);

}  // namespace crash_drill
