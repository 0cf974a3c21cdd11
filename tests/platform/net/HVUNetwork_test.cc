#include "platform/net/HVUNetwork.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/dispatch/Queue.h"
#include "tools/CollectionServiceProcess.h"

namespace platform {
namespace {

using tabulo::test::CollectionServiceProcess;
using tabulo::test::testCertificatesDirectory;

// Collects the completions of requests on a queue of its own.
class Completions {
 public:
  struct Result {
    std::shared_ptr<const HTTPURLResponse> response;
    std::vector<uint8_t> body;
    std::optional<Error> error;
    bool onQueue = false;
  };

  std::shared_ptr<SerialQueue> queue = SerialQueue::create("test.completions");

  HVUNetwork::CompletionHandler handler() {
    return [this](std::shared_ptr<const HTTPURLResponse> response, std::vector<uint8_t> body,
                  std::optional<Error> error) {
      std::lock_guard<std::mutex> lock(mutex_);
      results_.push_back({std::move(response), std::move(body), std::move(error), queue->isCurrent()});
      changed_.notify_all();
    };
  }

  // Waits (bounded) until `count` completions have arrived, then answers the first.
  Result waitFor(size_t count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return results_.size() >= count; });
    return results_.empty() ? Result{} : results_.front();
  }
  size_t count() {
    queue->flush();
    std::lock_guard<std::mutex> lock(mutex_);
    return results_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Result> results_;
};

std::string text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class HVUNetworkTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::path(std::getenv("TABULO_TEST_TMP") ? std::getenv("TABULO_TEST_TMP") : "/tmp") /
            ("net-" + std::to_string(getpid()) + "-" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "configs");
    std::ofstream(root_ / "configs" / "app1.pb", std::ios::binary) << std::string(100, 'c');
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // Switches a failure of the service on for its next answer.
  void control(const CollectionServiceProcess& service, const std::string& path) {
    HVUNetwork client;
    Completions done;
    client.postURL(service.url(path), {}, done.queue, false, done.handler());
    auto result = done.waitFor();
    ASSERT_TRUE(result.response) << path;
    ASSERT_EQ(result.response->statusCode, 204) << path;
  }

  std::filesystem::path root_;
};

TEST_F(HVUNetworkTest, SuccessfulExchangesEndInOneCompletionOnTheGivenQueue) {
  CollectionServiceProcess service({"--config-dir", (root_ / "configs").string()});
  ASSERT_GT(service.port(), 0);
  Completions done;
  {
    HVUNetwork client;
    std::string id = client.getURL(service.url("/config/app/app1"), {}, done.queue, false, done.handler());
    EXPECT_FALSE(id.empty());
    auto result = done.waitFor();
    ASSERT_TRUE(result.response) << result.error->toString();
    EXPECT_FALSE(result.error);
    EXPECT_TRUE(result.onQueue);
    EXPECT_EQ(result.response->statusCode, kHVUNetworkHTTPStatusOK);
    EXPECT_EQ(text(result.body), std::string(100, 'c'));
    auto tag = result.response->valueForHTTPHeaderField("ETag");
    ASSERT_TRUE(tag);
    EXPECT_TRUE(result.response->valueForHTTPHeaderField("Last-Modified"));

    // Asked again with its entity tag, the service answers 304 without a body.
    Completions again;
    client.getURL(service.url("/config/app/app1"), {{"If-None-Match", *tag}}, again.queue, false, again.handler());
    auto notModified = again.waitFor();
    ASSERT_TRUE(notModified.response);
    EXPECT_EQ(notModified.response->statusCode, kHVUNetworkHTTPStatusCodeNotModified);
    EXPECT_TRUE(notModified.body.empty());

    // An empty batch is a valid upload.
    Completions upload;
    const std::vector<uint8_t> empty;
    EXPECT_FALSE(client.postURL(service.url("/a"), {{"Content-Type", "application/x-protobuf"}}, empty, upload.queue,
                                false, upload.handler())
                     .empty());
    auto uploaded = upload.waitFor();
    ASSERT_TRUE(uploaded.response);
    EXPECT_EQ(uploaded.response->statusCode, kHVUNetworkHTTPStatusNoContent);
  }
  EXPECT_EQ(done.count(), 1u);
}

