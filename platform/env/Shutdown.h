// platform::Shutdown — orderly shutdown on SIGINT and SIGTERM.
//
// `install` routes both signals through a self-pipe: the handler only writes
// one byte (async-signal-safe); a watcher thread reads it and posts the
// shutdown to the main queue. There, in order:
//   1. kApplicationWillTerminateNotification is posted. Owners of databases
//      and files close them in their observers: an observer registered
//      without a queue runs during the post; one registered on the main queue
//      runs right after it, before the next step.
//   2. Every preferences suite is written (PreferencesStore::synchronizeAll).
//   3. The main queue stops, so the host's MainQueue::run() returns.
// After the first signal the default dispositions are back, so a second
// Ctrl-C ends a shutdown that hangs.
//
// Only one Shutdown may be installed at a time; destroying it restores the
// previous signal handlers.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/core/Error.h"

namespace platform {

class MainQueue;
class NotificationCenter;

class Shutdown : public std::enable_shared_from_this<Shutdown> {
 public:
  [[nodiscard]] static std::shared_ptr<Shutdown> install(std::shared_ptr<MainQueue> mainQueue,
                                           std::shared_ptr<NotificationCenter> center, Error* error = nullptr);
  ~Shutdown();
  Shutdown(const Shutdown&) = delete;
  Shutdown& operator=(const Shutdown&) = delete;

  // Starts the same orderly shutdown without a signal (the host's own quit,
  // `--once`): posts it to the main queue. Later calls do nothing.
  void terminate();
  // Whether shutdown has begun.
  bool isTerminating() const { return started_.load(); }
  // Whether the preferences were all written during shutdown (once it ran).
  bool preferencesWritten() const { return preferencesWritten_.load(); }

  Shutdown(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<NotificationCenter> center);

 private:
  void watch();
  void run();  // on the main queue

  std::shared_ptr<MainQueue> mainQueue_;
  std::shared_ptr<NotificationCenter> center_;
  std::thread watcher_;
  std::atomic<bool> started_{false};
  std::atomic<bool> preferencesWritten_{false};
};

}  // namespace platform
