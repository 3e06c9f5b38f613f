// Seed sets and dilated spot maps: the anchors and coverage images that the
// spot comparison takes from an extract's spot list ("place seeds").
//
// A seed set is a triple of well-separated spots spanning a large triangle,
// at most one per window of the extract. The windows overlap: 2 x 2 windows of
// 192 pixels when few spots are shown, 3 x 3 windows of 128 pixels otherwise.
// Inside a window the best spot is the first corner; the second is the first
// later spot farther than a minimum distance from it; the third the first
// spot after that one farther than the distance from both and spanning a
// triangle larger than the operator's minimum measure. When no third corner
// qualifies the distance is lowered by 10 (down to 10) and the search starts
// again; when even then none qualifies, the window's last spots stand in.
//
// The two spot maps are 296 x 296 (the extract with a border of 20 pixels on
// every side): every spot in use is a black disc whose radius is chosen so
// that all discs together cover a configured share of the extract. Spots
// whose stripe lies forward or on both sides (kind <= 2) go into the top map,
// those whose stripe lies backward or on both sides (kind >= 2) into the
// bottom map; dots (kind 2) are in both.
//
// Nothing here paints on a window: the window draws the returned circles and
// maps itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/extract/spot_list.h"

namespace velmora::extract {

inline constexpr int kMaxSeedSets = 9;
// Spot numbers and spot counts are stored in single bytes.
inline constexpr int kMaxSavedSpots = 255;

inline constexpr int kSpotMapSide = 296;
inline constexpr int kSpotMapBorder = 20;
inline constexpr std::size_t kSpotMapPixels =
    static_cast<std::size_t>(kSpotMapSide) * static_cast<std::size_t>(kSpotMapSide);

// The minimum triangle measure the window starts with.
inline constexpr std::string_view kDefaultMinTriangleText = "5000";

// Three spot numbers, 1-based rows of the spot list.
using SeedTriple = std::array<int, 3>;

struct SeedSets {
  std::array<SeedTriple, kMaxSeedSets> sets{};
  // Sets 1..count are valid; 0 when no window held enough spots.
  int count = 0;
  friend bool operator==(const SeedSets&, const SeedSets&) = default;
};

// A 296 x 296 bit image, pixel (x, y) counted from 1 at element
// (y - 1) * 296 + (x - 1); 1 is black, 0 white.
struct SpotMap {
  std::vector<std::uint8_t> black = std::vector<std::uint8_t>(kSpotMapPixels, 0);
  bool is_black(int x, int y) const {
    return black[static_cast<std::size_t>(y - 1) * kSpotMapSide +
                 static_cast<std::size_t>(x - 1)] != 0;
  }
  friend bool operator==(const SpotMap&, const SpotMap&) = default;
};

struct SeedColour {
  std::uint8_t red = 0, green = 0, blue = 0;
};

// Colour and circle radius of each set, set 1 first: the largest circle for
// the first set so that a spot in several sets shows every ring.
inline constexpr std::array<SeedColour, kMaxSeedSets> kSeedPalette = {{{255, 0, 0},
                                                                       {0, 255, 0},
                                                                       {0, 0, 255},
                                                                       {255, 255, 0},
                                                                       {0, 255, 255},
                                                                       {255, 0, 255},
                                                                       {0, 0, 0},
                                                                       {255, 255, 255},
                                                                       {255, 0, 0}}};
inline constexpr std::array<int, kMaxSeedSets> kSeedCircleRadius = {18, 16, 14, 12, 10, 8, 6, 4, 2};

struct SeedSettings {
  int limit = 0;         // spots in use (the "number of spots" slider), 0..255
  int show_n_spots = 0;  // the aspect's starting number of spots: picks the windows
  int margin = 0;        // the border the wavelet step leaves untouched
  // The operator's minimum triangle measure, as typed.
  std::string min_triangle_text = std::string(kDefaultMinTriangleText);
  // Share of the extract the discs cover (configuration); 0 or more.
  float dilate_proportion = 0.0f;
};

struct SeedResult {
  SeedSets sets;
  // Minimum distance the search started from, for the distance box: "50" or "100".
  std::string min_distance_text;
  int windows_with_sets = 0;
  // 0 when no spot is in use.
  float dilate_radius = 0.0f;
  SpotMap top;
  SpotMap bottom;
  // "# sets = " and the number of sets.
  std::string caption;
};

// Places the seed sets of the first settings.limit spots and paints both maps.
// Spots marked excluded_from_seeds are never a corner but are still painted.
//
// When no window holds more than two usable spots, no set is made (count 0):
// an older set would name spots of an earlier list, or one the operator has
// just excluded, and the feature file would carry corners that are not there.
// With no spot in use the radius is 0 and both maps stay white.
//
// InvalidArgument, *out untouched, when the minimum triangle text is not a
// number, the proportion is negative or not finite, or the limit is outside
// 0..min(255, spots.size()).
Status place_seeds(const SpotList& spots, const SeedSettings& settings, SeedResult* out);

// sqrt(256^2 * proportion / (pi * spots)), 0 when spots < 1.
float dilate_radius(float dilate_proportion, int spots);

// Blackens in `map` every pixel (x, y) with (x - cx)^2 + (y - cy)^2 <= r^2,
// cx = column + 20, cy = row + 20; pixels off the map are skipped, as is a
// disc whose centre or radius is not finite.
void paint_disc(SpotMap* map, float row, float column, float radius);

// A circle the window draws for a seed: centre x = column, y = row.
struct SeedCircle {
  float x = 0.0f, y = 0.0f;
  int radius = 0;
  SeedColour colour;
};

// The three circles of each set, set 1 first; a number outside the list is
// skipped.
std::vector<SeedCircle> seed_circles(const SpotList& spots, const SeedSets& sets);

}  // namespace velmora::extract
