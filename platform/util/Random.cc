#include "platform/util/Random.h"

namespace platform {

void Random::fill(std::span<uint8_t> out) {
  size_t i = 0;
  while (i < out.size()) {
    // Low byte first, so that a seeded sequence is the same on every machine.
    uint64_t word = nextUInt64();
    for (int k = 0; k < 8 && i < out.size(); ++k, word >>= 8) out[i++] = static_cast<uint8_t>(word);
  }
}

uint64_t Random::uniform(uint64_t n) {
  if (n == 0) return 0;
  // 2^64 mod n: the values below it are the surplus that would make the
  // remainders 0..threshold-1 more likely than the others.
  const uint64_t threshold = (0 - n) % n;
  for (;;) {
    uint64_t r = nextUInt64();
    if (r >= threshold) return r % n;
  }
}

double Random::nextDouble() { return static_cast<double>(nextUInt64() >> 11) * 0x1.0p-53; }

std::vector<uint8_t> Random::bytes(size_t count) {
  std::vector<uint8_t> out(count);
  fill(out);
  return out;
}

namespace {

uint64_t splitmix64(uint64_t& x) {
  uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

SeededRandom::SeededRandom(uint64_t seed) {
  for (auto& word : state_) word = splitmix64(seed);
}

uint64_t SeededRandom::nextUInt64() {
  const uint64_t result = rotl(state_[1] * 5, 7) * 9;
  const uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = rotl(state_[3], 45);
  return result;
}

}  // namespace platform
