#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipClient.h"

#include <gtest/gtest.h>

#include "PSMTestSupport.h"
#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipGroupClient.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipRegistration.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/attribution/GWLSerializationUtil.h"

namespace {

using namespace tabulo::test;
using private_membership::blinders::PrivateMembershipBlindersResponse;
using tabulo::psm_double::AttributionScenario;
using tabulo::psm_double::PSMDouble;

constexpr const char* kAppID = "tabulo-app-1";
const std::vector<uint8_t> kHashedEmail = ODCSHA256OfString("user@example.com");
const std::vector<uint8_t> kHashedPhone = ODCSHA256OfString("+5551234567");

AttributionScenario Scenario() {
  AttributionScenario scenario;
  scenario.appID = kAppID;
  scenario.psmMembers = {{"user@example.com", "v-mail"}, {"+5551234567", "v-phone"}};
  scenario.groupMembers = {{"user@example.com", "group-7"}};
  return scenario;
}

TEST(ODCPrivateSetMembershipClient, EachInitialiserQueriesWithItsInputTypeUseCaseAndPrefix) {
  struct Case {
    const char* name;
    std::shared_ptr<ODCPrivateSetMembershipClient> client;
    int64_t inputType;
    int32_t useCase;
    int32_t prefixBitLength;
    std::string queryTag;
  };
  const Case cases[] = {
      {"e-mail", ODCPrivateSetMembershipClient::initWithEmailAddress("User@Example.com", kAppID), 1, 3, 14, kAppID},
      {"phone", ODCPrivateSetMembershipClient::initWithPhoneNumber("(555) 123-4567", kAppID), 2, 7, 11, kAppID},
      {"hashed e-mail", ODCPrivateSetMembershipClient::initWithHashedEmailAddress(kHashedEmail, kAppID, 20), 3, 3,
       20, kAppID},
      {"hashed phone", ODCPrivateSetMembershipClient::initWithHashedPhoneNumber(kHashedPhone, kAppID, 9), 4, 7, 9,
       kAppID},
      {"generic, type 4", ODCPrivateSetMembershipClient::initWithHashedInput(kHashedPhone, 4, kAppID, 11), 4, 48, 11,
       kAppID},
      {"generic, type 2", ODCPrivateSetMembershipClient::initWithHashedInput(kHashedPhone, 2, kAppID, 11), 2, 48, 11,
       kAppID},
      {"generic, type 3", ODCPrivateSetMembershipClient::initWithHashedInput(kHashedEmail, 3, kAppID, 14), 3, 47, 14,
       kAppID},
      {"generic, type 1", ODCPrivateSetMembershipClient::initWithHashedInput(kHashedEmail, 1, kAppID, 14), 1, 47, 14,
       kAppID},
      {"generic, empty app ID", ODCPrivateSetMembershipClient::initWithHashedInput(kHashedEmail, 3, "", 14), 3, 47,
       14, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.client);
    EXPECT_EQ(c.client->inputType(), c.inputType);
    EXPECT_EQ(c.client->prefixBitLength(), c.prefixBitLength);
    auto request = RequestOf(c.client->payloadWithPSMRequest());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->use_case, c.useCase);
    EXPECT_EQ(request->parameters.hashed_non_sensitive_id_prefix_bit_length, c.prefixBitLength);
    EXPECT_EQ(request->parameters.hash_type, 2);
    // One record and no dummies: the bucket prefix, a compressed point, the app ID in clear.
    ASSERT_EQ(request->encrypted_request.size(), 1u);
    EXPECT_EQ(request->encrypted_request[0].hashed_bucket_id.size(), static_cast<size_t>((c.prefixBitLength + 7) / 8));
    EXPECT_EQ(request->encrypted_request[0].encrypted_id.size(), 33u);
    EXPECT_EQ(request->encrypted_request[0].query_tag, c.queryTag);
  }
}

