// The private-set-membership clients against the local collection service,
// which answers with the real protocol through its PSM double, and a check of
// everything the clients sent: no identifier leaves in a usable form.
#ifdef TABULO_HAS_COLLECTION_SERVICE

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "PSMTestSupport.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipClient.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipGroupClient.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HVUNetwork.h"
#include "tests/platform/TestSupport.h"
#include "tests/tools/CollectionServiceProcess.h"

namespace {

using namespace tabulo::test;

constexpr const char* kAppID = "tabulo-app-1";
constexpr const char* kBundleID = "com.halcyra.tabulo";
constexpr auto kAnswerWait = std::chrono::seconds(30);

struct Answer {
  int status = -1;
  std::vector<uint8_t> body;
};

Answer Post(platform::HVUNetwork& network, const std::string& url, const std::vector<uint8_t>& payload = {}) {
  auto queue = platform::SerialQueue::create("test.psm");
  std::mutex mutex;
  std::condition_variable done;
  std::optional<Answer> answer;
  network.postURL(url, payload, queue, false,
                  [&](std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                      std::optional<platform::Error>) {
                    std::lock_guard<std::mutex> lock(mutex);
                    answer = Answer{response ? response->statusCode : -1, std::move(body)};
                    done.notify_all();
                  });
  std::unique_lock<std::mutex> lock(mutex);
  done.wait_for(lock, kAnswerWait, [&] { return answer.has_value(); });
  return answer.value_or(Answer{});
}

struct GroupAnswer {
  std::optional<std::string> value;
  std::optional<platform::Error> error;
};

// Fetches and waits for the completion; nullopt when it did not come.
std::optional<GroupAnswer> Fetch(ODCPrivateSetMembershipGroupClient& client,
                                 const std::shared_ptr<platform::HVUNetwork>& network) {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<GroupAnswer> answer;
  client.fetchGroupIDWithNetwork(network, [&](std::optional<std::string> value, std::optional<platform::Error> error) {
    EXPECT_TRUE(client.serialQueue()->isCurrent());
    std::lock_guard<std::mutex> lock(mutex);
    answer = GroupAnswer{std::move(value), std::move(error)};
    done.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex);
  done.wait_for(lock, kAnswerWait, [&] { return answer.has_value(); });
  return answer;
}

class PSMLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testing::writeFile(directory_ / "scenario.json", R"({
      "app_id": "tabulo-app-1",
      "bundle_id": "com.halcyra.tabulo",
      "psm": {"members": [
        {"identifier": "jollso@webmail.example", "value": "v-mail"},
        {"identifier": "+15551234567", "value": "v-phone"}
      ]},
      "group_ids": {"members": [{"identifier": "jollso@webmail.example", "value": "group-7"}]}
    })");
    std::filesystem::create_directories(directory_ / "capture");
    service_ = std::make_unique<CollectionServiceProcess>(std::vector<std::string>{
        "--psm-double", std::string(TABULO_BINARY_DIR) + "/tools/psm_double", "--attribution",
        directory_ / "scenario.json", "--capture", directory_ / "capture"});
    ASSERT_GT(service_->port(), 0);
    hosts_ = GWLServiceHosts::local("http", "127.0.0.1", static_cast<uint16_t>(service_->port()));
  }

  // Posts the client's payload to its URL and reads the answer with it.
  std::optional<std::string> Query(ODCPrivateSetMembershipClient& client) {
    auto url = client.PSMRequestURLWithRetryCount(0);
    auto payload = client.payloadWithPSMRequest();
    EXPECT_TRUE(url && payload);
    Answer answer = Post(network_, url.value_or(""), payload.value_or(std::vector<uint8_t>()));
    EXPECT_EQ(answer.status, 200);
    return client.parsedPSMValueFromResponse(answer.body);
  }

  // A group client for the normalised address's hash, querying the service.
  std::shared_ptr<ODCPrivateSetMembershipGroupClient> GroupClient(const std::string& normalized,
                                                                  const std::string& bundleID = kBundleID) {
    return ODCPrivateSetMembershipGroupClient::initWithHashedInput(ODCSHA256OfString(normalized), 3, bundleID, 22,
                                                                   hosts_.groupIdentifier);
  }

  std::vector<std::string> Captured() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory_ / "capture")) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> texts;
    for (const auto& file : files) texts.push_back(platform::testing::readFile(file));
    return texts;
  }

  platform::testing::ScratchDirectory directory_;
  std::unique_ptr<CollectionServiceProcess> service_;
  GWLServiceHosts hosts_;
  platform::HVUNetwork network_;
};

