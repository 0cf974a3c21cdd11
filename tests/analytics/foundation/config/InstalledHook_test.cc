#include "analytics/foundation/config/GWLInstalledHook.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class CountingHooks {
 public:
  virtual ~CountingHooks() = default;
  virtual int answer() { return 0; }
};

class Installed : public CountingHooks {
 public:
  int answer() override { return 7; }
};

using Hook = GWLInstalledHook<CountingHooks>;

TEST(InstalledHookTest, AnswersTheDefaultUntilOneIsInstalledAndAfterItIsRemoved) {
  Hook::resetForTesting();
  EXPECT_FALSE(Hook::isInstalled());
  EXPECT_EQ(Hook::get()->answer(), 0);
  EXPECT_EQ(Hook::get(), Hook::get());  // one shared default

  auto installed = std::make_shared<Installed>();
  EXPECT_EQ(Hook::install(installed), nullptr);
  EXPECT_TRUE(Hook::isInstalled());
  EXPECT_EQ(Hook::get()->answer(), 7);

  EXPECT_EQ(Hook::install(nullptr), installed);  // answers the one it replaced
  EXPECT_EQ(Hook::get()->answer(), 0);
}

TEST(InstalledHookTest, AReplacedImplementationLivesWhileACallerHoldsIt) {
  Hook::resetForTesting();
  std::weak_ptr<CountingHooks> watched;
  {
    auto first = std::make_shared<Installed>();
    watched = first;
    Hook::install(first);
  }
  std::shared_ptr<CountingHooks> held = Hook::get();
  Hook::install(std::make_shared<Installed>());
  EXPECT_FALSE(watched.expired());
  held.reset();
  EXPECT_TRUE(watched.expired());
  Hook::resetForTesting();
}

TEST(InstalledHookTest, InstallsAndReadsFromManyThreads) {
  Hook::resetForTesting();
  std::atomic<int> sevens{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        if (t == 0 && i % 50 == 0) Hook::install(std::make_shared<Installed>());
        if (Hook::get()->answer() == 7) ++sevens;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_GT(sevens.load(), 0);
  Hook::resetForTesting();
}

}  // namespace
