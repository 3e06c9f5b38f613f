// N_LISTMATCHES: the fast descriptor search against the plain one, m for
// known transforms inside and outside the allowed ones, unrelated lists, and
// every argument fault.
#include "libs/bristane/list_matches.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "libs/bristane/testing/synthetic_keys.h"

namespace velmora::bristane {
namespace {

using testing::random_keys;
using testing::seen_again;
using testing::Sighting;

// The tentative matches through the plain search and the ratio test.
int reference_tentative(const KeyList& a, const KeyList& b, double ratio) {
  std::vector<int> nearest;
  std::vector<int64_t> d1, d2;
  reference_nearest(view_of(a), view_of(b), &nearest, &d1, &d2);
  int n = 0;
  for (size_t i = 0; i < nearest.size(); ++i) {
    if (b.count() >= 2 && d2[i] > 0 &&
        static_cast<double>(d1[i]) < ratio * ratio * static_cast<double>(d2[i])) {
      ++n;
    }
  }
  return n;
}

// Second-list sizes around the four-at-a-time step, lists of one extreme
// value (largest distances), and related lists with many matches.
TEST(ListMatches, FastSearchAgreesWithThePlainOne) {
  KeyMatcher matcher;
  const MatchParameters p;
  for (int n2 : {1, 2, 3, 4, 5, 7, 64, 301}) {
    const KeyList a = random_keys(37, 100u + static_cast<uint32_t>(n2));
    Sighting s;
    s.kept = n2 / 2;
    s.extra = n2 - n2 / 2;
    const KeyList b = seen_again(a, s);
    matcher.consistent_matches(view_of(a), view_of(b), p);
    EXPECT_EQ(matcher.tentative_matches(), reference_tentative(a, b, p.ratio)) << n2;
  }
  KeyList full = random_keys(9, 1);
  std::fill(full.descriptors.begin(), full.descriptors.end(), 255);
  KeyList empty = random_keys(6, 2);
  std::fill(empty.descriptors.begin(), empty.descriptors.end(), 0);
  // Its first key is the partner of every key of `full`, at distance 0; the
  // runner-up lies at the largest distance there is.
  std::fill(empty.descriptors.begin(), empty.descriptors.begin() + kDescriptorLength, 255);
  matcher.consistent_matches(view_of(full), view_of(empty), p);
  EXPECT_EQ(matcher.tentative_matches(), reference_tentative(full, empty, p.ratio));
  EXPECT_EQ(matcher.tentative_matches(), 9);
}

double call(const KeyList& a, const KeyList& b, const MatchParameters& p, int32_t* rc = nullptr) {
  const int32_t n1 = a.count(), n2 = b.count();
  const int32_t tol = p.position_tolerance, turn = p.orientation_tolerance,
                hyp = p.hypothesis_matches, rot = p.max_rotation, mutual = p.mutual ? 1 : 0;
  double m = -1;
  const int32_t r = N_LISTMATCHES(&n1, a.descriptors.data(), a.locations.data(), &n2,
                                  b.descriptors.data(), b.locations.data(), &p.ratio,
                                  &p.max_scale_change, &m, &tol, &turn, &hyp, &rot, &mutual);
  if (rc != nullptr) *rc = r;
  EXPECT_EQ(r, kListMatchesOk);
  return m;
}

TEST(ListMatches, CountsTheMatchesOfOneTransform) {
  const KeyList a = random_keys(120, 42);
  constexpr double kDeg = std::numbers::pi / 180.0;
  struct Case {
    const char* what;
    Sighting sighting;
    MatchParameters p;
    double m;
  };
  auto sighting = [](double scale, double rotation, double dx, double dy) {
    Sighting s;
    s.scale = scale;
    s.rotation = rotation;
    s.dx = dx;
    s.dy = dy;
    s.kept = 80;
    s.extra = 60;
    return s;
  };
  MatchParameters small_turns;
  small_turns.max_rotation = 30;
  MatchParameters no_turn_check;
  no_turn_check.orientation_tolerance = 0;
  Sighting unturned = sighting(1.0, 60 * kDeg, 0, 0);
  unturned.turn_orientations = false;
  const Case cases[] = {
      {"the same place", sighting(1.0, 0.0, 0, 0), {}, 80},
      {"moved", sighting(1.0, 0.0, 20, -35), {}, 80},
      {"turned and grown", sighting(1.3, 25 * kDeg, 5, 5), {}, 80},
      {"turned a half turn", sighting(1.0, 180 * kDeg, 0, 0), {}, 80},
      {"shrunk within the limit", sighting(0.6, -10 * kDeg, 0, 0), {}, 80},
      {"shrunk beyond the limit", sighting(0.4, 0.0, 0, 0), {}, 0},
      {"grown beyond the limit", sighting(2.5, 0.0, 0, 0), {}, 0},
      {"turn beyond the allowed", sighting(1.0, 60 * kDeg, 0, 0), small_turns, 0},
      {"turn within the allowed", sighting(1.0, 20 * kDeg, 0, 0), small_turns, 80},
      {"orientations not turned", unturned, {}, 0},
      {"orientations not compared", unturned, no_turn_check, 80},
  };
  for (const Case& c : cases) {
    const KeyList b = seen_again(a, c.sighting);
    EXPECT_EQ(call(a, b, c.p), c.m) << c.what;
  }
}

// Matches moved away from the transform are not counted; the rest are.
TEST(ListMatches, LeavesOutMatchesThatDisagree) {
  const KeyList a = random_keys(150, 7);
  Sighting s;
  s.rotation = 0.3;
  s.scale = 1.1;
  std::vector<int> origin;
  KeyList b = seen_again(a, s, &origin);
  int moved = 0;
  for (int k = 0; k < b.count(); k += 3) {
    b.locations[static_cast<size_t>(k) * kLocationValues + 1] += 60.0f;
    ++moved;
  }
  EXPECT_EQ(call(a, b, {}), 150 - moved);
  // The geometric check is what removes them: every key still matches.
  KeyMatcher matcher;
  EXPECT_EQ(matcher.consistent_matches(view_of(a), view_of(b), {}), 150 - moved);
  EXPECT_EQ(matcher.tentative_matches(), 150);
}

TEST(ListMatches, UnrelatedListsGiveNone) {
  for (uint32_t seed = 0; seed < 20; ++seed) {
    const KeyList a = random_keys(300, 1000 + seed), b = random_keys(300, 2000 + seed);
    EXPECT_EQ(call(a, b, {}), 0.0) << seed;
  }
  // Too few matches for a model: two keys always fit one exactly.
  const KeyList a = random_keys(2, 5);
  EXPECT_EQ(call(a, seen_again(a, {}), {}), 0.0);
  const KeyList three = random_keys(3, 5);
  EXPECT_EQ(call(three, seen_again(three, {}), {}), 3.0);
  EXPECT_EQ(call(KeyList{}, three, {}), 0.0);
  EXPECT_EQ(call(three, KeyList{}, {}), 0.0);
}

// Two keys of the first list with one partner: "mutual" keeps one of them.
TEST(ListMatches, MutualKeepsOnePartnerPerKey) {
  KeyList a = random_keys(20, 11);
  KeyList b = seen_again(a, {});
  // Key 0's twin in a, as near to key 0's partner as key 0 itself.
  a.descriptors.insert(a.descriptors.end(), a.descriptors.begin(),
                       a.descriptors.begin() + kDescriptorLength);
  a.locations.insert(a.locations.end(), a.locations.begin(), a.locations.begin() + 4);
  MatchParameters mutual;
  mutual.mutual = true;
  KeyMatcher matcher;
  matcher.consistent_matches(view_of(a), view_of(b), {});
  EXPECT_EQ(matcher.tentative_matches(), 21);
  matcher.consistent_matches(view_of(a), view_of(b), mutual);
  EXPECT_EQ(matcher.tentative_matches(), 20);
}

TEST(ListMatches, RefusesFaultyArguments) {
  const KeyList a = random_keys(10, 1), b = seen_again(a, {});
  struct Case {
    const char* what;
    std::function<void(int32_t*, const uint8_t**, double*, int32_t*)> damage;
    int32_t rc;
  };
  // The damage gets: the ints (n1, n2, tol, turn, hyp, rot, mutual), the
  // first descriptors, the reals (ratio, scale change).
  const Case cases[] = {
      {"count above 1000", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[0] = 1001; },
       kListMatchesBadCount},
      {"negative count", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[1] = -1; },
       kListMatchesBadCount},
      {"no descriptors", [](int32_t*, const uint8_t** d, double*, int32_t*) { *d = nullptr; },
       kListMatchesNullPointer},
      {"ratio 0", [](int32_t*, const uint8_t**, double* r, int32_t*) { r[0] = 0; },
       kListMatchesBadParameter},
      {"ratio above 1", [](int32_t*, const uint8_t**, double* r, int32_t*) { r[0] = 1.5; },
       kListMatchesBadParameter},
      {"scale change below 1", [](int32_t*, const uint8_t**, double* r, int32_t*) { r[1] = 0.5; },
       kListMatchesBadParameter},
      {"scale change NaN", [](int32_t*, const uint8_t**, double* r, int32_t*) { r[1] = NAN; },
       kListMatchesBadParameter},
      {"tolerance 0", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[2] = 0; },
       kListMatchesBadParameter},
      {"turn 181", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[3] = 181; },
       kListMatchesBadParameter},
      {"one hypothesis match", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[4] = 1; },
       kListMatchesBadParameter},
      {"rotation -1", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[5] = -1; },
       kListMatchesBadParameter},
      {"mutual 2", [](int32_t* i, const uint8_t**, double*, int32_t*) { i[6] = 2; },
       kListMatchesBadParameter},
  };
  for (const Case& c : cases) {
    int32_t ints[7] = {a.count(), b.count(), 8, 32, 32, 0, 0};
    const uint8_t* d1 = a.descriptors.data();
    double reals[2] = {0.8, 2.0};
    c.damage(ints, &d1, reals, nullptr);
    double m = -1;
    const int32_t rc = N_LISTMATCHES(&ints[0], d1, a.locations.data(), &ints[1],
                                     b.descriptors.data(), b.locations.data(), &reals[0], &reals[1],
                                     &m, &ints[2], &ints[3], &ints[4], &ints[5], &ints[6]);
    EXPECT_EQ(rc, c.rc) << c.what;
    EXPECT_EQ(m, 0.0) << c.what;
  }
  // The same call undamaged matches every key.
  int32_t ints[7] = {a.count(), b.count(), 8, 32, 32, 0, 0};
  double reals[2] = {0.8, 2.0};
  double m = -1;
  EXPECT_EQ(N_LISTMATCHES(&ints[0], a.descriptors.data(), a.locations.data(), &ints[1],
                          b.descriptors.data(), b.locations.data(), &reals[0], &reals[1], &m,
                          &ints[2], &ints[3], &ints[4], &ints[5], &ints[6]),
            kListMatchesOk);
  EXPECT_EQ(m, 10.0);
  EXPECT_EQ(N_LISTMATCHES(&ints[0], a.descriptors.data(), a.locations.data(), &ints[1],
                          b.descriptors.data(), b.locations.data(), &reals[0], &reals[1], nullptr,
                          &ints[2], &ints[3], &ints[4], &ints[5], &ints[6]),
            kListMatchesNullPointer);
}

}  // namespace
}  // namespace velmora::bristane
