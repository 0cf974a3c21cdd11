// The collection service's attribution routes and request capture, spoken to
// with plain HTTP; the clients' own exchanges are tested with the clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "CollectionServiceProcess.h"
#include "LoopbackHTTP.h"
#include "analytics/wire/GWLPBSkAdNetworkConversionValueRequest.h"
#include "analytics/wire/GWLPBSkAdNetworkConversionValueResponse.h"
#include "platform/compression/Gzip.h"
#include "tests/platform/TestSupport.h"

namespace {

using tabulo::test::CollectionServiceProcess;

std::string psmDoublePath() { return std::string(TABULO_BINARY_DIR) + "/tools/psm_double"; }

int post(const std::string& url, const std::string& body) {
  return tabulo::test::exchange("POST", url, std::vector<uint8_t>(body.begin(), body.end())).status;
}

tabulo::test::HTTPAnswer get(const std::string& url) { return tabulo::test::exchange("GET", url); }

TEST(DeepLinkRoutes, AnswerTheScenariosLinkOrNoContent) {
  platform::testing::ScratchDirectory directory;
  platform::testing::writeFile(directory / "link.json", R"({"deeplink": {"answer":
      {"deeplink": "tabulo://open?utm_source=ads", "hclid": "hc-1", "hbraid": "hb-1", "timestamp": 1700000000}}})");
  platform::testing::writeFile(directory / "none.json", R"({"deeplink": {"answer": null}})");
  const std::string lookup = "/adconv/app/deeplink?sdk_version=120500&rdid=R&id_type=idfa&bundleid=B&retry=0";

  CollectionServiceProcess withLink({"--attribution", directory / "link.json"});
  ASSERT_GT(withLink.port(), 0);
  auto answer = get(withLink.url(lookup));
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.text(), R"({"deeplink":"tabulo://open?utm_source=ads","hclid":"hc-1","hbraid":"hb-1",)"
                         R"("timestamp":1700000000})");
  EXPECT_EQ(post(withLink.url("/control/fail?status=500&count=1"), ""), 204);
  EXPECT_EQ(get(withLink.url(lookup)).status, 500);
  EXPECT_EQ(get(withLink.url(lookup)).status, 200);

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--attribution", directory / "none.json"}, std::vector<std::string>{}}) {
    CollectionServiceProcess withoutLink(arguments);
    ASSERT_GT(withoutLink.port(), 0);
    answer = get(withoutLink.url(lookup));
    EXPECT_EQ(answer.status, 204);
    EXPECT_TRUE(answer.body.empty());
  }

  platform::testing::writeFile(directory / "bad.json", R"({"deeplink": ["tabulo://open"]})");
  CollectionServiceProcess badScenario({"--attribution", directory / "bad.json"});
  EXPECT_EQ(badScenario.port(), 0);
}

struct Answer {
  int status = -1;
  std::optional<std::string> contentEncoding;
  std::vector<uint8_t> body;
};

// One POST with its answer's status, content encoding and body.
Answer exchange(const std::string& url, const platform::HVUNetwork::Headers& headers, std::vector<uint8_t> payload) {
  auto answer = tabulo::test::exchange("POST", url, payload, headers);
  return Answer{answer.status,
                answer.response ? answer.response->valueForHTTPHeaderField("Content-Encoding") : std::nullopt,
                std::move(answer.body)};
}

TEST(AttributionRoutes, RefuseWhatTheyCannotAnswer) {
  platform::testing::ScratchDirectory directory;
  {
    CollectionServiceProcess withoutDouble;
    ASSERT_GT(withoutDouble.port(), 0);
    EXPECT_EQ(post(withoutDouble.url("/adconv/app/psm"), R"({"psm_request":""})"), 503);
  }
  CollectionServiceProcess service({"--psm-double", psmDoublePath()});
  ASSERT_GT(service.port(), 0);
  const struct {
    const char* path;
    const char* body;
    int status;
  } cases[] = {
      {"/adconv/app/psm", R"({"psm_request":""})", 200},  // an empty request has an empty answer
      {"/adconv/app/psm", "[1]", 400},
      {"/adconv/app/psm", R"({"psm_request":7})", 400},
      {"/adconv/app/psm", R"({"psm_request":"!!"})", 400},
      {"/muf/psm/groupids?bundle_id=any", R"({"psm_request":"CgM"})", 400},  // bytes that do not decode
  };
  for (const auto& c : cases) EXPECT_EQ(post(service.url(c.path), c.body), c.status) << c.path << " " << c.body;
}

