#include <gtest/gtest.h>

#include <thread>

#include "../FoundationTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "platform/core/Log.h"

namespace {

class FakeEngine : public GWLMeasurementEngine {
 public:
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return config; }
  std::shared_ptr<GWLRemoteConfig> config;
};

class MeasurementRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLMeasurementRegistry::setClassLookup([this](const std::string& name) { return name == presentClass_; });
  }
  void TearDown() override {
    GWLMeasurementRegistry::setClassLookup(nullptr);
    GWLMeasurementRegistry::resetForTesting();
  }

  foundation_test::MonitorSetup setup_;
  std::shared_ptr<GWLMonitor> monitor_ = setup_.make();
  std::string presentClass_ = "CVNAnalytics";
};

constexpr const char* kNotCreatedLine =
    "I-ACS023147 Halcyra Analytics for Corvane has not been created. Please, configure Corvane by calling "
    "[CVNApp configure]";

TEST_F(MeasurementRegistryTest, AccessorsAnswerBeforeAnyEngineExists) {
  platform::log::ScopedCapture capture;
  EXPECT_FALSE(GWLMeasurementRegistry::hasSharedInstance());
  EXPECT_EQ(GWLMeasurementRegistry::sharedInstance(), nullptr);
  EXPECT_EQ(capture.sink().lines(), std::vector<std::string>{kNotCreatedLine});
  EXPECT_EQ(GWLMeasurementRegistry::remoteConfig(), GWLRemoteConfig::defaultInstance());
  EXPECT_EQ(GWLMeasurementRegistry::remoteConfig()->uploadingInterval(), 3600);
  EXPECT_EQ(GWLMeasurementRegistry::monitor(), monitor_);

  presentClass_.clear();
  capture.sink().clear();
  EXPECT_EQ(GWLMeasurementRegistry::sharedInstance(), nullptr);
  EXPECT_TRUE(capture.sink().lines().empty()) << "without the public class the answer is silent";
}

TEST_F(MeasurementRegistryTest, FailedCreationLeavesNoEngineForGood) {
  platform::log::ScopedCapture capture;
  EXPECT_EQ(GWLMeasurementRegistry::initializeSharedInstance([] { return nullptr; }), nullptr);
  EXPECT_FALSE(GWLMeasurementRegistry::hasSharedInstance());
  EXPECT_EQ(GWLMeasurementRegistry::sharedInstance(), nullptr);
  EXPECT_TRUE(capture.sink().lines().empty()) << "no warning once creation was attempted";

  bool secondAttemptRan = false;
  GWLMeasurementRegistry::initializeSharedInstance([&] {
    secondAttemptRan = true;
    return std::make_shared<FakeEngine>();
  });
  EXPECT_FALSE(secondAttemptRan);
  EXPECT_FALSE(GWLMeasurementRegistry::hasSharedInstance());
}

TEST_F(MeasurementRegistryTest, EngineAnswersWithItsOwnConfiguration) {
  auto engine = std::make_shared<FakeEngine>();
  // The engine's initialisers run under the class mutex and may use the accessors.
  GWLMeasurementRegistry::initializeSharedInstance([&] {
    EXPECT_EQ(GWLMeasurementRegistry::remoteConfig(), GWLRemoteConfig::defaultInstance());
    EXPECT_FALSE(GWLMeasurementRegistry::hasSharedInstance());
    return engine;
  });
  EXPECT_TRUE(GWLMeasurementRegistry::hasSharedInstance());
  EXPECT_EQ(GWLMeasurementRegistry::sharedInstance(), engine);
  EXPECT_EQ(GWLMeasurementRegistry::remoteConfig(), GWLRemoteConfig::defaultInstance()) << "no configuration yet";
  engine->config = std::make_shared<GWLRemoteConfig>(monitor_);
  EXPECT_EQ(GWLMeasurementRegistry::remoteConfig(), engine->config);
}

TEST_F(MeasurementRegistryTest, OtherThreadsWaitForTheCreation) {
  std::atomic<bool> creating{false};
  std::atomic<bool> sawEngine{false};
  std::thread creator([&] {
    GWLMeasurementRegistry::initializeSharedInstance([&]() -> std::shared_ptr<GWLMeasurementEngine> {
      creating = true;
      std::this_thread::yield();
      return std::make_shared<FakeEngine>();
    });
  });
  while (!creating) std::this_thread::yield();
  sawEngine = GWLMeasurementRegistry::hasSharedInstance();
  creator.join();
  EXPECT_TRUE(sawEngine) << "hasSharedInstance waited until the engine existed";
}

TEST(MeasurementRegistryMonitor, OneMonitorForAllThreads) {
  foundation_test::DataDirectory data;
  GWLMeasurementRegistry::resetForTesting();
  std::shared_ptr<GWLMonitor> seen[4];
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = GWLMeasurementRegistry::monitor(); });
  for (auto& thread : threads) thread.join();
  for (auto& monitor : seen) EXPECT_EQ(monitor, seen[0]);
  EXPECT_EQ(seen[0]->libraryVersion(), 120500);
  seen[0]->flush();
  GWLMeasurementRegistry::resetForTesting();
}

}  // namespace
