// Encryptions per second of the commutative cipher on P-256, against
// BoringSSL's bare point multiplication in the same run. The
// BM_EncryptVsBareMul counters give both rates from interleaved runs and their
// ratio: how much slower one encryption (hashing to the curve, multiplication,
// encoding) is than the multiplication alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/nid.h>

#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/public/ec_commutative_cipher.h"

namespace {

using blinders::Context;
using blinders::ECCommutativeCipher;

std::vector<std::string> Messages(size_t count) {
  Context ctx;
  std::vector<std::string> messages;
  for (size_t i = 0; i < count; ++i) messages.push_back(ctx.RandomBytes(24));
  return messages;
}

// BoringSSL alone: a random scalar times a fixed point of P-256.
struct BareMul {
  BareMul()
      : group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)),
        ctx(BN_CTX_new()),
        point(EC_POINT_new(group.get())),
        result(EC_POINT_new(group.get())),
        scalar(BN_new()) {
    EC_POINT_copy(point.get(), EC_GROUP_get0_generator(group.get()));
    BN_rand_range(scalar.get(), EC_GROUP_get0_order(group.get()));
    // A point other than the generator, so no precomputed generator tables help.
    EC_POINT_mul(group.get(), point.get(), nullptr, point.get(), scalar.get(), ctx.get());
    BN_rand_range(scalar.get(), EC_GROUP_get0_order(group.get()));
  }
  void Run() {
    benchmark::DoNotOptimize(EC_POINT_mul(group.get(), result.get(), nullptr, point.get(), scalar.get(), ctx.get()));
  }
  bssl::UniquePtr<EC_GROUP> group;
  bssl::UniquePtr<BN_CTX> ctx;
  bssl::UniquePtr<EC_POINT> point;
  bssl::UniquePtr<EC_POINT> result;
  bssl::UniquePtr<BIGNUM> scalar;
};

void BM_CipherEncrypt(benchmark::State& state) {
  auto cipher = std::move(ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1, state.range(0))).value();
  const std::vector<std::string> messages = Messages(256);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cipher->Encrypt(messages[i++ % messages.size()]));
  }
  state.counters["encryptions/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CipherEncrypt)->Arg(ECCommutativeCipher::HASH_SHA256)->Arg(ECCommutativeCipher::HASH_SSWU_RO);

void BM_CipherDecrypt(benchmark::State& state) {
  auto cipher = std::move(ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1, 0)).value();
  const std::string ciphertext = cipher->Encrypt("user@example.com").value();
  for (auto _ : state) {
    benchmark::DoNotOptimize(cipher->Decrypt(ciphertext));
  }
}
BENCHMARK(BM_CipherDecrypt);

void BM_BoringSslPointMul(benchmark::State& state) {
  BareMul bare;
  for (auto _ : state) bare.Run();
  state.counters["multiplications/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BoringSslPointMul);

// Both in one run, interleaved in batches, so that the ratio compares like with like.
void BM_EncryptVsBareMul(benchmark::State& state) {
  auto cipher = std::move(ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1, 0)).value();
  BareMul bare;
  const std::vector<std::string> messages = Messages(256);
  using Clock = std::chrono::steady_clock;
  Clock::duration encrypt_time{}, mul_time{};
  constexpr int kBatch = 16;
  size_t i = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int j = 0; j < kBatch; ++j) benchmark::DoNotOptimize(cipher->Encrypt(messages[i++ % messages.size()]));
    const auto t1 = Clock::now();
    for (int j = 0; j < kBatch; ++j) bare.Run();
    const auto t2 = Clock::now();
    encrypt_time += t1 - t0;
    mul_time += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations()) * kBatch;
  const double encrypt_s = std::chrono::duration<double>(encrypt_time).count();
  const double mul_s = std::chrono::duration<double>(mul_time).count();
  state.counters["encryptions/s"] = n / encrypt_s;
  state.counters["bare_muls/s"] = n / mul_s;
  state.counters["encrypt/mul_time_ratio"] = encrypt_s / mul_s;
}
BENCHMARK(BM_EncryptVsBareMul)->Unit(benchmark::kMillisecond);

}  // namespace