TEST_F(HVUNetworkTest, HTTPErrorsAreAnswersNotErrors) {
  CollectionServiceProcess service({"--config-dir", (root_ / "configs").string()});
  ASSERT_GT(service.port(), 0);
  for (int status : {kHVUNetworkHTTPStatusCodeUnavailable, kHVUNetworkHTTPStatusCodeCannotAcceptTraffic}) {
    control(service, "/control/fail?status=" + std::to_string(status));
    Completions done;
    {
      HVUNetwork client;
      client.getURL(service.url("/config/app/app1"), {}, done.queue, false, done.handler());
      auto result = done.waitFor();
      ASSERT_TRUE(result.response);
      EXPECT_FALSE(result.error);
      EXPECT_EQ(result.response->statusCode, status);
    }
    EXPECT_EQ(done.count(), 1u);
  }
  Completions missing;
  HVUNetwork client;
  client.getURL(service.url("/config/app/unknown"), {}, missing.queue, false, missing.handler());
  ASSERT_TRUE(missing.waitFor().response);
  EXPECT_EQ(missing.waitFor().response->statusCode, kHVUNetworkHTTPStatusCodeNotFound);
}

TEST_F(HVUNetworkTest, RefusedConnectionEndsInOneError) {
  // A port that was free a moment ago and that nothing listens on.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  Completions done;
  {
    HVUNetwork client;
    client.getURL("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", {}, done.queue, false,
                  done.handler());
    auto result = done.waitFor();
    EXPECT_FALSE(result.response);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, kHVUNetworkErrorCannotConnect);
  }
  EXPECT_EQ(done.count(), 1u);
}

TEST_F(HVUNetworkTest, SlowAnswerTimesOutAndDroppedConnectionIsLost) {
  CollectionServiceProcess service({"--config-dir", (root_ / "configs").string()});
  ASSERT_GT(service.port(), 0);
  control(service, "/control/slow?seconds=10");
  Completions done;
  {
    HVUNetwork client;
    client.setTimeoutInterval(0.3);
    client.getURL(service.url("/config/app/app1"), {}, done.queue, false, done.handler());
    auto result = done.waitFor();
    EXPECT_FALSE(result.response);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, kHVUNetworkErrorTimedOut);
  }
  EXPECT_EQ(done.count(), 1u);

  control(service, "/control/drop");
  Completions dropped;
  HVUNetwork client;
  client.getURL(service.url("/config/app/app1"), {}, dropped.queue, false, dropped.handler());
  auto result = dropped.waitFor();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code, kHVUNetworkErrorConnectionLost);
}

TEST_F(HVUNetworkTest, DestroyingTheClientCancelsRequestsInFlight) {
  CollectionServiceProcess service({"--config-dir", (root_ / "configs").string()});
  ASSERT_GT(service.port(), 0);
  control(service, "/control/slow?seconds=10&count=2");
  Completions done;
  {
    HVUNetwork client;
    client.getURL(service.url("/config/app/app1"), {}, done.queue, false, done.handler());
    client.getURL(service.url("/config/app/app1"), {}, done.queue, false, done.handler());
    EXPECT_TRUE(client.hasUploadInProgress());
  }
  EXPECT_EQ(done.count(), 2u);
  auto result = done.waitFor();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code, kHVUNetworkErrorCancelled);
}

TEST_F(HVUNetworkTest, RequestsThatCannotBeMadeAnswerAnEmptyIdentifierAndCompleteLater) {
  struct Case {
    const char* url;
    HVUNetwork::Headers headers;
    int64_t code;
  };
  const Case cases[] = {
      {"ftp://127.0.0.1/", {}, kHVUNetworkErrorInvalidURL},
      {"not a url", {}, kHVUNetworkErrorInvalidURL},
      {"http://127.0.0.1:9/", {{"X-Test", "a\r\nInjected: 1"}}, kHVUNetworkErrorInvalidRequest},
      {"http://127.0.0.1:9/", {{"Bad Name", "a"}}, kHVUNetworkErrorInvalidRequest},
  };
  for (const Case& c : cases) {
    auto main = MainQueue::create();
    int calls = 0;
    std::optional<Error> error;
    HVUNetwork client;
    std::string id = client.getURL(c.url, c.headers, main, false,
                                   [&](std::shared_ptr<const HTTPURLResponse> response, std::vector<uint8_t>,
                                       std::optional<Error> e) {
                                     EXPECT_FALSE(response);
                                     error = e;
                                     ++calls;
                                   });
    EXPECT_TRUE(id.empty()) << c.url;
    EXPECT_EQ(calls, 0) << "the completion comes after the identifier";
    main->drain();
    EXPECT_EQ(calls, 1) << c.url;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, c.code) << c.url;
  }
}

TEST_F(HVUNetworkTest, BodiesOverTheCapAreRefused) {
  CollectionServiceProcess service({"--config-dir", (root_ / "configs").string()});
  ASSERT_GT(service.port(), 0);
  Completions done;
  HVUNetwork client;
  client.setMaxBodyBytes(99);
  client.getURL(service.url("/config/app/app1"), {}, done.queue, false, done.handler());
  auto result = done.waitFor();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code, kHVUNetworkErrorResponseTooLarge);
}

