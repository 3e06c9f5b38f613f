// Seeded random numbers for the synthetic corpus, the same on every machine.
//
// The standard library's distributions are free to differ between library
// versions, so the corpus draws its numbers from its own: splitmix64 to derive
// independent streams (one per animal, per sighting and per purpose, so that
// a sighting does not change when others are added), xoshiro256** inside a
// stream, uniforms from the top 53 bits and normals by Box-Muller.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace velmora::corpus {

inline uint64_t splitmix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A seed for stream (a, b, c) of the corpus seeded with `seed`.
inline uint64_t stream_seed(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0) {
  uint64_t s = seed;
  uint64_t h = splitmix64(s);
  for (uint64_t part : {a, b, c}) {
    s = h ^ part;
    h = splitmix64(s);
  }
  return h;
}

class Random {
 public:
  explicit Random(uint64_t seed) {
    for (uint64_t& w : state_) w = splitmix64(seed);
  }

  uint64_t next() {
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
  // [0, 1)
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // 0 .. n-1 (n >= 1); the slight bias of the modulo is irrelevant here.
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool chance(double p) { return uniform() < p; }
  double normal() {
    const double u1 = 1.0 - uniform();  // (0, 1]
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t state_[4];
};

}  // namespace velmora::corpus
