// Made-up key lists (see synthetic_keys.h).
#include "libs/bristane/testing/synthetic_keys.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <vector>

namespace velmora::bristane::testing {

KeyList random_keys(int n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> place(0.0f, 255.0f), scale(1.5f, 8.0f),
      turn(static_cast<float>(-std::numbers::pi) + 1e-6f, static_cast<float>(std::numbers::pi));
  std::uniform_int_distribution<int> value(0, 120);
  KeyList keys;
  keys.announced = n;
  for (int k = 0; k < n; ++k) {
    keys.locations.insert(keys.locations.end(), {place(rng), place(rng), scale(rng), turn(rng)});
    for (int v = 0; v < kDescriptorLength; ++v) {
      keys.descriptors.push_back(static_cast<std::uint8_t>(value(rng)));
    }
  }
  return keys;
}

KeyList seen_again(const KeyList& keys, const Sighting& s, std::vector<int>* origin) {
  std::mt19937 rng(s.seed);
  std::uniform_int_distribution<int> jitter(-s.noise, s.noise);
  const int kept = s.kept < 0 ? keys.count() : std::min(s.kept, keys.count());
  const KeyList added = random_keys(s.extra, s.seed * 7919u + 13u);
  std::vector<int> from(static_cast<size_t>(kept + s.extra));
  std::iota(from.begin(), from.begin() + kept, 0);
  std::fill(from.begin() + kept, from.end(), -1);
  std::vector<int> order(from.size());
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);

  const double c = s.scale * std::cos(s.rotation), sn = s.scale * std::sin(s.rotation);
  KeyList out;
  out.announced = static_cast<int>(order.size());
  if (origin != nullptr) origin->clear();
  int next_added = 0;
  for (int slot : order) {
    const int k = from[static_cast<size_t>(slot)];
    if (origin != nullptr) origin->push_back(k);
    if (k < 0) {
      const int a = next_added++;
      out.locations.insert(out.locations.end(), added.locations.begin() + a * kLocationValues,
                           added.locations.begin() + (a + 1) * kLocationValues);
      out.descriptors.insert(out.descriptors.end(),
                             added.descriptors.begin() + a * kDescriptorLength,
                             added.descriptors.begin() + (a + 1) * kDescriptorLength);
      continue;
    }
    const float* l = &keys.locations[static_cast<size_t>(k) * kLocationValues];
    const double x = l[1] - 128.0, y = l[0] - 128.0;
    const double column = c * x - sn * y + 128.0 + s.dx, row = sn * x + c * y + 128.0 + s.dy;
    double orientation = l[3] + (s.turn_orientations ? s.rotation : 0.0);
    orientation = std::remainder(orientation, 2.0 * std::numbers::pi);
    out.locations.insert(out.locations.end(),
                         {static_cast<float>(row), static_cast<float>(column),
                          static_cast<float>(l[2] * s.scale), static_cast<float>(orientation)});
    for (int v = 0; v < kDescriptorLength; ++v) {
      const int value =
          keys.descriptors[static_cast<size_t>(k) * kDescriptorLength + v] + jitter(rng);
      out.descriptors.push_back(static_cast<std::uint8_t>(std::clamp(value, 0, 255)));
    }
  }
  return out;
}

}  // namespace velmora::bristane::testing