TEST_F(HVUNetworkTest, HTTPSWithATrustedAndAnUntrustedCertificate) {
  const std::string certificates = testCertificatesDirectory();
  CollectionServiceProcess service({"--config-dir", (root_ / "configs").string(), "--tls",
                                    certificates + "/server.pem", certificates + "/server.key"});
  ASSERT_GT(service.port(), 0);
  for (const std::string host : {"127.0.0.1", "localhost"}) {
    Completions trusted;
    HVUNetwork client;
    client.setTrustFile(certificates + "/ca.pem");
    client.getURL("https://" + host + ":" + std::to_string(service.port()) + "/config/app/app1", {}, trusted.queue,
                  false, trusted.handler());
    auto result = trusted.waitFor();
    ASSERT_TRUE(result.response) << host << " " << result.error->toString();
    EXPECT_EQ(result.response->statusCode, kHVUNetworkHTTPStatusOK);
    EXPECT_EQ(result.body.size(), 100u);
  }

  Completions untrusted;
  {
    HVUNetwork client;  // the system's trust file, which does not hold the test CA
    client.getURL(service.url("/config/app/app1", "https"), {}, untrusted.queue, false, untrusted.handler());
    auto result = untrusted.waitFor();
    EXPECT_FALSE(result.response);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, kHVUNetworkErrorSecureConnectionFailed);
  }
  EXPECT_EQ(untrusted.count(), 1u);

  // Plain HTTP to the TLS port is no answer either.
  Completions plain;
  HVUNetwork client;
  client.setTimeoutInterval(5);
  client.getURL(service.url("/config/app/app1"), {}, plain.queue, false, plain.handler());
  EXPECT_TRUE(plain.waitFor().error);
}

TEST_F(HVUNetworkTest, LoopbackIsReachableAndBackgroundEventsFinishAtOnce) {
  HVUNetwork client(std::string("127.0.0.1"));
  EXPECT_TRUE(client.isNetworkConnected());

  // A test may take connectivity away; the change reaches the delegate.
  struct Delegate : HVUNetworkReachabilityDelegate {
    void reachabilityDidChange() override { ++changes; }
    std::atomic<int> changes{0};
  };
  auto delegate = std::make_shared<Delegate>();
  client.setReachabilityDelegate(delegate);
  client.setReachabilityOverrideForTesting(false);
  EXPECT_FALSE(client.isNetworkConnected());
  EXPECT_FALSE(client.isNetworkConnected());
  client.setReachabilityOverrideForTesting(std::nullopt);
  EXPECT_TRUE(client.isNetworkConnected());
  EXPECT_EQ(delegate->changes.load(), 2);

  bool called = false;
  HVUNetwork::handleEventsForBackgroundURLSessionID("session", [&] { called = true; });
  EXPECT_TRUE(called);
}

}  // namespace
// While a delegate is set the client watches the interfaces by itself: a
// change is reported without anyone asking for connectivity.
TEST_F(HVUNetworkTest, TheInterfaceWatchRunsWhileADelegateIsSet) {
  struct Delegate : HVUNetworkReachabilityDelegate {
    void reachabilityDidChange() override {
      std::lock_guard lock(mutex);
      ++changes;
      changed.notify_all();
    }
    bool waitForChanges(int count) {
      std::unique_lock lock(mutex);
      return changed.wait_for(lock, std::chrono::seconds(10), [&] { return changes >= count; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    int changes = 0;
  };
  HVUNetwork client(std::string("127.0.0.1"));
  client.setReachabilityOverrideForTesting(false);
  EXPECT_FALSE(client.isNetworkConnected());
  EXPECT_FALSE(client.isWatchingInterfacesForTesting());

  auto delegate = std::make_shared<Delegate>();
  client.setReachabilityDelegate(delegate);
  ASSERT_TRUE(client.isWatchingInterfacesForTesting());
  client.setReachabilityOverrideForTesting(true);  // the network comes back
  client.pokeInterfaceWatchForTesting();           // and the kernel says something changed
  EXPECT_TRUE(delegate->waitForChanges(1));

  client.setReachabilityDelegate({});
  EXPECT_FALSE(client.isWatchingInterfacesForTesting());
  // A delegate that is gone starts no watch either.
  client.setReachabilityDelegate(std::weak_ptr<Delegate>());
  EXPECT_FALSE(client.isWatchingInterfacesForTesting());
  // The client ends a watch that still runs when it goes.
  auto watched = std::make_unique<HVUNetwork>(std::string("127.0.0.1"));
  watched->setReachabilityDelegate(delegate);
  EXPECT_TRUE(watched->isWatchingInterfacesForTesting());
  watched.reset();
}

}  // namespace platform
