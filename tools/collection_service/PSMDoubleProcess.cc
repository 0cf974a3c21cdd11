#include "tools/collection_service/PSMDoubleProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "analytics/attribution/testing/PSMDoubleFrames.h"

extern char** environ;

std::unique_ptr<PSMDoubleProcess> PSMDoubleProcess::start(const std::string& program,
                                                          const std::optional<std::string>& scenarioPath,
                                                          std::string* message) {
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) {
    *message = "cannot make a pipe for the PSM double";
    return nullptr;
  }
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    *message = "cannot make a pipe for the PSM double";
    return nullptr;
  }
  std::vector<std::string> args = {program};
  if (scenarioPath) args.insert(args.end(), {"--scenario", *scenarioPath});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  if (spawned != 0) {
    close(toChild[1]);
    close(fromChild[0]);
    *message = "cannot start the PSM double " + program;
    return nullptr;
  }
  return std::unique_ptr<PSMDoubleProcess>(new PSMDoubleProcess(pid, toChild[1], fromChild[0]));
}

PSMDoubleProcess::~PSMDoubleProcess() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopLocked();
}

void PSMDoubleProcess::stopLocked() {
  if (pid_ <= 0) return;
  close(input_);
  close(output_);
  // The double ends when its input does; give it a moment, then make sure.
  int status = 0;
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::optional<std::string> PSMDoubleProcess::exchange(std::string_view query) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ <= 0) return std::nullopt;
  std::optional<std::string> answer;
  if (tabulo::psm_double::WriteFrame(input_, query)) {
    answer = tabulo::psm_double::ReadFrame(output_, kPSMDoubleAnswerTimeoutSeconds * 1000);
  }
  if (!answer) stopLocked();
  return answer;
}
