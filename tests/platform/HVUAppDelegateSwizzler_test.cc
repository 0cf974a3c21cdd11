#include "platform/appdelegate/HVUAppDelegateSwizzler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "TestTmp.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

class Recorder : public ApplicationDelegate {
 public:
  Recorder(std::string name, std::vector<std::string>& calls, bool handles)
      : name_(std::move(name)), calls_(calls), handles_(handles) {}
  bool openURL(const std::string& url, const Dictionary&) override {
    calls_.push_back(name_ + " open " + url);
    return handles_;
  }
  bool continueUserActivity(const UserActivity& activity, const RestorationHandler&) override {
    calls_.push_back(name_ + " activity " + activity.webpageURL.value_or(""));
    return handles_;
  }
  void handleEventsForBackgroundURLSession(const std::string& identifier, const std::function<void()>& done) override {
    calls_.push_back(name_ + " session " + identifier);
    done();
  }

 private:
  std::string name_;
  std::vector<std::string>& calls_;
  bool handles_;
};

std::shared_ptr<AppEnvironment> environmentWithInfo(const Dictionary& info) {
  tabulo_test::TestTmp tmp;  // the environment has read the file once it is made
  const std::string path = (tmp.path() / "Info.plist").string();
  EXPECT_TRUE(PropertyList::writeFile(path, Object(info), PropertyListFormat::XML));
  AppEnvironment::Configuration configuration;
  configuration.infoDictionaryPath = path;
  return AppEnvironment::create(configuration);
}

TEST(HVUAppDelegateSwizzler, TheAppDelegateThenEachInterceptorOnTheMainQueue) {
  auto main = MainQueue::create();
  auto swizzler = HVUAppDelegateSwizzler::create({environmentWithInfo({}), main});
  std::vector<std::string> calls;
  auto app = std::make_shared<Recorder>("app", calls, false);
  auto first = std::make_shared<Recorder>("first", calls, false);
  auto second = std::make_shared<Recorder>("second", calls, true);
  swizzler->setAppDelegate(app);
  swizzler->registerAppDelegateInterceptor(first);
  const std::string secondID = swizzler->registerAppDelegateInterceptor(second);

  // Before the proxy is in place, only the app delegate hears the calls.
  main->async([&] { EXPECT_FALSE(swizzler->openURL("tabulo://a")); });
  main->drain();
  EXPECT_EQ(calls, std::vector<std::string>{"app open tabulo://a"});

  calls.clear();
  swizzler->proxyOriginalDelegate();
  std::thread([&] { (void)swizzler->openURL("tabulo://b"); }).join();  // off the main thread: posted there
  EXPECT_TRUE(calls.empty());
  int done = 0;
  main->async([&] {
    EXPECT_TRUE(swizzler->continueUserActivity({kUserActivityTypeBrowsingWeb, "https://x.example/p", std::nullopt}));
    swizzler->handleEventsForBackgroundURLSession("s1", [&] { ++done; });
  });
  main->drain();
  EXPECT_EQ(calls, (std::vector<std::string>{"app open tabulo://b", "first open tabulo://b", "second open tabulo://b",
                                             "app activity https://x.example/p", "first activity https://x.example/p",
                                             "second activity https://x.example/p", "app session s1",
                                             "first session s1", "second session s1"}));
  EXPECT_EQ(done, 3);

  calls.clear();
  swizzler->unregisterAppDelegateInterceptor(secondID);
  first.reset();  // held weakly
  main->async([&] { EXPECT_FALSE(swizzler->openURL("tabulo://c")); });
  main->drain();
  EXPECT_EQ(calls, std::vector<std::string>{"app open tabulo://c"});
}

TEST(HVUAppDelegateSwizzler, TheInfoDictionaryTurnsTheProxyOff) {
  struct Case {
    std::optional<Object> value;
    bool enabled;
  } cases[] = {
      {std::nullopt, true},       {Object(true), true},  {Object(false), false}, {Object(0), false},
      {Object("NO"), false},      {Object("YES"), true}, {Object(Array{}), true},
  };
  for (const auto& c : cases) {
    Dictionary info;
    if (c.value) info[kAppDelegateProxyEnabledInfoKey] = *c.value;
    auto swizzler = HVUAppDelegateSwizzler::create({environmentWithInfo(info), MainQueue::create()});
    EXPECT_EQ(swizzler->isAppDelegateProxyEnabled(), c.enabled) << (c.value ? c.value->description() : "absent");
    swizzler->proxyOriginalDelegate();
    EXPECT_EQ(swizzler->isProxyInstalled(), c.enabled);
  }
}

}  // namespace
}  // namespace platform
