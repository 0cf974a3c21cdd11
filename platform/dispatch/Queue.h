// platform::Queue, SerialQueue and MainQueue — serial dispatch queues.
//
// A SerialQueue runs its blocks in FIFO order on one thread of its own.
// `sync` from the queue's own thread runs the block inline and logs a line
// instead of deadlocking. `after` runs a block on the queue once a delay has
// passed on the given clock (see Timer.h).
//
// A ConcurrentQueue runs its blocks on a few threads of its own, in FIFO
// order of starting but side by side; the process-wide one of default
// priority (`globalDefault`) stands for the platform's global queue.
//
// The MainQueue is the queue of the app's main loop: it has no thread; the
// thread that calls `run()` (the host's loop) or `drain()` (tests) runs its
// blocks and counts as the main thread.
//
// Blocks must not throw: an exception escaping a block is caught and logged.
//
// Queues are owned by std::shared_ptr. Destroying a SerialQueue runs the
// blocks already posted and then ends its thread; when the last owner goes
// away on the queue's own thread (inside one of its blocks), the thread
// finishes the remaining blocks on its own instead of waiting for itself.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class Clock;

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  using Block = std::function<void()>;
  virtual ~Queue() = default;

  virtual void async(Block block) = 0;
  // Runs `block` on the queue and waits for it. Called on the queue's own
  // thread, runs the block at once and logs a warning instead of deadlocking.
  virtual void sync(Block block) = 0;
  // Whether the calling thread is the one running this queue's blocks.
  virtual bool isCurrent() const = 0;
  virtual const std::string& label() const = 0;

  // Runs `block` on this queue once `seconds` of `clock` uptime have passed.
  void after(const std::shared_ptr<Clock>& clock, double seconds, Block block);
};

class SerialQueue : public Queue {
 public:
  static std::shared_ptr<SerialQueue> create(std::string label);
  ~SerialQueue() override;  // runs the blocks already posted, then stops the thread

  void async(Block block) override;
  void sync(Block block) override;
  bool isCurrent() const override;
  const std::string& label() const override;

  // Blocks until every block posted before this call has run (tests). On the
  // queue's own thread it returns at once.
  void flush();

  struct State;

 private:
  explicit SerialQueue(std::string label);
  std::shared_ptr<State> state_;
};

class ConcurrentQueue : public Queue {
 public:
  // The process-wide queue of default priority (four threads), never destroyed.
  static std::shared_ptr<ConcurrentQueue> globalDefault();
  // A queue of its own with `threads` threads (at least one).
  static std::shared_ptr<ConcurrentQueue> create(std::string label, size_t threads);
  ~ConcurrentQueue() override;  // runs the blocks already posted, then stops the threads

  void async(Block block) override;
  void sync(Block block) override;
  // Whether the calling thread is one of this queue's threads.
  bool isCurrent() const override;
  const std::string& label() const override;

  // Blocks until no block is waiting or running (tests). On one of the
  // queue's own threads it returns at once.
  void waitUntilIdle();

  struct State;

 private:
  ConcurrentQueue(std::string label, size_t threads);
  std::shared_ptr<State> state_;
};

class MainQueue : public Queue {
 public:
  // The process-wide main queue.
  static std::shared_ptr<MainQueue> shared();
  // A separate main queue, for tests that want one of their own.
  static std::shared_ptr<MainQueue> create();
  // Whether the calling thread is the main thread (the one running run() or drain()).
  static bool isMainThread();

  void async(Block block) override;
  // From another thread: waits until the main loop has run the block (so some
  // thread must be running run() or drain()).
  void sync(Block block) override;
  // Same answer as isMainThread().
  bool isCurrent() const override;
  const std::string& label() const override;

  // Runs blocks as they arrive until stop() is called; the calling thread
  // becomes the main thread. A stop() that comes before run() makes the next
  // run() return at once; blocks still queued stay for the next run or drain.
  void run();
  // Ends run() after the block it is running; safe from any thread.
  void stop();
  // Runs every block that is queued, including blocks those blocks post, and
  // answers how many ran (tests). The calling thread becomes the main thread.
  size_t drain();

  struct State;

 private:
  MainQueue();
  std::shared_ptr<State> state_;
};

}  // namespace platform
