// Pairs per second of the correlation and spot comparison on one core: the
// pair loop over two batches of 200 extracts loaded from feature files (the
// loading is outside the timing), with the results lines going to memory.
// Three cases: dots (correlation), stripes with both letters (correlation,
// the spot score only where the correlation gives no line), and stripes with
// the spot letter alone (the spot score of every pair). Prints the median of
// 7 rounds of each.
//
//   new_style_bench [extracts per batch, default 200]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "workstation/common/atomic_file.h"
#include "workstation/extract/feature_file.h"
#include "workstation/matching/feature_arrays.h"
#include "workstation/matching/new_style_pairs.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;

// A feature file of a smooth random pelt: a few blank blocks, `spots` spots
// with kinds 1..3, four seed sets, and maps with a disc per spot.
extract::FeatureFile random_file(std::mt19937& rng, int spots, bool kinds) {
  std::uniform_real_distribution<double> u(0, 1);
  extract::FeatureFile f;
  f.has_kinds = kinds;
  const double fr = 0.1 + 0.3 * u(rng), fc = 0.1 + 0.3 * u(rng);
  for (int r = 0; r < 64; ++r) {
    for (int c = 0; c < 64; ++c) {
      const double v = 127 + 80 * std::sin(fr * r) * std::cos(fc * c) + 40 * (u(rng) - 0.5);
      f.block_image[r * 64 + c] = r < 6 && c < 10 ? 255 : static_cast<uint8_t>(v);
    }
  }
  std::uniform_int_distribution<int> pos(25, 230), kind(1, 3);
  extract::SpotMap top, bottom;
  const double radius = std::sqrt(256.0 * 256.0 * 0.25 / (3.14159265 * spots));
  for (int k = 0; k < spots; ++k) {
    extract::FeatureSpot s{static_cast<uint8_t>(spots - k), static_cast<uint8_t>(pos(rng)),
                           static_cast<uint8_t>(pos(rng)),
                           static_cast<uint8_t>(kinds ? kind(rng) : 2)};
    f.spots.push_back(s);
    for (int y = 1; y <= 296; ++y) {
      for (int x = 1; x <= 296; ++x) {
        const double dx = x - (s.column + 20.0), dy = y - (s.row + 20.0);
        if (dx * dx + dy * dy > radius * radius) continue;
        if (s.kind <= 2) top.black[(y - 1) * 296 + (x - 1)] = 1;
        if (s.kind >= 2) bottom.black[(y - 1) * 296 + (x - 1)] = 1;
      }
    }
  }
  f.seeds.count = 4;
  for (int t = 0; t < 4; ++t) f.seeds.sets[t] = {3 * t + 1, 3 * t + 2, 3 * t + 3};
  f.top_map = extract::pack_spot_map(top);
  if (kinds) f.bottom_map = extract::pack_spot_map(bottom);
  return f;
}

void load(const std::string& folder, const std::string& prefix, int n, int spots, bool kinds,
          unsigned seed, FeatureBatch* batch) {
  std::mt19937 rng(seed);
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) {
    names.push_back(prefix + std::to_string(i));
    const std::string bytes = extract::feature_file_bytes(random_file(rng, spots, kinds));
    if (!write_file_atomically(folder + names.back(), bytes).ok()) std::exit(1);
  }
  size_t next = 0;
  std::vector<FeatureProblem> problems;
  FillArrays(
      [&](std::string* name) {
        if (next >= names.size()) return false;
        *name = names[next++];
        return true;
      },
      folder, n, batch, &problems);
  if (!problems.empty() || batch->n_files() != n) {
    std::fprintf(stderr, "feature files not loaded: %s\n",
                 problems.empty() ? "?" : problems[0].why.c_str());
    std::exit(1);
  }
}

void run_case(const char* what, const FeatureBatch& a, const FeatureBatch& b,
              const PairScoring& scoring) {
  std::vector<double> rates;
  size_t bytes = 0;
  for (int round = 0; round < 7; ++round) {
    bytes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int64_t pairs = compare_batches(a, b, scoring, [&](const std::string& lines) {
      bytes += lines.size();
      return true;
    });
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rates.push_back(static_cast<double>(pairs) / s);
  }
  std::sort(rates.begin(), rates.end());
  std::printf("  %-52s %9.0f pairs/s  (min %.0f, max %.0f; %zu bytes of lines)\n", what, rates[3],
              rates.front(), rates.back(), bytes);
}

}  // namespace
}  // namespace velmora::matching

int main(int argc, char** argv) {
  using namespace velmora::matching;
  const int n = argc > 1 ? std::max(2, std::atoi(argv[1])) : 200;
  const fs::path dir =
      fs::temp_directory_path() / ("new_style_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string folder = dir.string() + "/";

  FeatureBatch dots_a(n, {false, false}), dots_b(n, {false, false});
  load(folder, "DA", n, 100, false, 1, &dots_a);
  load(folder, "DB", n, 100, false, 2, &dots_b);
  FeatureBatch stripes_a(n, {true, true}), stripes_b(n, {true, true});
  load(folder, "SA", n, 60, true, 3, &stripes_a);
  load(folder, "SB", n, 60, true, 4, &stripes_b);
  fs::remove_all(dir);

  std::printf("new-style comparison, %d x %d extracts, one core, median of 7 rounds\n", n, n);
  PairScoring corr;
  corr.correlation = true;
  run_case("dots (100 spots): correlation", dots_a, dots_b, corr);
  PairScoring both = corr;
  both.spot = true;
  run_case("stripes (60 spots): correlation, spot where needed", stripes_a, stripes_b, both);
  PairScoring spot;
  spot.spot = true;
  run_case("stripes (60 spots): spot score of every pair", stripes_a, stripes_b, spot);
  return 0;
}
