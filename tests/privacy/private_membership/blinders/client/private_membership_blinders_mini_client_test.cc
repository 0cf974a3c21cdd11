// The blinders mini client against the in-process server double: requests,
// round trips under every scheme, bucket matching, and the error policy.
#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "absl/strings/str_cat.h"
#include "privacy/blinders/cpp/crypto/status_util.h"
#include "privacy/private_membership/blinders/shared/hashed_bucket_id.h"
#include "privacy/private_membership/common/crypto_utils.h"
#include "privacy/private_membership/testing/server_double.h"

namespace private_membership::blinders {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using testing::ServerDouble;
using testing::ServerEntry;
using testing::ServerOptions;
using Metadata = PrivateMembershipBlindersIdValuePairMetadata;
using Client = PrivateMembershipBlindersMiniClient;

// Three ids whose 8-bit bucket ids differ (c3, 75 and 27).
const QueryId kMember{"tag-m", "member@example.com", "s1"};
const QueryId kNoValue{"tag-n", "novalue@example.com", "s2"};
const QueryId kStranger{"tag-s", "stranger@example.com", "s3"};
const Metadata kMemberMetadata{"m-primary", "group", std::nullopt};
const Metadata kNoValueMetadata{"n-primary", std::nullopt, std::nullopt};
const PrivateMembershipBlindersParameters kParameters{8, 2, 0};

// The server holds the member with a value, the second id without one, and,
// in the stranger's bucket, an id with the stranger's non-sensitive id but
// another sensitive id.
std::vector<ServerEntry> Database() {
  return {{kMember.non_sensitive_id, kMember.sensitive_id, "the value", kMemberMetadata},
          {kNoValue.non_sensitive_id, kNoValue.sensitive_id, "", kNoValueMetadata},
          {kStranger.non_sensitive_id, "not-s3", "not yours", Metadata{"x-primary", "group", std::nullopt}}};
}

std::unique_ptr<Client> NewClient(std::vector<QueryId> ids = {kMember, kNoValue, kStranger},
                                  const PrivateMembershipBlindersParameters& parameters = kParameters) {
  absl::StatusOr<std::unique_ptr<Client>> client = Client::Create(std::move(ids), parameters);
  EXPECT_TRUE(client.ok()) << client.status();
  return std::move(client).value();
}

// The result of an id that nothing matched.
MembershipResult NotMember(const QueryId& id) {
  MembershipResult result;
  result.query_id = id;
  return result;
}

// Builds a request, lets `server` answer it and processes the answer.
absl::StatusOr<std::vector<MembershipResult>> RoundTrip(Client& client, ServerDouble& server) {
  PrivateMembershipBlindersRequest request = client.CreateRequest(1).value();
  PrivateMembershipBlindersResponse response = server.Answer(request).value();
  return client.ProcessResponse(response);
}

TEST(MiniClientTest, RoundTripForEverySchemeBinnedAndUnbinned) {
  for (int32_t scheme : {kAesCtr256WithFixedIv, kAesCtr256NoAuth, kAesGcm256}) {
    for (int32_t num_bins : {0, 1 << 30}) {
      SCOPED_TRACE(absl::StrCat("scheme ", scheme, ", bins ", num_bins));
      ServerOptions options;
      options.encryption_scheme = scheme;
      options.num_bins = num_bins;
      ServerDouble server(Database(), options);
      auto client = NewClient();
      absl::StatusOr<std::vector<MembershipResult>> results = RoundTrip(*client, server);
      ASSERT_TRUE(results.ok()) << results.status();
      ASSERT_EQ(results->size(), 3u);
      const MembershipResult& member = (*results)[0];
      EXPECT_EQ(member.query_id, kMember);
      EXPECT_TRUE(member.is_member);
      EXPECT_EQ(member.value, "the value");
      EXPECT_THAT(member.values, ElementsAre("the value"));
      EXPECT_THAT(member.metadata, ElementsAre(kMemberMetadata));
      EXPECT_THAT(member.matched_values, ElementsAre(MatchedValue{"the value", kMemberMetadata}));

      const MembershipResult& no_value = (*results)[1];
      EXPECT_EQ(no_value.query_id, kNoValue);
      EXPECT_TRUE(no_value.is_member);
      EXPECT_EQ(no_value.value, "");
      EXPECT_THAT(no_value.values, IsEmpty());
      EXPECT_THAT(no_value.metadata, ElementsAre(kNoValueMetadata));
      EXPECT_THAT(no_value.matched_values, IsEmpty());

      EXPECT_EQ((*results)[2], NotMember(kStranger));
    }
  }
}

TEST(MiniClientTest, BucketsWithoutMetadataAndShortEntryKeys) {
  ServerOptions options;
  options.with_metadata = false;
  options.lookup_prefix_bytes = 4;
  ServerDouble server(Database(), options);
  auto client = NewClient({kMember});
  std::vector<MembershipResult> results = RoundTrip(*client, server).value();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].is_member);
  EXPECT_THAT(results[0].metadata, IsEmpty());
  EXPECT_THAT(results[0].matched_values, ElementsAre(MatchedValue{"the value", std::nullopt}));
}

