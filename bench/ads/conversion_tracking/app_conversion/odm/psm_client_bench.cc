// The client side of one private-set-membership query: normalising the
// input, building the client and its payload, and reading the answer; and the
// wire conversion on its own.
#include <benchmark/benchmark.h>

#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipClient.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "analytics/attribution/GWLSerializationUtil.h"
#include "analytics/attribution/testing/PSMDouble.h"
#include "analytics/attribution/testing/PSMDoubleFrames.h"
#include "analytics/attribution/testing/PSMWireTestCodecs.h"

namespace {

void BM_NormalizeEmailAddress(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ODCNormalizeEmailAddress("Jo1i5.0.Smith@Legacy-Webmail.example"));
}
BENCHMARK(BM_NormalizeEmailAddress);

void BM_NormalizePhoneNumber(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ODCNormalizePhoneNumber("+1 (555) 123-4567"));
}
BENCHMARK(BM_NormalizePhoneNumber);

void BM_ClientAndPayload(benchmark::State& state) {
  for (auto _ : state) {
    auto client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", "tabulo-app-1");
    benchmark::DoNotOptimize(client->payloadWithPSMRequest());
  }
}
BENCHMARK(BM_ClientAndPayload)->Unit(benchmark::kMicrosecond);

// A member's answer with one part holding `entries` bucket entries.
void BM_ParseAnswer(benchmark::State& state) {
  tabulo::psm_double::AttributionScenario scenario;
  scenario.appID = "tabulo-app-1";
  scenario.psmMembers.push_back({"user@example.com", "member value"});
  for (int i = 1; i < state.range(0); ++i) scenario.psmMembers.push_back({"other" + std::to_string(i), "v"});
  tabulo::psm_double::PSMDouble server(scenario);
  // A prefix of 0 bits puts every member in the one bucket.
  auto client = ODCPrivateSetMembershipClient::initWithEmailAddress("user@example.com", "tabulo-app-1", 0);
  const auto payload = client->payloadWithPSMRequest();
  const std::string body(payload->begin(), payload->end());
  const size_t start = body.find(":\"") + 2;
  const std::string answer =
      server.answer(std::string(1, tabulo::psm_double::kQueryPSM) + body.substr(start, body.rfind('"') - start));
  const std::string json = "{\"psm_response\":\"" + answer.substr(1) + "\"}";
  const std::vector<uint8_t> bytes(json.begin(), json.end());
  for (auto _ : state) {
    auto value = client->parsedPSMValueFromResponse(bytes);
    if (!value) state.SkipWithError("no value");
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ParseAnswer)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

void BM_DeserializeBlindersResponse(benchmark::State& state) {
  private_membership::blinders::PrivateMembershipBlindersResponse response;
  private_membership::blinders::EncryptedResponse part;
  part.doubly_encrypted_id.push_back({std::string(33, 'a'), std::string(33, 'b')});
  for (int i = 0; i < state.range(0); ++i) {
    part.encrypted_bucket.encrypted_id.push_back(std::string(32, static_cast<char>(i)));
    part.encrypted_bucket.encrypted_value.push_back(std::string(48, 'v'));
    part.encrypted_bucket.metadata.push_back({"p", "", std::nullopt});
  }
  response.encrypted_response.push_back(part);
  const std::string wire = tabulo::psm_double::SerializeBlindersResponse(response);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DeserializeBlindersResponse(reinterpret_cast<const uint8_t*>(wire.data()), wire.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(BM_DeserializeBlindersResponse)->Arg(1)->Arg(256);

}  // namespace
