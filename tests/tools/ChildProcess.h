// A program run by a test as a child process: spawned with its arguments and
// this process's environment (less the variables it names, plus its own), one
// pipe from the child to the test on a descriptor the child chooses, and the
// child's other output (standard output and error) appended to a log file.
// The child is killed when the test lets it go.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace tabulo::test {

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> arguments;  // the program first
    std::vector<std::string> environment;  // NAME=value, added to this process's
    std::vector<std::string> removedVariables;  // names of this process's variables left out
    int pipeDescriptor = STDOUT_FILENO;  // where the child writes to the test
    std::filesystem::path log;  // the child's other output
  };

  explicit ChildProcess(const Options& options) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
      const std::string variable(*entry);
      bool removed = false;
      for (const auto& name : options.removedVariables) removed = removed || variable.rfind(name + "=", 0) == 0;
      if (!removed) environment.push_back(variable);
    }
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    std::vector<std::string> arguments = options.arguments;
    std::vector<char*> argv, envp;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], options.pipeDescriptor);
    // Standard output and error that are not the pipe go to the log.
    const std::string log = options.log.string();
    if (options.pipeDescriptor != STDOUT_FILENO) {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (options.pipeDescriptor != STDERR_FILENO) {
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
      }
    } else {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    pipe_ = fds[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (pipe_ >= 0) ::close(pipe_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Waits at most `milliseconds` for what the child wrote on the pipe and
  // appends it to `text`; answers false once the pipe is closed (the child
  // ended or closed it) or when nothing came in time.
  bool readSome(std::string& text, int milliseconds) {
    if (pipe_ < 0 || closed_) return false;
    pollfd ready{pipe_, POLLIN, 0};
    if (::poll(&ready, 1, milliseconds) <= 0) return false;
    char buffer[4096];
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    text.append(buffer, static_cast<size_t>(got));
    return true;
  }
  bool closed() const { return closed_; }

  // Sends `signal` (none: only waits) and answers the wait status, or -1 when
  // the child did not end within `seconds`. What it writes meanwhile is read
  // into `text`, so a child blocked on a full pipe still ends.
  int end(int signal, double seconds, std::string& text) {
    if (pid_ <= 0) return -1;
    if (signal) ::kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        while (readSome(text, 200)) {
        }  // what it wrote before it ended
        return status;
      }
      (void)readSome(text, 20);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int pipe_ = -1;
  bool closed_ = false;
};

}  // namespace tabulo::test
