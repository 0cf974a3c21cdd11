// Costs of moving work between queues: posting a block and having it run, a
// ping-pong between two serial queues, and a sync round trip.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/dispatch/Queue.h"

namespace {

using platform::SerialQueue;

// Posts a batch of blocks and waits until the last has run.
void BM_PostAndRun(benchmark::State& state) {
  auto queue = SerialQueue::create("bench.post");
  const int64_t batch = state.range(0);
  int64_t ran = 0;
  for (auto _ : state) {
    for (int64_t i = 0; i < batch; ++i) queue->async([&ran] { ++ran; });
    queue->flush();
  }
  benchmark::DoNotOptimize(ran);
  state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_PostAndRun)->Arg(1)->Arg(64)->Arg(1024)->UseRealTime();

// A block bounces between two queues; each bounce is one hop.
void BM_PingPong(benchmark::State& state) {
  auto ping = SerialQueue::create("bench.ping");
  auto pong = SerialQueue::create("bench.pong");
  const int64_t hops = state.range(0);
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  std::function<void(int64_t)> hop = [&](int64_t left) {
    if (left == 0) {
      std::lock_guard lock(mutex);
      done = true;
      cv.notify_one();
      return;
    }
    auto& next = (left % 2) ? pong : ping;
    next->async([&hop, left] { hop(left - 1); });
  };
  for (auto _ : state) {
    {
      std::lock_guard lock(mutex);
      done = false;
    }
    ping->async([&hop, hops] { hop(hops); });
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
  }
  state.SetItemsProcessed(state.iterations() * hops);
}
BENCHMARK(BM_PingPong)->Arg(100)->UseRealTime();

// sync from another thread: post, run, and wake the caller.
void BM_SyncRoundTrip(benchmark::State& state) {
  auto queue = SerialQueue::create("bench.sync");
  int64_t value = 0;
  for (auto _ : state) queue->sync([&value] { ++value; });
  benchmark::DoNotOptimize(value);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncRoundTrip)->UseRealTime();

}  // namespace
