// Made-up key lists for the tests and benchmarks of the key-point
// comparison: random keys, and the same keys seen again under a known
// similarity transform with noisy descriptors, some keys lost and some new
// ones. Fixed seeds give the same lists on every machine.
#pragma once

#include <cstdint>

#include "libs/bristane/key_list.h"

namespace velmora::bristane::testing {

// n keys at random places of a 256 x 256 extract, scales 1.5..8,
// orientations in (-pi, pi], descriptors of random values 0..120 (about the
// range a generator's normalised descriptors take).
KeyList random_keys(int n, std::uint32_t seed);

// How `seen_again` changes a list.
struct Sighting {
  double scale = 1.0;             // the extract grows by this factor about (128, 128) ...
  double rotation = 0.0;          // ... turns by this many radians (column towards row) ...
  double dx = 0.0, dy = 0.0;      // ... and moves by this many columns and rows
  int noise = 6;                  // each descriptor value moves by up to this much
  int kept = -1;                  // keys kept (the first ones); -1 = all
  int extra = 0;                  // new random keys added
  bool turn_orientations = true;  // orientations turn with the extract
  std::uint32_t seed = 1;
};

// `keys` seen again: kept keys moved as `s` says, new keys added, the order
// shuffled. *origin (may be null) gets for each new key the index of the key
// it was made from, or -1 for an added one.
KeyList seen_again(const KeyList& keys, const Sighting& s, std::vector<int>* origin = nullptr);

}  // namespace velmora::bristane::testing