TEST(ODCPrivateSetMembershipClient, GivesNoClientForUnusableInput) {
  const std::vector<uint8_t> shortHash(kHashedEmail.begin(), kHashedEmail.begin() + 31);
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", ""));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithEmailAddress("user@localhost", kAppID));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithPhoneNumber("555-CALL", kAppID));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithPhoneNumber("+5551234567", ""));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithHashedEmailAddress({}, kAppID, 14));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithHashedEmailAddress(kHashedEmail, "", 14));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithHashedPhoneNumber(shortHash, kAppID, 11));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithHashedInput({}, 3, kAppID, 14));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithHashedInput(shortHash, 3, kAppID, 14));
  EXPECT_FALSE(ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", kAppID, -1));
  EXPECT_FALSE(ODCPrivateSetMembershipGroupClient::initWithHashedInput(shortHash, 3, kAppID, 22));
  EXPECT_FALSE(ODCPrivateSetMembershipGroupClient::initWithHashedInput(kHashedEmail, 3, kAppID, -1));
}

TEST(ODCPrivateSetMembershipClient, ClearAndHashedInputGiveOneQueryAndDebugKey) {
  auto clear = ODCPrivateSetMembershipClient::initWithEmailAddress("USER@example.com", kAppID);
  auto hashed = ODCPrivateSetMembershipClient::initWithHashedEmailAddress(kHashedEmail, kAppID, 14);
  ASSERT_TRUE(clear && hashed);
  EXPECT_EQ(clear->hashedInput(), kHashedEmail);
  EXPECT_EQ(clear->PSMInput(), hashed->PSMInput());
  EXPECT_EQ(absl::BytesToHexString(std::string(clear->PSMInput().begin(), clear->PSMInput().end())),
            "9366b1db4a80fc12ef815eb042e325048a28e1cec00d57cf489176330aca2b94");

  const std::string input(clear->PSMInput().begin(), clear->PSMInput().end());
  EXPECT_EQ(clear->debugKey(), WebSafe(input + input));
  std::string decoded;
  ASSERT_TRUE(absl::WebSafeBase64Unescape(*clear->debugKey(), &decoded));
  EXPECT_EQ(decoded.size(), 64u);
}

TEST(ODCPrivateSetMembershipClient, BuildsThePayloadOnceAsCompactJSON) {
  auto client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", kAppID);
  ASSERT_TRUE(client);
  auto first = client->payloadWithPSMRequest();
  ASSERT_TRUE(first);
  EXPECT_EQ(client->payloadWithPSMRequest(), first);
  const std::string text(first->begin(), first->end());
  EXPECT_EQ(text, "{\"psm_request\":\"" + *client->serializedRequestAsWebsafeBase64() + "\"}");
  EXPECT_EQ(text.find('='), std::string::npos);  // web-safe base64 without padding
  EXPECT_EQ(text.find('+'), std::string::npos);
  EXPECT_EQ(text.find('/'), std::string::npos);
}

TEST(ODCPrivateSetMembershipClient, FormsTheRequestURLOnItsHost) {
  auto client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", kAppID);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->PSMRequestURLWithRetryCount(0),
            "https://adconversion.halcyra.com/adconv/app/psm?version=1.1&retry_count=0");
  auto local = ODCPrivateSetMembershipClient::initWithEmailAddress(
      "user@example.com", kAppID, GWLServiceHosts::local("http", "127.0.0.1", 8080).adConversion);
  EXPECT_EQ(local->PSMRequestURLWithRetryCount(3), "http://127.0.0.1:8080/adconv/app/psm?version=1.1&retry_count=3");
}

