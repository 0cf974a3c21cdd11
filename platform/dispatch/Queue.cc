#include "platform/dispatch/Queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/Timer.h"

namespace platform {
namespace {

constexpr const char* kSubsystem = "platform";
constexpr const char* kCategory = "dispatch";

// The queue state whose blocks the calling thread is running, if any.
thread_local const void* tCurrentQueue = nullptr;
// Set on the thread that runs the main queue (run() or drain()).
thread_local bool tIsMainThread = false;

// Runs one block; an exception escaping it is logged, never rethrown.
void runGuarded(const std::string& label, const Queue::Block& block) {
  try {
    block();
  } catch (const std::exception& e) {
    log::write(LogLevel::Error, kSubsystem, kCategory, "",
               "Exception escaped a block on queue " + label + ": " + e.what());
  } catch (...) {
    log::write(LogLevel::Error, kSubsystem, kCategory, "", "Exception escaped a block on queue " + label);
  }
}

void logInlineSync(const std::string& label) {
  log::write(LogLevel::Warning, kSubsystem, kCategory, "",
             "sync called on queue " + label + " from its own thread; running the block inline");
}

// Marks the calling thread as running `queue` for the lifetime of the object.
class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(const void* queue) : previous_(tCurrentQueue) { tCurrentQueue = queue; }
  ~CurrentQueueScope() { tCurrentQueue = previous_; }
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

 private:
  const void* previous_;
};

// Posts `block` through `post` and waits until it has run (or thrown).
template <typename Post>
void postAndWait(const std::string& label, Queue::Block block, Post post) {
  struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  post([done, &label, block = std::move(block)] {
    runGuarded(label, block);
    std::lock_guard lock(done->mutex);
    done->done = true;
    done->cv.notify_all();
  });
  std::unique_lock lock(done->mutex);
  done->cv.wait(lock, [&] { return done->done; });
}

// The threads of a SerialQueue (one) or a ConcurrentQueue (a few): they take
// the posted blocks in FIFO order, each runs one at a time.
struct Workers {
  explicit Workers(std::string label) : label(std::move(label)) {}

  const std::string label;
  std::mutex mutex;
  std::condition_variable cv;
  std::condition_variable idle;
  std::deque<Queue::Block> blocks;
  size_t running = 0;
  bool stopping = false;
  std::vector<std::thread> threads;

  void enqueue(Queue::Block block) {
    {
      std::lock_guard lock(mutex);
      blocks.push_back(std::move(block));
    }
    cv.notify_one();
  }

  // `self` keeps the state alive while a detached thread finishes.
  static void start(const std::shared_ptr<Workers>& self, size_t count) {
    for (size_t i = 0; i < std::max<size_t>(count, 1); ++i) self->threads.emplace_back([self] { loop(self); });
  }

  static void loop(const std::shared_ptr<Workers>& self) {
    CurrentQueueScope scope(self.get());
    std::unique_lock lock(self->mutex);
    for (;;) {
      self->cv.wait(lock, [&] { return self->stopping || !self->blocks.empty(); });
      if (self->blocks.empty()) return;  // stopping, and nothing left to run
      Queue::Block block = std::move(self->blocks.front());
      self->blocks.pop_front();
      ++self->running;
      lock.unlock();
      runGuarded(self->label, block);
      block = nullptr;  // release what the block captured before taking the lock
      lock.lock();
      --self->running;
      if (self->running == 0 && self->blocks.empty()) self->idle.notify_all();
    }
  }

  // Runs what was posted, then ends the threads. When the last owner lets go
  // inside one of the queue's own blocks, that thread cannot join itself: it
  // runs what is left and ends on its own, the state living until then.
  void stop() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    cv.notify_all();
    for (std::thread& thread : threads) {
      if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
      } else {
        thread.join();
      }
    }
  }

  void waitUntilIdle() {
    std::unique_lock lock(mutex);
    idle.wait(lock, [&] { return running == 0 && blocks.empty(); });
  }

  bool isCurrent() const { return tCurrentQueue == this; }
};

}  // namespace

void Queue::after(const std::shared_ptr<Clock>& clock, double seconds, Block block) {
  Timer::schedule(clock, shared_from_this(), seconds, std::move(block));
}

// ---------------------------------------------------------------------------
// SerialQueue

struct SerialQueue::State : Workers {
  using Workers::Workers;
};

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label) {
  return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label)));
}

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>(std::move(label))) {
  Workers::start(state_, 1);
}

SerialQueue::~SerialQueue() { state_->stop(); }

void SerialQueue::async(Block block) { state_->enqueue(std::move(block)); }

