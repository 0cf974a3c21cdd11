// PSMDoubleProcess — the collection service's PSM double (tools/psm_double)
// running as a child process, spoken to in frames over its standard input
// and output (see PSMDoubleFrames.h). The double does the service's crypto,
// so that the service itself never loads BoringSSL.
//
// Exchanges are serialised: one query, then its answer. A double that does
// not answer within kPSMDoubleAnswerTimeoutSeconds, or that broke its pipes,
// is stopped and every later exchange fails.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

inline constexpr int kPSMDoubleAnswerTimeoutSeconds = 20;

class PSMDoubleProcess {
 public:
  // Starts `program`, passing `scenarioPath` when given; null with a message
  // when it cannot be started.
  static std::unique_ptr<PSMDoubleProcess> start(const std::string& program,
                                                 const std::optional<std::string>& scenarioPath,
                                                 std::string* message);
  // Closes the double's input and waits for it to end (killing it if it does not).
  ~PSMDoubleProcess();
  PSMDoubleProcess(const PSMDoubleProcess&) = delete;
  PSMDoubleProcess& operator=(const PSMDoubleProcess&) = delete;

  // The answer frame's payload to one query frame's payload, or nullopt when
  // the double failed.
  std::optional<std::string> exchange(std::string_view query);

 private:
  PSMDoubleProcess(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}
  void stopLocked();

  std::mutex mutex_;
  pid_t pid_;
  int input_;   // the double's standard input
  int output_;  // the double's standard output
};