TEST_F(PSMLoopbackTest, EachClientKindFindsAMembersValueAndNothingForOthers) {
  const std::vector<uint8_t> hashedMail = ODCSHA256OfString("jollso@webmail.example");
  auto mail = ODCPrivateSetMembershipClient::initWithEmailAddress("Jo1i5.0@legacy-webmail.example", kAppID,
                                                                  hosts_.adConversion);
  auto phone = ODCPrivateSetMembershipClient::initWithPhoneNumber("+1 (555) 123-4567", kAppID, hosts_.adConversion);
  auto hashed = ODCPrivateSetMembershipClient::initWithHashedEmailAddress(hashedMail, kAppID, 14, hosts_.adConversion);
  auto stranger = ODCPrivateSetMembershipClient::initWithEmailAddress("nobody@example.com", kAppID,
                                                                      hosts_.adConversion);
  ASSERT_TRUE(mail && phone && hashed && stranger);
  EXPECT_EQ(Query(*mail), WebSafe("v-mail"));
  EXPECT_EQ(Query(*phone), WebSafe("v-phone"));
  EXPECT_EQ(Query(*hashed), WebSafe("v-mail"));
  EXPECT_EQ(Query(*stranger), std::nullopt);

  auto network = std::make_shared<platform::HVUNetwork>();
  auto group = GroupClient("jollso@webmail.example");
  auto noGroup = GroupClient("nobody@example.com");
  ASSERT_TRUE(group && noGroup);
  auto found = Fetch(*group, network);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->value, WebSafe("group-7"));
  EXPECT_EQ(found->error, std::nullopt);
  auto missing = Fetch(*noGroup, network);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->value, std::nullopt);
  EXPECT_EQ(missing->error, std::nullopt);
  EXPECT_EQ(group->retryCount(), 0);
}

TEST_F(PSMLoopbackTest, AGroupFetchAnsweredWithAServerFailureIsAnErrorNotNoMatch) {
  auto network = std::make_shared<platform::HVUNetwork>();
  auto group = GroupClient("jollso@webmail.example");
  ASSERT_TRUE(group);
  ASSERT_EQ(Post(*network, service_->url("/control/fail?status=500&count=1")).status, 204);
  auto failed = Fetch(*group, network);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->value, std::nullopt);
  ASSERT_TRUE(failed->error);
  EXPECT_EQ(failed->error->domain, kODCGroupClientErrorDomain);
  EXPECT_EQ(failed->error->code, 500);
  EXPECT_EQ(group->retryCount(), 1);

  // The next fetch says so in its URL, and succeeds.
  auto again = Fetch(*group, network);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->value, WebSafe("group-7"));
  EXPECT_EQ(group->retryCount(), 1);
  const auto captured = Captured();
  ASSERT_FALSE(captured.empty());
  EXPECT_NE(captured.back().find("retry_count=1"), std::string::npos);

  // A bundle the service does not know is a failure too.
  auto other = GroupClient("jollso@webmail.example", "com.example.other");
  auto unknown = Fetch(*other, network);
  ASSERT_TRUE(unknown && unknown->error);
  EXPECT_EQ(unknown->error->code, 404);
}