void SerialQueue::sync(Block block) {
  if (isCurrent()) {
    logInlineSync(state_->label);
    runGuarded(state_->label, block);
    return;
  }
  postAndWait(state_->label, std::move(block), [this](Block b) { state_->enqueue(std::move(b)); });
}

bool SerialQueue::isCurrent() const { return state_->isCurrent(); }

const std::string& SerialQueue::label() const { return state_->label; }

void SerialQueue::flush() {
  if (isCurrent()) return;
  postAndWait(state_->label, [] {}, [this](Block b) { state_->enqueue(std::move(b)); });
}

// ---------------------------------------------------------------------------
// ConcurrentQueue

struct ConcurrentQueue::State : Workers {
  using Workers::Workers;
};

std::shared_ptr<ConcurrentQueue> ConcurrentQueue::globalDefault() {
  // Never destroyed: blocks may still be posted while the process exits.
  static const auto* queue = new std::shared_ptr<ConcurrentQueue>(create("global.default", 4));
  return *queue;
}

std::shared_ptr<ConcurrentQueue> ConcurrentQueue::create(std::string label, size_t threads) {
  return std::shared_ptr<ConcurrentQueue>(new ConcurrentQueue(std::move(label), threads));
}

ConcurrentQueue::ConcurrentQueue(std::string label, size_t threads) : state_(std::make_shared<State>(std::move(label))) {
  Workers::start(state_, threads);
}

ConcurrentQueue::~ConcurrentQueue() { state_->stop(); }

void ConcurrentQueue::async(Block block) { state_->enqueue(std::move(block)); }

void ConcurrentQueue::sync(Block block) {
  if (isCurrent()) {
    // Another thread of the queue could run it, but one that waits for its
    // own queue may be the last free one: run it here.
    runGuarded(state_->label, block);
    return;
  }
  postAndWait(state_->label, std::move(block), [this](Block b) { state_->enqueue(std::move(b)); });
}

bool ConcurrentQueue::isCurrent() const { return state_->isCurrent(); }

const std::string& ConcurrentQueue::label() const { return state_->label; }

void ConcurrentQueue::waitUntilIdle() {
  if (!isCurrent()) state_->waitUntilIdle();
}

// ---------------------------------------------------------------------------
// MainQueue

struct MainQueue::State {
  const std::string label = "main";
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Block> blocks;
  bool stopRequested = false;

  void enqueue(Block block) {
    {
      std::lock_guard lock(mutex);
      blocks.push_back(std::move(block));
    }
    cv.notify_all();
  }

  // Takes the next block, or an empty one when none is queued.
  Block take() {
    std::lock_guard lock(mutex);
    if (blocks.empty()) return nullptr;
    Block block = std::move(blocks.front());
    blocks.pop_front();
    return block;
  }
};

std::shared_ptr<MainQueue> MainQueue::shared() {
  // Never destroyed: other threads may still post to it while the process exits.
  static const auto* queue = new std::shared_ptr<MainQueue>(create());
  return *queue;
}

std::shared_ptr<MainQueue> MainQueue::create() { return std::shared_ptr<MainQueue>(new MainQueue()); }

MainQueue::MainQueue() : state_(std::make_shared<State>()) {}

bool MainQueue::isMainThread() { return tIsMainThread; }

void MainQueue::async(Block block) { state_->enqueue(std::move(block)); }

void MainQueue::sync(Block block) {
  if (isCurrent()) {
    logInlineSync(state_->label);
    runGuarded(state_->label, block);
    return;
  }
  postAndWait(state_->label, std::move(block), [this](Block b) { state_->enqueue(std::move(b)); });
}

bool MainQueue::isCurrent() const { return tIsMainThread; }

const std::string& MainQueue::label() const { return state_->label; }

void MainQueue::run() {
  tIsMainThread = true;
  CurrentQueueScope scope(state_.get());
  std::unique_lock lock(state_->mutex);
  for (;;) {
    state_->cv.wait(lock, [&] { return state_->stopRequested || !state_->blocks.empty(); });
    if (state_->stopRequested) {
      state_->stopRequested = false;
      return;
    }
    Block block = std::move(state_->blocks.front());
    state_->blocks.pop_front();
    lock.unlock();
    runGuarded(state_->label, block);
    block = nullptr;
    lock.lock();
  }
}

void MainQueue::stop() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopRequested = true;
  }
  state_->cv.notify_all();
}

size_t MainQueue::drain() {
  tIsMainThread = true;
  CurrentQueueScope scope(state_.get());
  size_t ran = 0;
  while (Block block = state_->take()) {
    runGuarded(state_->label, block);
    ++ran;
  }
  return ran;
}

}  // namespace platform