TEST(AttributionRoutes, ServiceDoesNotStartWithABadScenarioOrDouble) {
  platform::testing::ScratchDirectory directory;
  platform::testing::writeFile(directory / "bad.json", R"({"psm": {"members": [{"identifier": 1}]}})");
  CollectionServiceProcess badScenario({"--attribution", directory / "bad.json"});
  EXPECT_EQ(badScenario.port(), 0);
  platform::testing::writeFile(directory / "bad-odm.json", R"({"odm": {"entries": [{"value": "v", "kind": 1e10}]}})");
  CollectionServiceProcess badOdm({"--attribution", directory / "bad-odm.json"});
  EXPECT_EQ(badOdm.port(), 0);
  for (const char* skan : {R"({"skan": {"answers": []}})", R"({"skan": {"answers": [{"status": 99}]}})",
                           R"({"skan": {"answers": [{"body": "empty"}]}})",
                           R"({"skan": {"answers": [{"response": {"fine_value": "7"}}]}})",
                           R"({"skan": {"answers": [{"response": {"fine_value": 4294967296}}]}})",
                           R"({"skan": {"answers": [{"status": 200, "encoding": "br"}]}})"}) {
    platform::testing::writeFile(directory / "bad-skan.json", skan);
    CollectionServiceProcess badSkan({"--attribution", directory / "bad-skan.json"});
    EXPECT_EQ(badSkan.port(), 0) << skan;
  }
  CollectionServiceProcess missingScenario({"--attribution", directory / "missing.json"});
  EXPECT_EQ(missingScenario.port(), 0);
  CollectionServiceProcess missingDouble({"--psm-double", directory / "no-such-program"});
  EXPECT_EQ(missingDouble.port(), 0);
}

TEST(OdmRoutes, ValidationFailsAsToldThenChecksTheMatchedValues) {
  platform::testing::ScratchDirectory directory;
  platform::testing::writeFile(directory / "odm.json", R"({"odm": {"config": null,
      "validate": {"values": ["a", "b"], "answer": {"mv_vexa": "v", "mv_aaps": "a"}, "fail_statuses": [503, 500]}}})");
  CollectionServiceProcess service({"--attribution", directory / "odm.json"});
  ASSERT_GT(service.port(), 0);
  // MVs messages: "CgFiCgFh" holds b and a, "CgFh" a alone, "CgFhCgFiCgFj" a, b and c.
  const struct {
    const char* path;
    const char* body;
    int status;
  } cases[] = {
      {"/odm/validate", R"({"mvs":"CgFiCgFh"})", 503},  // the scenario's failures come first, in order
      {"/odm/validate", R"({"mvs":"CgFiCgFh"})", 500},
      {"/odm/validate", R"({"mvs":"CgFiCgFh","odmed":""})", 200},  // in any order
      {"/odm/validate", R"({"mvs":"CgFh"})", 400},
      {"/odm/validate", R"({"mvs":"CgFhCgFiCgFj"})", 400},
      {"/odm/validate", R"({"mvs":"!!"})", 400},
      {"/odm/validate", R"({"mvs":"Cg"})", 400},  // a message cut short
      {"/odm/validate", "[1]", 400},
      {"/odm/psm", R"({"psm_request":""})", 503},  // no double to answer it
  };
  for (const auto& c : cases) EXPECT_EQ(post(service.url(c.path), c.body), c.status) << c.path << " " << c.body;

  CollectionServiceProcess withoutOdm;
  ASSERT_GT(withoutOdm.port(), 0);
  EXPECT_EQ(post(withoutOdm.url("/odm/validate"), R"({"mvs":"CgFh"})"), 404);
  EXPECT_EQ(post(withoutOdm.url("/odm/psm"), R"({"psm_request":""})"), 404);
}

