// The field work of hashing to P-256 and of decoding a compressed point, on
// its own: PrimeField::CurveRoot for x values of which about half are on the
// curve, with the Legendre symbol tested first (hashing) and without it
// (decoding, where the point is expected to exist), and the bare square-root
// exponentiation on machine words.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/nid.h>

#include "privacy/blinders/cpp/crypto/p256_field.h"
#include "privacy/blinders/cpp/crypto/prime_field.h"

namespace {

using blinders::PrimeField;

struct P256 {
  P256() : group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)), ctx(BN_CTX_new()) {
    bssl::UniquePtr<BIGNUM> p(BN_new()), a(BN_new()), b(BN_new());
    EC_GROUP_get_curve_GFp(group.get(), p.get(), a.get(), b.get(), ctx.get());
    field = PrimeField::Create(p.get(), ctx.get());
    if (field != nullptr && !field->SetCurve(a.get(), b.get(), ctx.get())) field.reset();
    for (int i = 0; i < 256; ++i) {
      bssl::UniquePtr<BIGNUM> x(BN_new());
      BN_rand_range(x.get(), p.get());
      xs.push_back(std::move(x));
    }
  }
  bssl::UniquePtr<EC_GROUP> group;
  bssl::UniquePtr<BN_CTX> ctx;
  std::unique_ptr<PrimeField> field;
  std::vector<bssl::UniquePtr<BIGNUM>> xs;
};

// arg 0: Operand::kAny (the symbol first); 1: kExpectedSquare.
void BM_P256CurveRoot(benchmark::State& state) {
  P256 curve;
  if (curve.field == nullptr) {
    state.SkipWithError("no field");
    return;
  }
  const auto operand = state.range(0) == 0 ? PrimeField::Operand::kAny : PrimeField::Operand::kExpectedSquare;
  bssl::UniquePtr<BIGNUM> y(BN_new());
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(curve.field->CurveRoot(y.get(), curve.xs[i++ % curve.xs.size()].get(), false, operand));
  }
}
BENCHMARK(BM_P256CurveRoot)->Arg(0)->Arg(1);

void BM_P256SqrtExponent(benchmark::State& state) {
  uint64_t a[blinders::p256::kLimbs] = {0x0123456789abcdef, 0xfedcba9876543210, 0x0f1e2d3c4b5a6978, 0x1234};
  for (auto _ : state) {
    blinders::p256::SqrtExponent(a, a);
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_P256SqrtExponent);

}  // namespace