TEST(ODCPrivateSetMembershipClient, ReadsTheMembersValueAndNothingForOthers) {
  PSMDouble server(Scenario());
  struct Case {
    std::shared_ptr<ODCPrivateSetMembershipClient> client;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {ODCPrivateSetMembershipClient::initWithEmailAddress("USER@example.com", kAppID), WebSafe("v-mail")},
      {ODCPrivateSetMembershipClient::initWithHashedEmailAddress(kHashedEmail, kAppID, 14), WebSafe("v-mail")},
      {ODCPrivateSetMembershipClient::initWithPhoneNumber("(555) 123-4567", kAppID), WebSafe("v-phone")},
      {ODCPrivateSetMembershipClient::initWithHashedInput(kHashedPhone, 4, kAppID, 11), WebSafe("v-phone")},
      {ODCPrivateSetMembershipClient::initWithEmailAddress("other@example.com", kAppID), std::nullopt},
      // Salted for another app, the member's hash is not found.
      {ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", "another-app"), std::nullopt},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(c.client);
    const auto answer = AnswerInProcess(server, tabulo::psm_double::kQueryPSM, c.client->payloadWithPSMRequest());
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(c.client->parsedPSMValueFromResponse(answer), c.value);
  }
}

TEST(ODCPrivateSetMembershipClient, TakesTheFirstMemberResultWithAValue) {
  auto client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", kAppID);
  ASSERT_TRUE(client);
  auto request = RequestOf(client->payloadWithPSMRequest());
  ASSERT_TRUE(request);
  // One entry for the client's id without a value, and the same part again
  // with a value: two member results.
  const std::string id(client->PSMInput().begin(), client->PSMInput().end());
  private_membership::blinders::testing::ServerDouble server({{id, id, "", std::nullopt}}, {});
  auto answered = server.Answer(*request);
  ASSERT_TRUE(answered.ok());
  auto withValue = answered->encrypted_response[0];
  auto serverEncrypted = server.ServerEncrypt(id + id);
  ASSERT_TRUE(serverEncrypted.ok());
  withValue.encrypted_bucket.encrypted_value[0] = *server.EncryptValue(*serverEncrypted, "second", 3);

  auto body = [](const PrivateMembershipBlindersResponse& response) {
    return Bytes("{\"psm_response\":\"" + WebSafe(tabulo::psm_double::SerializeBlindersResponse(response)) + "\"}");
  };
  PrivateMembershipBlindersResponse onlyEmpty = *answered;
  EXPECT_EQ(client->parsedPSMValueFromResponse(body(onlyEmpty)), std::nullopt);
  PrivateMembershipBlindersResponse emptyFirst = *answered;
  emptyFirst.encrypted_response.push_back(withValue);
  EXPECT_EQ(client->parsedPSMValueFromResponse(body(emptyFirst)), WebSafe("second"));
  PrivateMembershipBlindersResponse valueFirst = *answered;
  valueFirst.encrypted_response.insert(valueFirst.encrypted_response.begin(), withValue);
  withValue.encrypted_bucket.encrypted_value[0] = *server.EncryptValue(*serverEncrypted, "third", 3);
  valueFirst.encrypted_response.push_back(withValue);
  EXPECT_EQ(client->parsedPSMValueFromResponse(body(valueFirst)), WebSafe("second"));
}

TEST(ODCPrivateSetMembershipClient, ReadsUnusableAnswersAsNoValue) {
  auto client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", kAppID);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->payloadWithPSMRequest());
  const char* answers[] = {
      "",
      "not json",
      "[\"psm_response\"]",          // not an object
      "\"psm_response\"",            // a fragment
      "{}",
      "{\"psm_response\":5}",
      "{\"psm_response\":\"!!!\"}",  // not base64: an empty response
      "{\"psm_response\":\"CgM\"}",  // base64 of bytes that do not decode
      "{\"psm_response\":\"\"}",
  };
  for (const char* answer : answers) EXPECT_EQ(client->parsedPSMValueFromResponse(Bytes(answer)), std::nullopt) << answer;
}

TEST(ODCPrivateSetMembershipGroupClient, QueriesTheUnsaltedHashOnItsHost) {
  auto client = ODCPrivateSetMembershipGroupClient::initWithHashedInput(kHashedEmail, 3, "com.halcyra.tabulo", 22);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->hashedInput(), kHashedEmail);
  EXPECT_EQ(client->inputType(), 3);
  EXPECT_EQ(client->prefixBitLength(), 22);
  EXPECT_EQ(client->PSMRequestURLWithRetryCount(2),
            "https://adgroups.halcyra.com/muf/psm/groupids?version=1.0&bundle_id=com.halcyra.tabulo&retry_count=2");
  auto odd = ODCPrivateSetMembershipGroupClient::initWithHashedInput(kHashedEmail, 3, "my app&x=1", 22);
  EXPECT_EQ(odd->PSMRequestURLWithRetryCount(0),
            "https://adgroups.halcyra.com/muf/psm/groupids?version=1.0&bundle_id=my%20app%26x%3D1&retry_count=0");

  auto request = RequestOf(client->payloadWithPSMRequest());
  ASSERT_TRUE(request);
  EXPECT_EQ(request->use_case, 46);
  ASSERT_EQ(request->encrypted_request.size(), 1u);
  EXPECT_EQ(request->encrypted_request[0].query_tag, "");
  EXPECT_EQ(request->encrypted_request[0].hashed_bucket_id.size(), 3u);

  PSMDouble server(Scenario());
  EXPECT_EQ(client->parsedPSMValueFromResponse(
                AnswerInProcess(server, tabulo::psm_double::kQueryGroupID, client->payloadWithPSMRequest())),
            WebSafe("group-7"));
  auto stranger = ODCPrivateSetMembershipGroupClient::initWithHashedInput(ODCSHA256OfString("x@example.com"), 3,
                                                                          "com.halcyra.tabulo", 22);
  EXPECT_EQ(stranger->parsedPSMValueFromResponse(
                AnswerInProcess(server, tabulo::psm_double::kQueryGroupID, stranger->payloadWithPSMRequest())),
            std::nullopt);
}

