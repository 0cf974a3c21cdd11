// Starts the local collection service as a child process for a test and
// stops it when the test is done. The service prints its port first.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tabulo::test {

inline std::string collectionServicePath() { return std::string(TABULO_BINARY_DIR) + "/tools/collection_service"; }
inline std::string testCertificatesDirectory() { return std::string(TABULO_SOURCE_DIR) + "/tests/tools/certificates"; }

class CollectionServiceProcess {
 public:
  // Starts the service with `arguments` (besides "--port 0"); port() is 0 when it could not start.
  explicit CollectionServiceProcess(std::vector<std::string> arguments = {}) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> args = {collectionServicePath(), "--port", "0", "--max-seconds", "120"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    // The first line is the port; wait for it at most 10 seconds.
    std::string line;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
      char buffer[64];
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (line.find('\n') != std::string::npos) port_ = std::atoi(line.c_str());
  }
  ~CollectionServiceProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  CollectionServiceProcess(const CollectionServiceProcess&) = delete;
  CollectionServiceProcess& operator=(const CollectionServiceProcess&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace tabulo::test
