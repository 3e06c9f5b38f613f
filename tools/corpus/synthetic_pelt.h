// Synthetic pelts and sightings of them, for testing the comparison end to end.
//
// An animal is a pelt pattern: a light background with dark (and a few light)
// irregular blots and a fine texture, held as a raster over pelt coordinates
// (row, column in fingerprint pixels, 1..64 being the part a sighting centred
// on the pelt sees) with a margin for the sighting's movement. A sighting is
// the 64 x 64 fingerprint image of one photograph: the pelt seen through a
// pose (a global shift, per-quadrant shifts blended bilinearly, a mild
// rotation and scale), with changed brightness and contrast, a light
// gradient, noise, and masked pixels (value 64) along an edge and in a few
// glare spots. Grey levels are 0..63.
//
// Geometry: the comparison searches shifts of up to 16 pixels; the default
// model keeps the shift of every quadrant between any two sightings of one
// animal within 15 (quadrant_shift below), so that the true shift is always
// an interior point of the search window.
//
// Everything is a pure function of the seeds: a sighting depends only on its
// own pose seed, noise seed and the animal's pattern.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace velmora::corpus {

inline constexpr int kImageSize = 64;

// How much sightings of one animal differ. Shifts in pixels, angles in degrees.
struct SightingModel {
  double max_global_shift = 4.5;    // per axis, uniform
  double max_quadrant_shift = 1.5;  // per axis and quadrant, uniform, on top
  double max_rotation = 2.0;        // about the image centre
  double max_scale = 0.03;          // relative, 1 +/- this
  double max_gain = 0.15;           // contrast 1 +/- this
  double max_offset = 4.0;          // grey levels
  double max_gradient = 3.0;        // grey levels from centre to edge, per axis
  double noise = 2.5;               // standard deviation, grey levels
  double edge_mask_chance = 0.6;    // a masked band along one edge
  int max_edge_mask = 10;           // its greatest width in pixels
  int max_glare_spots = 3;          // masked spots anywhere
};

// Centres (row, column) of the four quadrants the comparison's sub-cells
// cover: sub-cells 0..3 are rows 17-32 / 33-48 by columns 17-32 / 33-48.
inline constexpr double kQuadrantCentre[2] = {24.5, 40.5};

struct SightingPose {
  double shift[2] = {0, 0};                               // row, column
  std::array<std::array<double, 2>, 4> quadrant_shift{};  // sub-cell order
  double rotation = 0;                                    // radians
  double scale = 1;
  double gain = 1;
  double offset = 0;
  double gradient[2] = {0, 0};
  int edge_side = -1;  // 0 top, 1 bottom, 2 left, 3 right; -1 none
  double edge_width = 0;
  double edge_wave_phase = 0;
  std::vector<std::array<double, 3>> glare;  // row, column, radius
};

class PeltPattern {
 public:
  // The pelt of one animal.
  static PeltPattern make(uint64_t seed);
  // Grey value (unclamped, about 0..63) at pelt coordinates; bilinear between
  // raster points, constant beyond the raster.
  double value(double row, double col) const;

 private:
  static constexpr double kOrigin = -18.0;  // pelt coordinate of raster point 0
  static constexpr double kStep = 0.5;      // raster spacing in pixels
  static constexpr int kPoints = 204;       // raster points per axis
  std::vector<float> raster_;
};

SightingPose make_pose(const SightingModel& model, uint64_t seed);

// Pelt coordinates seen at image pixel (row, col), 1-based.
std::array<double, 2> pelt_position(const SightingPose& pose, double row, double col);

// How far the pattern at the centre of quadrant k of sighting `a` lies in
// sighting `b`, in rows and columns (b's position minus a's): the shift the
// comparison should find for sub-cell k when it correlates a with b.
std::array<double, 2> quadrant_shift(const SightingPose& a, const SightingPose& b, int k);

// The 64 x 64 fingerprint image, row-major, values 0..64 (64 masked).
std::vector<uint8_t> render_sighting(const PeltPattern& pelt, const SightingPose& pose,
                                     const SightingModel& model, uint64_t noise_seed);

}  // namespace velmora::corpus
