#include "platform/env/Shutdown.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <mutex>

#include "platform/core/Log.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/PreferencesStore.h"

namespace platform {
namespace {

// The write end of the self-pipe, read by the signal handler.
std::atomic<int> gSignalPipeWrite{-1};
std::mutex gInstallMutex;
bool gInstalled = false;
struct sigaction gPreviousInt {};
struct sigaction gPreviousTerm {};

constexpr char kStopByte = 0;

void onSignal(int signo) {
  int saved = errno;
  int fd = gSignalPipeWrite.load(std::memory_order_relaxed);
  if (fd >= 0) {
    char byte = static_cast<char>(signo);
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

void restoreDefaults() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(SIGINT, &dfl, nullptr);
  ::sigaction(SIGTERM, &dfl, nullptr);
}

int gPipeRead = -1;
int gPipeWrite = -1;

}  // namespace

Shutdown::Shutdown(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<NotificationCenter> center)
    : mainQueue_(std::move(mainQueue)), center_(std::move(center)) {}

std::shared_ptr<Shutdown> Shutdown::install(std::shared_ptr<MainQueue> mainQueue,
                                            std::shared_ptr<NotificationCenter> center, Error* error) {
  std::lock_guard lock(gInstallMutex);
  if (gInstalled) {
    setError(error, Error(kPlatformErrorDomain, 1, "a shutdown handler is already installed"));
    return nullptr;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    setError(error, posixError(errno, "cannot create the shutdown pipe"));
    return nullptr;
  }
  gPipeRead = fds[0];
  gPipeWrite = fds[1];
  gSignalPipeWrite.store(fds[1]);

  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &gPreviousInt);
  ::sigaction(SIGTERM, &action, &gPreviousTerm);
  gInstalled = true;

  auto shutdown = std::make_shared<Shutdown>(std::move(mainQueue), std::move(center));
  std::weak_ptr<Shutdown> weak = shutdown;
  shutdown->watcher_ = std::thread([weak, fd = fds[0]] {
    for (;;) {
      struct pollfd p {fd, POLLIN, 0};
      int rc = ::poll(&p, 1, -1);
      if (rc < 0 && errno == EINTR) continue;
      char byte = kStopByte;
      ssize_t n = ::read(fd, &byte, 1);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0 || byte == kStopByte) return;
      // A second signal now ends the process the default way.
      restoreDefaults();
      if (auto self = weak.lock()) self->terminate();
    }
  });
  return shutdown;
}

Shutdown::~Shutdown() {
  std::lock_guard lock(gInstallMutex);
  ::sigaction(SIGINT, &gPreviousInt, nullptr);
  ::sigaction(SIGTERM, &gPreviousTerm, nullptr);
  gSignalPipeWrite.store(-1);
  char stop = kStopByte;
  ssize_t ignored = ::write(gPipeWrite, &stop, 1);
  (void)ignored;
  if (watcher_.joinable()) {
    if (watcher_.get_id() == std::this_thread::get_id()) {
      watcher_.detach();
    } else {
      watcher_.join();
    }
  }
  ::close(gPipeRead);
  ::close(gPipeWrite);
  gPipeRead = gPipeWrite = -1;
  gInstalled = false;
}

void Shutdown::terminate() {
  if (started_.exchange(true)) return;
  std::weak_ptr<Shutdown> weak = weak_from_this();
  mainQueue_->async([weak] {
    if (auto self = weak.lock()) self->run();
  });
}

void Shutdown::run() {
  log::write(LogLevel::Notice, "platform", "shutdown", "", "Shutting down");
  if (center_) center_->post(kApplicationWillTerminateNotification);
  // Observers on the main queue were queued by the post; this block runs after them.
  std::weak_ptr<Shutdown> weak = weak_from_this();
  mainQueue_->async([weak] {
    auto self = weak.lock();
    if (!self) return;
    bool written = PreferencesStore::synchronizeAll();
    self->preferencesWritten_.store(written);
    if (!written) log::write(LogLevel::Error, "platform", "shutdown", "", "Some preferences could not be written");
    self->mainQueue_->stop();
  });
}

}  // namespace platform