TEST(SkanRoutes, AnswerInOrderGzipWhenAcceptedAndRecordTheDecodedRequests) {
  platform::testing::ScratchDirectory directory;
  platform::testing::writeFile(directory / "skan.json", R"({"skan": {"answers": [
      {"response": {"result_status": 1, "fine_value": 7}},
      {"response": {"result_status": 2}, "encoding": "identity"},
      {"body": "undecodable", "status": 202},
      {"response": {"result_status": 2}, "encoding": "broken_gzip"},
      {"status": 304}]}})");
  CollectionServiceProcess service({"--attribution", directory / "skan.json"});
  ASSERT_GT(service.port(), 0);
  auto request = GWLPBSkAdNetworkConversionValueRequest::initWithMessageInfo();
  request->setAppId("app-1");
  request->setEvaluationEventTime(5);
  const std::vector<uint8_t> payload = *request->protoBuffer();
  const platform::HVUNetwork::Headers gzip = {{"Accept-Encoding", "gzip"}};

  // A body that is no request is refused and not recorded.
  EXPECT_EQ(exchange(service.url("/skan"), gzip, {0x0f, 0x01}).status, 400);

  Answer first = exchange(service.url("/skan"), gzip, payload);
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.contentEncoding, "gzip");
  auto inflated = platform::gunzip(first.body);
  ASSERT_TRUE(inflated);
  auto message = GWLPBSkAdNetworkConversionValueResponse::initWithBuffer(*inflated);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->resultStatus(), 1);
  EXPECT_EQ(message->fineValue(), 7);
  EXPECT_FALSE(message->hasCoarseValue());

  Answer second = exchange(service.url("/skan"), gzip, payload);
  EXPECT_EQ(second.contentEncoding, std::nullopt);
  ASSERT_TRUE(GWLPBSkAdNetworkConversionValueResponse::initWithBuffer(second.body));

  Answer third = exchange(service.url("/skan"), {}, payload);
  EXPECT_EQ(third.status, 202);
  EXPECT_FALSE(third.body.empty());
  EXPECT_FALSE(GWLPBSkAdNetworkConversionValueResponse::initWithBuffer(third.body));

  Answer fourth = exchange(service.url("/skan"), {}, payload);
  EXPECT_EQ(fourth.contentEncoding, "gzip");  // declared even though not accepted
  EXPECT_FALSE(platform::gunzip(fourth.body));

  // The last answer repeats.
  EXPECT_EQ(exchange(service.url("/skan"), gzip, payload).status, 304);
  EXPECT_EQ(exchange(service.url("/skan"), gzip, payload).status, 304);

  auto queue = platform::SerialQueue::create("test.attribution");
  platform::HVUNetwork network;
  std::mutex mutex;
  std::condition_variable done;
  std::optional<std::string> recorded;
  network.getURL(service.url("/control/skan/requests"), {}, queue, false,
                 [&](std::shared_ptr<const platform::HTTPURLResponse>, std::vector<uint8_t> body,
                     std::optional<platform::Error>) {
                   std::lock_guard<std::mutex> lock(mutex);
                   recorded = std::string(body.begin(), body.end());
                   done.notify_all();
                 });
  {
    std::unique_lock<std::mutex> lock(mutex);
    done.wait_for(lock, std::chrono::seconds(30), [&] { return recorded.has_value(); });
  }
  // Keys in ascending order.
  const std::string plain = R"({"app_id":"app-1","evaluation_event_time":5})";
  const std::string gzipped = R"({"accept_encoding":"gzip","app_id":"app-1","evaluation_event_time":5})";
  EXPECT_EQ(recorded, "[" + gzipped + "," + gzipped + "," + plain + "," + plain + "," + gzipped + "," + gzipped + "]");

  CollectionServiceProcess withoutSkan;
  ASSERT_GT(withoutSkan.port(), 0);
  EXPECT_EQ(exchange(withoutSkan.url("/skan"), gzip, payload).status, 404);
}

TEST(RequestCapture, WritesEachRequestBeforeItIsAnswered) {
  platform::testing::ScratchDirectory directory;
  std::filesystem::create_directories(directory / "capture");
  CollectionServiceProcess service({"--capture", directory / "capture"});
  ASSERT_GT(service.port(), 0);
  EXPECT_EQ(post(service.url("/control/fail?status=500&count=1"), ""), 204);
  EXPECT_EQ(post(service.url("/sdk-exp?x=1"), "first"), 500);
  EXPECT_EQ(post(service.url("/adconv/app/psm?version=1.1"), "second"), 503);

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory / "capture")) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names, (std::vector<std::string>{"request-000001.http", "request-000002.http"}));
  const std::string first = platform::testing::readFile(directory / "capture/request-000001.http");
  EXPECT_EQ(first.rfind("POST /sdk-exp?x=1 HTTP/1.1\r\n", 0), 0u) << first;
  const std::string second = platform::testing::readFile(directory / "capture/request-000002.http");
  EXPECT_EQ(second.rfind("POST /adconv/app/psm?version=1.1 HTTP/1.1\r\n", 0), 0u) << second;
  EXPECT_NE(second.find("\r\nContent-Length: 6\r\n"), std::string::npos) << second;
  EXPECT_EQ(second.substr(second.size() - 10), "\r\n\r\nsecond");
  EXPECT_EQ(second.find("REMOTE_ADDR"), std::string::npos);
}

}  // namespace