TEST(MiniClientTest, RequestRecordsInQueryOrderWithoutDummies) {
  auto client = NewClient();
  PrivateMembershipBlindersRequest request = client->CreateRequest(35).value();
  EXPECT_EQ(request.use_case, 35);
  EXPECT_EQ(request.extra_bytes, "");
  EXPECT_EQ(request.extra_number, 0);
  EXPECT_EQ(request.parameters, kParameters);
  ASSERT_EQ(request.encrypted_request.size(), 3u);
  const std::string tags[] = {"tag-m", "tag-n", "tag-s"};
  const std::string buckets[] = {"\xc3", "\x75", "\x27"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(request.encrypted_request[i].query_tag, tags[i]);
    EXPECT_EQ(request.encrypted_request[i].hashed_bucket_id, buckets[i]);
    EXPECT_EQ(request.encrypted_request[i].encrypted_id.size(), 33u);
  }
  // The key is fixed for the client's life; another client has another key.
  EXPECT_EQ(client->CreateRequest(35).value(), request);
  EXPECT_NE(NewClient()->CreateRequest(35).value().encrypted_request[0].encrypted_id,
            request.encrypted_request[0].encrypted_id);
}

TEST(MiniClientTest, DummiesCoverTheBucketCountAndAreSkipped) {
  const PrivateMembershipBlindersParameters parameters{16, 1, 4};
  auto client = NewClient({kMember, kNoValue, kStranger}, parameters);
  PrivateMembershipBlindersRequest first = client->CreateRequest(0).value();
  std::set<std::string> buckets;
  for (const EncryptedRequest& r : first.encrypted_request) buckets.insert(r.hashed_bucket_id);
  EXPECT_EQ(buckets.size(), 4u);
  EXPECT_GE(first.encrypted_request.size(), 4u);
  EXPECT_TRUE(std::is_sorted(first.encrypted_request.begin(), first.encrypted_request.end(),
                             [](const auto& a, const auto& b) { return a.encrypted_id < b.encrypted_id; }));
  const auto real = std::count_if(first.encrypted_request.begin(), first.encrypted_request.end(),
                                  [](const EncryptedRequest& r) { return !r.query_tag.empty(); });
  EXPECT_EQ(real, 3);

  // A second request draws new dummies; the answer to the first still processes,
  // and only real ids get results.
  PrivateMembershipBlindersRequest second = client->CreateRequest(0).value();
  EXPECT_NE(second, first);
  ServerDouble server(Database(), ServerOptions{});
  std::vector<MembershipResult> results = client->ProcessResponse(server.Answer(first).value()).value();
  ASSERT_EQ(results.size(), 3u);
  for (const MembershipResult& r : results) EXPECT_EQ(r.is_member, r.query_id != kStranger) << r.query_id.query_tag;
}

TEST(MiniClientTest, PrefixLengthEdges) {
  // 0 bits: every bucket id is empty; a count of 1 needs a dummy only without ids.
  PrivateMembershipBlindersRequest request = NewClient({kMember}, {0, 2, 1})->CreateRequest(0).value();
  ASSERT_EQ(request.encrypted_request.size(), 1u);
  for (const EncryptedRequest& r : request.encrypted_request) EXPECT_EQ(r.hashed_bucket_id, "");
  request = NewClient({}, {0, 2, 1})->CreateRequest(0).value();
  ASSERT_EQ(request.encrypted_request.size(), 1u);
  EXPECT_EQ(request.encrypted_request[0].query_tag, "");

  // 256 bits: the whole bucket hash; 300 bits: accepted by Create, refused by CreateRequest.
  ::blinders::Context context;
  request = NewClient({kMember}, {256, 2, 0})->CreateRequest(0).value();
  EXPECT_EQ(request.encrypted_request[0].hashed_bucket_id,
            HashedBucketId::Create(kMember.non_sensitive_id, 256, 2, &context).value().bytes);
  absl::Status status = NewClient({kMember}, {300, 2, 0})->CreateRequest(0).status();
  EXPECT_EQ(status.code(), absl::StatusCode::kInvalidArgument);
  EXPECT_EQ(status.message(), "Truncation bit length out of bounds.");
}