TEST_F(PSMLoopbackTest, AGroupClientReleasedBeforeItsAnswerDoesNothing) {
  auto network = std::make_shared<platform::HVUNetwork>();
  auto group = GroupClient("jollso@webmail.example");
  ASSERT_TRUE(group);
  ASSERT_EQ(Post(*network, service_->url("/control/slow?seconds=0.5&count=1")).status, 204);
  std::atomic<bool> called{false};
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  group->fetchGroupIDWithNetwork(network, [&called, token](std::optional<std::string>, std::optional<platform::Error>) {
    called = true;
  });
  token.reset();
  group.reset();
  // The completion is let go once the answer has been handled.
  const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
  while (!watch.expired() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(called);
}

// Every form in which an identifier could be recognised.
std::vector<std::string> Forms(const std::string& bytes) {
  std::string standard;
  absl::Base64Escape(bytes, &standard);
  std::string unpadded = standard;
  while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();
  const std::string hex = absl::BytesToHexString(bytes);
  std::string upperHex = hex;
  std::transform(upperHex.begin(), upperHex.end(), upperHex.begin(), ::toupper);
  return {bytes, hex, upperHex, standard, unpadded, absl::WebSafeBase64Escape(bytes)};
}

TEST_F(PSMLoopbackTest, CapturedTrafficHoldsNoIdentifierInAUsableForm) {
  struct Input {
    std::string given;
    std::string normalized;
  };
  const Input inputs[] = {{"Jo1i5.0@legacy-webmail.example", "jollso@webmail.example"},
                          {"+1 (555) 123-4567", "+15551234567"}};
  auto network = std::make_shared<platform::HVUNetwork>();
  std::vector<std::string> secrets;
  for (const Input& input : inputs) {
    const bool isMail = input.given.find('@') != std::string::npos;
    const std::vector<uint8_t> hash = ODCSHA256OfString(input.normalized);
    const std::string hashText(hash.begin(), hash.end());
    auto clear = isMail ? ODCPrivateSetMembershipClient::initWithEmailAddress(input.given, kAppID, hosts_.adConversion)
                        : ODCPrivateSetMembershipClient::initWithPhoneNumber(input.given, kAppID, hosts_.adConversion);
    auto hashed = ODCPrivateSetMembershipClient::initWithHashedInput(hash, isMail ? 3 : 4, kAppID, 14,
                                                                     hosts_.adConversion);
    ASSERT_TRUE(clear && hashed);
    EXPECT_TRUE(Query(*clear));
    EXPECT_TRUE(Query(*hashed));
    if (isMail) {
      auto group = GroupClient(input.normalized);
      ASSERT_TRUE(group && Fetch(*group, network));
    }
    const std::string psmInput(clear->PSMInput().begin(), clear->PSMInput().end());
    for (const std::string& secret : {input.given, input.normalized, hashText, psmInput}) {
      for (const std::string& form : Forms(secret)) secrets.push_back(form);
    }
  }

  const auto captured = Captured();
  ASSERT_EQ(captured.size(), 5u);
  for (const std::string& request : captured) {
    // The request as sent, and the wire message inside its body.
    std::string haystack = request;
    const size_t bodyStart = request.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    const std::string body = request.substr(bodyStart + 4);
    auto record = RequestOf(Bytes(body));
    ASSERT_TRUE(record) << request;
    std::string wire;
    ASSERT_TRUE(absl::WebSafeBase64Unescape(*RequestText(Bytes(body)), &wire));
    haystack += wire;
    for (const std::string& secret : secrets) {
      EXPECT_EQ(haystack.find(secret), std::string::npos) << "found " << absl::BytesToHexString(secret);
    }
    // Only bucket prefixes and points travel, under the app ID or no tag.
    for (const auto& item : record->encrypted_request) {
      EXPECT_LE(item.hashed_bucket_id.size(), 3u);
      EXPECT_EQ(item.encrypted_id.size(), 33u);
      EXPECT_TRUE(item.query_tag == kAppID || item.query_tag.empty());
    }
  }
}

}  // namespace

#endif  // TABULO_HAS_COLLECTION_SERVICE
