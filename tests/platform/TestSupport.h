// Helpers shared by the platform tests: scratch directories and child processes.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace platform::testing {

// A fresh directory under TABULO_TEST_TMP (or /tmp), removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = std::getenv("TABULO_TEST_TMP");
    std::filesystem::path root = base && *base ? base : "/tmp";
    std::filesystem::create_directories(root);
    std::string templ = (root / "platform-XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~ScratchDirectory() {
    // A test may have taken the owner's permissions away (to provoke a
    // failure); give them back so the directory can be removed.
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

struct ChildResult {
  int exitCode = -1;  // -1 when the child did not exit normally
  std::string output; // stdout and stderr together
};

// Runs `program` with `arguments` and waits for it.
inline ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  ChildResult result;
  if (::pipe2(fds, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return result;
  }
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace platform::testing
