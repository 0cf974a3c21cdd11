// platform::Random — an injectable source of random numbers.
//
// Code that needs randomness takes a `Random&` (or a shared_ptr to one) from its
// owner instead of reaching for a global generator, so that tests can pass a
// `SeededRandom` and get the same numbers on every run. Production code that
// needs unpredictable values passes a `SecureRandom` (platform/crypto).
//
// Only `nextUInt64` must be implemented; the other operations are built on it,
// and `fill` may be overridden by sources that produce bytes more cheaply.
// A Random is not safe to share between threads unless the implementation
// says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace platform {

class Random {
 public:
  virtual ~Random() = default;

  // A uniformly distributed 64-bit value.
  virtual uint64_t nextUInt64() = 0;

  // Fills `out` with uniformly distributed bytes.
  virtual void fill(std::span<uint8_t> out);

  // A uniformly distributed value in [0, n), without modulo bias: draws that
  // would favour the low values are rejected and drawn again. `n == 0`
  // answers 0.
  uint64_t uniform(uint64_t n);

  // A uniformly distributed double in [0, 1), with 53 random bits.
  double nextDouble();

  // `count` random bytes.
  std::vector<uint8_t> bytes(size_t count);
};

// A deterministic generator (xoshiro256**, seeded through splitmix64) for
// tests and simulations: the same seed gives the same sequence on every
// machine. Not suitable where values must be unpredictable.
class SeededRandom final : public Random {
 public:
  explicit SeededRandom(uint64_t seed);

  uint64_t nextUInt64() override;

 private:
  uint64_t state_[4];
};

}  // namespace platform
