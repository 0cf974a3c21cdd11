#include "platform/util/ThreadSafeDictionary.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(ThreadSafeDictionary, StoresReplacesAndRemoves) {
  HVUMutableDictionary dictionary;
  EXPECT_FALSE(dictionary.get("a"));
  dictionary.set("a", Object(1));
  dictionary.set("a", Object("one"));
  dictionary.set("b", Object(true));
  ASSERT_TRUE(dictionary.get("a"));
  EXPECT_EQ(*dictionary.get("a"), Object("one"));

  Dictionary snapshot = dictionary.dictionary();
  dictionary.set("c", Object(2.5));
  EXPECT_EQ(snapshot.size(), 2u);  // a copy, not a view

  dictionary.set("a", std::nullopt);  // nothing leaves no entry
  dictionary.set("b", Object());      // neither does null
  dictionary.set("never", Object(nullptr));
  EXPECT_EQ(dictionary.dictionary(), (Dictionary{{"c", 2.5}}));

  dictionary.remove("c");
  dictionary.remove("missing");
  EXPECT_TRUE(dictionary.dictionary().empty());

  dictionary.set("x", Object(1));
  dictionary.removeAll();
  EXPECT_FALSE(dictionary.get("x"));
}

TEST(ThreadSafeDictionary, ManyThreadsReadAndWrite) {
  ThreadSafeDictionary dictionary;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        std::string key = std::to_string(t) + "/" + std::to_string(i);
        dictionary.set(key, Object(i));
        auto value = dictionary.get(key);
        if (!value || value->intValue() != i) ADD_FAILURE() << key;
        if (i % 2) dictionary.remove(key);
        if (i % 50 == 0) (void)dictionary.dictionary();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(dictionary.dictionary().size(), 4u * 250u);
}

}  // namespace
}  // namespace platform