TEST(ODCRegisterPrivateSetMembershipClients, RegistersBothClassesUnderTheirNames) {
  using ClientClasses = GWLClassRegistry<GWLPrivateSetMembershipClientClass>;
  using GroupClasses = GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>;
  ClientClasses::resetForTesting();
  GroupClasses::resetForTesting();
  EXPECT_FALSE(ClientClasses::classExists("ODCPrivateSetMembershipClient"));
  EXPECT_FALSE(GroupClasses::classExists("ODCPrivateSetMembershipGroupClient"));

  ODCRegisterPrivateSetMembershipClients(GWLServiceHosts::local("http", "127.0.0.1", 9000));
  auto clientClass = ClientClasses::classNamed("ODCPrivateSetMembershipClient");
  auto groupClass = GroupClasses::classNamed("ODCPrivateSetMembershipGroupClient");
  ASSERT_TRUE(clientClass && groupClass);
  EXPECT_FALSE(ClientClasses::classExists("GWLPrivateSetMembershipClient"));
  EXPECT_TRUE(clientClass->respondsToInitializer(GWLPrivateSetMembershipClientInitializer::kHashedInput));
  EXPECT_TRUE(groupClass->respondsToInitWithHashedInput());

  auto client = clientClass->initWithEmailAddress("user@example.com", kAppID, 14);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->PSMRequestURLWithRetryCount(1), "http://127.0.0.1:9000/adconv/app/psm?version=1.1&retry_count=1");
  EXPECT_TRUE(client->debugKey());
  EXPECT_FALSE(clientClass->initWithPhoneNumber("not a number", kAppID));
  EXPECT_TRUE(groupClass->initWithHashedInput(kHashedEmail, 3, kAppID, 22));
  ClientClasses::resetForTesting();
  GroupClasses::resetForTesting();
}

TEST(ODCRegisterPrivateSetMembershipClients, WithoutHostsEachClientGoesToTheProcessHostsOfItsMaking) {
  using ClientClasses = GWLClassRegistry<GWLPrivateSetMembershipClientClass>;
  using GroupClasses = GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>;
  ClientClasses::resetForTesting();
  GroupClasses::resetForTesting();
  ODCRegisterPrivateSetMembershipClients();  // as the library's load call does, before a host program chose
  auto clientClass = ClientClasses::classNamed("ODCPrivateSetMembershipClient");
  auto groupClass = GroupClasses::classNamed("ODCPrivateSetMembershipGroupClient");
  ASSERT_TRUE(clientClass && groupClass);

  GWLServiceHosts::setForProcess(GWLServiceHosts::local("http", "127.0.0.1", 9100));
  auto local = clientClass->initWithEmailAddress("user@example.com", kAppID, 14);
  auto localGroup = groupClass->initWithHashedInput(kHashedEmail, 3, kAppID, 22);
  GWLServiceHosts::setForProcess(std::nullopt);
  auto builtIn = clientClass->initWithEmailAddress("user@example.com", kAppID, 14);
  ClientClasses::resetForTesting();
  GroupClasses::resetForTesting();

  ASSERT_TRUE(local && localGroup && builtIn);
  EXPECT_EQ(local->PSMRequestURLWithRetryCount(0), "http://127.0.0.1:9100/adconv/app/psm?version=1.1&retry_count=0");
  auto group = std::dynamic_pointer_cast<ODCPrivateSetMembershipGroupClient>(localGroup);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->PSMRequestURLWithRetryCount(0).value_or("").rfind("http://127.0.0.1:9100/", 0), 0u);
  EXPECT_EQ(builtIn->PSMRequestURLWithRetryCount(0).value_or("").rfind(
                GWLServiceHosts::builtIn().adConversion.origin() + "/", 0),
            0u);
}

}  // namespace