TEST(MiniClientTest, CreateErrors) {
  const std::string kCountAbovePrefix =
      "Max hash prefixes count must be less than or equal to 2^hashed_non_sensitive_id_prefix_bit_length.";
  const std::string kTooManyIds = "Number of IDs to query must be less than or equal to the max has prefix count.";
  struct Case {
    PrivateMembershipBlindersParameters parameters;
    size_t ids;
    std::string error;  // empty: accepted
  } cases[] = {
      {{-1, 9, 99}, 1, "hashed_non_sensitive_id_prefix_bit_length must be non-negative."},
      {{8, 0, 0}, 1, "Hash Type must be declared."},
      {{8, 3, 0}, 1, "Hash Type must be declared."},
      {{8, 2, 257}, 1, kCountAbovePrefix},
      {{8, 2, 256}, 1, ""},
      {{0, 2, 2}, 1, kCountAbovePrefix},
      {{30, 2, 2000000000}, 1, kCountAbovePrefix},
      {{31, 2, 2000000000}, 1, ""},
      {{300, 2, 2147483647}, 1, ""},
      {{8, 2, 2}, 3, kTooManyIds},
      {{8, 2, 3}, 3, ""},
      {{8, 2, 0}, 3, ""},
      {{8, 2, -5}, 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(absl::StrCat(c.parameters.hashed_non_sensitive_id_prefix_bit_length, "/",
                              c.parameters.hash_type, "/", c.parameters.max_hash_prefixes_count));
    std::vector<QueryId> ids(c.ids, kMember);
    absl::StatusOr<std::unique_ptr<Client>> client = Client::Create(ids, c.parameters);
    if (c.error.empty()) {
      EXPECT_TRUE(client.ok()) << client.status();
    } else {
      ASSERT_FALSE(client.ok());
      EXPECT_EQ(client.status().code(), absl::StatusCode::kInvalidArgument);
      EXPECT_EQ(client.status().message(), c.error);
    }
  }
}

TEST(MiniClientTest, ProcessResponseErrorPolicy) {
  struct Case {
    const char* name;
    void (*configure)(ServerOptions&);
    absl::StatusCode code;
    std::string message_prefix;
  } cases[] = {
      {"unknown id", [](ServerOptions& o) { o.faults.unknown_encrypted_id = true; },
       absl::StatusCode::kInvalidArgument, "Processed response does not correspond to created request."},
      {"not a point", [](ServerOptions& o) { o.faults.invalid_doubly_encrypted_id = true; },
       absl::StatusCode::kInvalidArgument, "ECGroup::CreateECPoint(string) - Could not decode point."},
      {"values short", [](ServerOptions& o) { o.faults.short_value_list = true; },
       absl::StatusCode::kInvalidArgument, "Encrypted bucket lists are not parallel."},
      {"metadata long", [](ServerOptions& o) { o.faults.long_metadata_list = true; },
       absl::StatusCode::kInvalidArgument, "Encrypted bucket lists are not parallel."},
      {"bins not a power of two", [](ServerOptions& o) { o.faults.announced_num_bins = 6; },
       absl::StatusCode::kInvalidArgument, "Number of bins that is not a power of 2 isn't supported."},
      {"unknown scheme", [](ServerOptions& o) { o.faults.announced_scheme = 4; },
       absl::StatusCode::kInvalidArgument, "Unsupported encryption scheme: 4"},
      {"negative scheme", [](ServerOptions& o) { o.faults.announced_scheme = -1; },
       absl::StatusCode::kInvalidArgument, "Unsupported encryption scheme: -1"},
      {"GCM tag wrong", [](ServerOptions& o) { o.faults.corrupt_values = true; }, absl::StatusCode::kInternal,
       "EVP_AEAD_CTX_open failed:"},
      {"length prefix wrong",
       [](ServerOptions& o) {
         o.encryption_scheme = kAesCtr256WithFixedIv;
         o.faults.announced_scheme = kAesGcm256;
       },
       absl::StatusCode::kInternal, "EVP_AEAD_CTX_open failed:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerOptions options;
    c.configure(options);
    ServerDouble server(Database(), options);
    auto client = NewClient();
    absl::StatusOr<std::vector<MembershipResult>> results = RoundTrip(*client, server);
    ASSERT_FALSE(results.ok());
    EXPECT_EQ(results.status().code(), c.code);
    EXPECT_THAT(std::string(results.status().message()), StartsWith(c.message_prefix));
  }
}

TEST(MiniClientTest, StatusesRecordWhereTheyWereMade) {
  ServerOptions options;
  options.faults.unknown_encrypted_id = true;
  ServerDouble server(Database(), options);
  auto client = NewClient();
  EXPECT_THAT(::blinders::SourceLocationOf(RoundTrip(*client, server).status()),
              HasSubstr("privacy/private_membership/blinders/client/private_membership_blinders_mini_client.cc:"));
}

// With bins (and any number of bins other than 0), a value that does not
// decrypt only loses that entry.
TEST(MiniClientTest, UndecryptableValuesAreSkippedUnlessBinsAreZero) {
  struct Case {
    int32_t num_bins;
    std::optional<int32_t> announced_bins;
  } cases[] = {{8, std::nullopt}, {1 << 30, std::nullopt}, {0, -4}};
  for (const Case& c : cases) {
    for (bool unknown_scheme : {false, true}) {
      SCOPED_TRACE(absl::StrCat(c.num_bins, " ", c.announced_bins.value_or(c.num_bins), " ", unknown_scheme));
      ServerOptions options;
      options.num_bins = c.num_bins;
      options.faults.announced_num_bins = c.announced_bins;
      if (unknown_scheme) options.faults.announced_scheme = 4;
      else options.faults.corrupt_values = true;
      ServerDouble server(Database(), options);
      auto client = NewClient({kMember, kNoValue});
      std::vector<MembershipResult> results = RoundTrip(*client, server).value();
      ASSERT_EQ(results.size(), 2u);
      EXPECT_EQ(results[0], NotMember(kMember));
      EXPECT_TRUE(results[1].is_member);  // no value to decrypt
    }
  }
}

// Hand-made buckets built with the server's own primitives.
class MiniClientBucketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = NewClient({kMember});
    request_ = client_->CreateRequest(0).value();
    response_ = server_.Answer(request_).value();
    server_id_ = server_.ServerEncrypt(kMember.non_sensitive_id + kMember.sensitive_id).value();
    ASSERT_EQ(response_.encrypted_response.size(), 1u);
  }

  std::string Key() { return server_.EntryKey(server_id_).value(); }
  std::string Value(const std::string& v) { return server_.EncryptValue(server_id_, v, kAesGcm256).value(); }

  EncryptedResponse& Part() { return response_.encrypted_response[0]; }

  ServerDouble server_{{}, ServerOptions{}};
  std::unique_ptr<Client> client_;
  PrivateMembershipBlindersRequest request_;
  PrivateMembershipBlindersResponse response_;
  std::string server_id_;
};

