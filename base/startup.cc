// The registrations that run at program start: the logging hooks, the
// retired flag, the per-thread data key. (The "module" initializers register
// themselves in initializer.cc.) The library is linked whole into every
// program, so these run even when nothing names this unit.
#include "absl/flags/flag.h"
#include "base/logging_hooks.h"
#include "base/per_thread.h"

// Accepted on the command line and ignored.
ABSL_RETIRED_FLAG(std::string, debugger_command, "", "retired");

namespace base {
namespace {

struct StartUp {
  StartUp() {
    logging_internal::InstallLoggingHooks();
    // Makes the calling thread's block and with it the thread-local key.
    (void)PerThread::Data();
  }
};

StartUp start_up;

}  // namespace
}  // namespace base
