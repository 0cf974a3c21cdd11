// The mini client's cost for a request of 1,000 identifiers: building the
// request and processing the server's answer, against the bare BoringSSL point
// multiplications the same work needs (one per identifier to encrypt it, one
// to remove the client's layer from the answer), timed in one run.
//
// The iteration time is the client's time alone (the server double's answer
// is made between the timed parts). Counters: client_ms and bare_muls_ms per
// 1,000 identifiers, and client/bare_ratio, what the client's hashing to the
// curve, point decoding and encoding, salted hashes and value decryption cost
// on top of the multiplications.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/nid.h>

#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"
#include "privacy/private_membership/testing/server_double.h"

namespace {

using namespace private_membership::blinders;
using Clock = std::chrono::steady_clock;

constexpr int kIds = 1000;

// BoringSSL alone: `count` multiplications of distinct points (not the
// generator, which has precomputed tables) by random scalars.
class BareMuls {
 public:
  explicit BareMuls(int count)
      : group_(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)), ctx_(BN_CTX_new()), scalar_(BN_new()) {
    for (int i = 0; i < count; ++i) {
      BN_rand_range(scalar_.get(), EC_GROUP_get0_order(group_.get()));
      bssl::UniquePtr<EC_POINT> point(EC_POINT_new(group_.get()));
      EC_POINT_mul(group_.get(), point.get(), scalar_.get(), nullptr, nullptr, ctx_.get());
      points_.push_back(std::move(point));
    }
    result_.reset(EC_POINT_new(group_.get()));
    BN_rand_range(scalar_.get(), EC_GROUP_get0_order(group_.get()));
  }
  void Run() {
    for (const auto& point : points_) {
      benchmark::DoNotOptimize(
          EC_POINT_mul(group_.get(), result_.get(), nullptr, point.get(), scalar_.get(), ctx_.get()));
    }
  }

 private:
  bssl::UniquePtr<EC_GROUP> group_;
  bssl::UniquePtr<BN_CTX> ctx_;
  bssl::UniquePtr<BIGNUM> scalar_;
  std::vector<bssl::UniquePtr<EC_POINT>> points_;
  bssl::UniquePtr<EC_POINT> result_;
};

// 1,000 query ids, every other one held by the server with a value.
void BM_Request1000AndResponseVsBareMuls(benchmark::State& state) {
  std::vector<QueryId> ids;
  std::vector<testing::ServerEntry> entries;
  for (int i = 0; i < kIds; ++i) {
    ids.push_back({"tag", "user" + std::to_string(i) + "@example.com", "secret"});
    if (i % 2 == 0) entries.push_back({ids.back().non_sensitive_id, "secret", "value " + std::to_string(i), {}});
  }
  testing::ServerOptions options;
  options.encryption_scheme = static_cast<int32_t>(state.range(0));
  testing::ServerDouble server(entries, options);
  const PrivateMembershipBlindersParameters parameters{16, 2, 0};
  BareMuls bare(2 * kIds);

  Clock::duration client_time{}, bare_time{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    auto client = std::move(PrivateMembershipBlindersMiniClient::Create(ids, parameters)).value();
    PrivateMembershipBlindersRequest request = client->CreateRequest(1).value();
    const auto t1 = Clock::now();
    PrivateMembershipBlindersResponse response = server.Answer(request).value();
    const auto t2 = Clock::now();
    std::vector<MembershipResult> results = client->ProcessResponse(response).value();
    const auto t3 = Clock::now();
    bare.Run();
    const auto t4 = Clock::now();
    if (results.size() != kIds || !results[0].is_member) state.SkipWithError("wrong results");
    benchmark::DoNotOptimize(results);
    const auto client_iteration = (t1 - t0) + (t3 - t2);
    client_time += client_iteration;
    bare_time += t4 - t3;
    state.SetIterationTime(std::chrono::duration<double>(client_iteration).count());
  }
  const double n = static_cast<double>(state.iterations());
  const double client_ms = std::chrono::duration<double, std::milli>(client_time).count() / n;
  const double bare_ms = std::chrono::duration<double, std::milli>(bare_time).count() / n;
  state.counters["client_ms"] = client_ms;
  state.counters["bare_muls_ms"] = bare_ms;
  state.counters["client/bare_ratio"] = client_ms / bare_ms;
}
BENCHMARK(BM_Request1000AndResponseVsBareMuls)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->ArgName("scheme")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