TEST_F(MiniClientBucketTest, ValuesArePairedWithTheMetadataOfTheirOwnEntries) {
  const Metadata m0{"no value", std::nullopt, std::nullopt};
  const Metadata m1{"first", "g1", std::nullopt};
  const Metadata m2{"other id", "g2", std::nullopt};
  const Metadata m3{"second", "g3", std::nullopt};
  Part().encrypted_bucket = EncryptedBucket{
      {Key(), Key(), std::string(32, '\x01'), Key()},
      {"", Value("A"), Value("X"), Value("B")},
      {m0, m1, m2, m3},
  };
  std::vector<MembershipResult> results = client_->ProcessResponse(response_).value();
  ASSERT_EQ(results.size(), 1u);
  const MembershipResult& r = results[0];
  EXPECT_TRUE(r.is_member);
  EXPECT_EQ(r.value, "A");
  EXPECT_THAT(r.values, ElementsAre("A", "B"));
  EXPECT_THAT(r.metadata, ElementsAre(m0, m1, m3));
  EXPECT_THAT(r.matched_values, ElementsAre(MatchedValue{"A", m1}, MatchedValue{"B", m3}));
}

TEST_F(MiniClientBucketTest, MatchingRules) {
  const std::string key = Key();
  struct Case {
    const char* name;
    int32_t num_bins;
    std::vector<std::string> entry_ids;
    bool member;
  } cases[] = {
      {"empty entry matches every hash", 0, {""}, true},
      {"prefix of the lookup hash", 0, {key.substr(0, 3)}, true},
      {"longer than the lookup hash", 0, {key + "z"}, false},
      {"other bytes", 0, {std::string(32, '\0')}, false},
      {"one bin: only empty entries match", 1, {""}, true},
      {"one bin: a non-empty entry does not", 1, {key.substr(0, 1)}, false},
      {"bin longer than the binned hash", 2, {key}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Part().response_metadata.num_bins = c.num_bins;
    EncryptedBucket bucket{c.entry_ids, std::vector<std::string>(c.entry_ids.size(), Value("v")), {}};
    Part().encrypted_bucket = c.num_bins >= 1 ? EncryptedBucket{} : bucket;
    Part().binned_encrypted_bucket = c.num_bins >= 1 ? bucket : EncryptedBucket{};
    std::vector<MembershipResult> results = client_->ProcessResponse(response_).value();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].is_member, c.member);
    EXPECT_EQ(results[0].value, c.member ? "v" : "");
  }
}

