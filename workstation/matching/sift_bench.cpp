// sift_bench: the key-point family's speed on one core, and how well m
// separates animals on key files made from synthetic extracts.
//
//   sift_bench [PAIRS]
//   sift_bench --keys FOLDER [TRUTH]   (a data folder's SiftLib/, and the
//                                      corpus's truth file corpus.txt)
//
// Prints, each the median of five runs: pairs scored per second with 300
// keys per extract (synthetic lists, one pair in five of the same animal),
// the same with the key lists the generator makes of drawn pelts, the time
// to make one key file from a 256 x 256 picture (detection, description
// and the text) and to read one back. With --keys, every pair of key files
// of one aspect (cells named ..._XY) is matched, the animal of each cell
// taken from TRUTH (lines "cell animal ...", ';' starts a comment) or else
// from the cell name up to its first '_', and the medians and ranges of m are printed for pairs
// of the same animal and of different animals, per aspect.
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "libs/bristane/key_file.h"
#include "libs/bristane/testing/synthetic_keys.h"
#include "workstation/extract/key_points.h"
#include "workstation/extract/save_extract.h"
#include "workstation/extract/testing/test_extracts.h"
#include "workstation/matching/sift_compare.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Pairs per second over every pair of `a` x `b`, median of five runs.
double pairs_per_second(const std::vector<bristane::KeyList>& a,
                        const std::vector<bristane::KeyList>& b, double* checksum) {
  std::vector<double> rates;
  for (int run = 0; run < 5; ++run) {
    const auto t0 = Clock::now();
    double sum = 0;
    for (const auto& x : a)
      for (const auto& y : b)
        sum += matching::sift_score(matching::sift_matches(view_of(x), view_of(y)));
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    rates.push_back(static_cast<double>(a.size() * b.size()) / seconds);
    *checksum = sum;
  }
  return median(rates);
}

extract::GreyPicture pelt(std::uint64_t seed) {
  extract::testing::TestPelt p;
  p.seed = seed;
  p.marks = 60;
  int clamped = 0;
  const std::string raw =
      extract::raw_image_bytes(extract::testing::test_extract(p).intensity, &clamped);
  extract::GreyPicture g;
  g.rows = g.columns = 256;
  g.pixels.assign(raw.begin(), raw.end());
  return g;
}

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

int corpus(const std::string& folder, const std::string& truth_path) {
  std::map<std::string, std::string> truth;
  if (!truth_path.empty()) {
    std::ifstream in(truth_path);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string cell, animal;
      if (line.empty() || line[0] == ';' || !(words >> cell >> animal)) continue;
      truth[cell] = animal;
    }
  }
  struct Extract {
    std::string animal;
    bristane::KeyList keys;
  };
  std::map<std::string, std::vector<Extract>> aspects;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  for (const std::string& path : names) {
    const std::string cell = std::filesystem::path(path).filename().string();
    const size_t first = cell.find('_'), last = cell.rfind('_');
    if (first == std::string::npos || last == first) continue;
    Extract x;
    x.animal = truth.count(cell) > 0 ? truth[cell] : cell.substr(0, first);
    const Status s = bristane::read_key_file(path, &x.keys);
    if (!s.ok()) {
      std::printf("left out: %s\n", s.message().c_str());
      continue;
    }
    aspects[cell.substr(last + 1)].push_back(std::move(x));
  }
  std::printf(
      "aspect  extracts  keys(median)  same animal m: median [10%%..90%%] (pairs)  "
      "different animals m: median [90%%, 99%%, max] (pairs)\n");
  for (const auto& [aspect, list] : aspects) {
    std::vector<double> same, other, counts;
    for (size_t i = 0; i < list.size(); ++i) {
      counts.push_back(list[i].keys.count());
      for (size_t j = i + 1; j < list.size(); ++j) {
        const double m = matching::sift_matches(view_of(list[i].keys), view_of(list[j].keys));
        (list[i].animal == list[j].animal ? same : other).push_back(m);
      }
    }
    std::printf("%-6s  %8zu  %12.0f  %6.0f [%.0f..%.0f] (%zu)  %32.0f [%.0f, %.0f, %.0f] (%zu)\n",
                aspect.c_str(), list.size(), quantile(counts, 0.5), quantile(same, 0.5),
                quantile(same, 0.1), quantile(same, 0.9), same.size(), quantile(other, 0.5),
                quantile(other, 0.9), quantile(other, 0.99), quantile(other, 1.0), other.size());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--keys")
    return corpus(argv[2], argc > 3 ? argv[3] : "");
  const int side = argc > 1 ? std::max(2, static_cast<int>(std::sqrt(std::atof(argv[1])))) : 40;
  // Synthetic lists: every fifth library extract is a pending one seen again.
  std::vector<bristane::KeyList> pending, library;
  for (int k = 0; k < side; ++k) pending.push_back(bristane::testing::random_keys(300, 1u + k));
  for (int k = 0; k < side; ++k) {
    if (k % 5 == 0) {
      bristane::testing::Sighting s;
      s.kept = 200;
      s.extra = 100;
      s.rotation = 0.2;
      s.seed = 50u + k;
      library.push_back(bristane::testing::seen_again(pending[k], s));
    } else {
      library.push_back(bristane::testing::random_keys(300, 1000u + k));
    }
  }
  double checksum = 0;
  const double synthetic = pairs_per_second(pending, library, &checksum);
  std::printf("pairs per second, 300 synthetic keys each:  %.0f  (%d x %d pairs, checksum %.4f)\n",
              synthetic, side, side, checksum);

  // The generator's lists of drawn pelts, and its time per key file.
  std::vector<bristane::KeyList> drawn;
  std::vector<double> make_ms, read_ms;
  double keys_total = 0;
  const std::string path = "/tmp/sift_bench_keys." + std::to_string(::getpid());
  for (int k = 0; k < 20; ++k) {
    const extract::GreyPicture picture = pelt(500u + k);
    const auto t0 = Clock::now();
    bristane::KeyList keys;
    if (!extract::make_key_points(picture, &keys).ok()) return 1;
    const std::string text = bristane::key_file_text(keys);
    make_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (!write_file_atomically(path, text).ok()) return 1;
    const auto t1 = Clock::now();
    bristane::KeyList back;
    if (!bristane::read_key_file(path, &back).ok()) return 1;
    read_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t1).count());
    keys_total += keys.count();
    drawn.push_back(std::move(keys));
  }
  std::remove(path.c_str());
  const std::vector<bristane::KeyList> half_a(drawn.begin(), drawn.begin() + 10),
      half_b(drawn.begin() + 10, drawn.end());
  const double pelts = pairs_per_second(half_a, half_b, &checksum);
  std::printf("pairs per second, drawn pelts (%.0f keys):   %.0f\n", keys_total / drawn.size(),
              pelts);
  std::printf("one key file made (256 x 256):              %.1f ms\n", median(make_ms));
  std::printf("one key file read:                          %.2f ms\n", median(read_ms));
  return 0;
}