TEST_F(MiniClientBucketTest, IdenticalQueryIdsShareTheFirstEntry) {
  QueryId again = kMember;
  again.query_tag = "second";
  auto client = NewClient({kMember, again});
  PrivateMembershipBlindersRequest request = client->CreateRequest(0).value();
  ASSERT_EQ(request.encrypted_request.size(), 2u);
  EXPECT_EQ(request.encrypted_request[0].encrypted_id, request.encrypted_request[1].encrypted_id);
  ServerDouble server(Database(), ServerOptions{});
  std::vector<MembershipResult> results = client->ProcessResponse(server.Answer(request).value()).value();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].query_id, kMember);
  EXPECT_EQ(results[1].query_id, kMember);
  EXPECT_EQ(results[1].value, "the value");
}

TEST_F(MiniClientBucketTest, AnswersOnlyForNamedIdsAndNoPartialResults) {
  // No part names the id: no result.
  Part().doubly_encrypted_id.clear();
  EXPECT_THAT(client_->ProcessResponse(response_).value(), IsEmpty());
  EXPECT_THAT(client_->ProcessResponse(PrivateMembershipBlindersResponse{}).value(), IsEmpty());

  // A good part followed by a bad one gives the error alone.
  response_ = server_.Answer(request_).value();
  EncryptedResponse bad = Part();
  bad.doubly_encrypted_id[0].encrypted_id = request_.encrypted_request[0].encrypted_id + "x";
  response_.encrypted_response.push_back(bad);
  EXPECT_FALSE(client_->ProcessResponse(response_).ok());
}

// Malformed answers end in a status or in results, never in a crash.
TEST_F(MiniClientBucketTest, MalformedResponsesNeverCrash) {
  const std::string id = request_.encrypted_request[0].encrypted_id;
  const std::string doubly = Part().doubly_encrypted_id[0].doubly_encrypted_id;
  const std::vector<std::pair<std::string, std::string>> ids = {
      {id, ""}, {id, "\x02"}, {id, std::string(33, '\xff')}, {id, "\x00"}, {"", doubly}, {id, id}, {id, doubly}};
  const std::vector<std::string> values = {"", "\x01", std::string(11, 'a'), std::string(12, 'a'),
                                           std::string(40, 'a'), Value("ok")};
  for (const auto& [encrypted_id, doubly_encrypted_id] : ids) {
    for (int32_t scheme : {-7, 0, 1, 2, 3, 99}) {
      for (int32_t bins : {-1, 0, 1, 3, 1 << 30, 2147483647}) {
        PrivateMembershipBlindersResponse response;
        EncryptedResponse part;
        part.doubly_encrypted_id = {{encrypted_id, doubly_encrypted_id}};
        part.response_metadata = {bins, scheme};
        for (const std::string& v : values) {
          for (EncryptedBucket* b : {&part.encrypted_bucket, &part.binned_encrypted_bucket}) {
            b->encrypted_id.push_back("");
            b->encrypted_value.push_back(v);
          }
        }
        response.encrypted_response.push_back(part);
        absl::StatusOr<std::vector<MembershipResult>> results = client_->ProcessResponse(response);
        if (results.ok()) {
          for (const MembershipResult& r : *results) EXPECT_EQ(r.values.size(), r.matched_values.size());
        } else {
          EXPECT_THAT(results.status().code(),
                      ::testing::AnyOf(absl::StatusCode::kInvalidArgument, absl::StatusCode::kInternal));
        }
      }
    }
  }
}

}  // namespace
}  // namespace private_membership::blinders
