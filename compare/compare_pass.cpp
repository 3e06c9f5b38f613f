// The comparison pass (see compare_pass.h).
//
// Per batch member: record 0 is the fingerprint as read (it owns the image),
// records 1-3 are copies sharing that image, each with its sub-cell's origin,
// mean and scale and its own sub-cell spectrum. A member whose file cannot be
// read, or whose spectra cannot be had, takes part in no pair; a second
// fingerprint whose spectrum or surfaces cannot be had is skipped.
#include "compare/compare_pass.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace tarvik {
namespace {

// Score of a pair without a usable candidate, and of a singular fit.
constexpr double kNoValue = -9.99;

struct Member {
  SubCellLayout layout;
  Fingerprint rec[kSubCells];
  bool usable = false;
};

void put(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

// Adds the time since construction (or the last lap) to a counter, when
// timing is asked for.
class Lap {
 public:
  explicit Lap(bool on) : on_(on) {
    if (on_) start_ = std::chrono::steady_clock::now();
  }
  void add_to(double& sum) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    sum += std::chrono::duration<double>(now - start_).count();
    start_ = now;
  }

 private:
  bool on_;
  std::chrono::steady_clock::time_point start_;
};

// Plans by size; fingerprints of one run nearly always share one size. A
// plan that cannot be had counts as a spectrum without memory.
class PlanCache {
 public:
  FourierPlan* get(int rows, int cols) {
    for (auto& p : plans_) {
      if (p->rows() == rows && p->cols() == cols) return p.get();
    }
    try {
      plans_.push_back(std::make_unique<FourierPlan>(rows, cols));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return plans_.back().get();
  }

 private:
  std::vector<std::unique_ptr<FourierPlan>> plans_;
};

void release_member(Member& m) {
  for (int k = kSubCells - 1; k >= 1; --k) release_fingerprint(m.rec[k]);
  release_fingerprint(m.rec[0]);
  m.usable = false;
}

bool same_geometry(const Fingerprint& a, const Fingerprint& b) {
  return a.rows == b.rows && a.cols == b.cols && a.group_code_1 == b.group_code_1 &&
         a.group_code_2 == b.group_code_2 && a.subcols == b.subcols && a.subrows == b.subrows;
}

// What every step of one pass shares. The plans and the peak lists are
// scratch, reused pair after pair.
struct PassState {
  const PassSettings& settings;
  const PassOptions& options;
  std::FILE* out;
  PassTimings& t;
  bool timed;
  PlanCache plans;
  PeakList peaks[kSubCells];
};

// The second fingerprint of a round of pairs, transformed, with one
// correlation surface per sub-cell that every batch member reuses.
struct SecondPrint {
  Fingerprint fp;
  FourierPlan* plan = nullptr;
  Matrix<float> surface[kSubCells];
};

// The score of a pair and the candidate that gave it.
struct PairScore {
  double value = kNoValue;
  Candidate chosen;
};

// Reads one batch member and builds its four sub-cell records.
void load_member(PassState& pass, Member& m, const std::string& path) {
  const int code = read_fingerprint(path, m.rec[0], kLoadImage, &m.layout);
  if (code != kReadOk) {
    std::fprintf(pass.out, "  Error %d: Can't read ", code);
    put(pass.out, pass.settings.first_label);
    put(pass.out, " file ");
    put(pass.out, path);
    put(pass.out, "!!\n");
    return;
  }
  FourierPlan* plan = pass.plans.get(m.rec[0].rows, m.rec[0].cols);
  Lap lap(pass.timed);
  for (int k = 1; k < kSubCells; ++k) m.rec[k] = m.rec[0];
  for (int k = 0; k < kSubCells; ++k) {
    Fingerprint& rec = m.rec[k];
    rec.row_origin = m.layout.row_origin[k];
    rec.col_origin = m.layout.col_origin[k];
    rec.sub_mean = m.layout.sub_mean[k];
    rec.sub_scale = m.layout.sub_scale[k];
    if (plan == nullptr || !make_subcell_spectrum(rec, *plan)) {
      put(pass.out, "No mem sub_cell ffts\n");
      release_member(m);
      return;
    }
  }
  lap.add_to(pass.t.transforms);
  m.usable = true;
}

// Reads and transforms the second fingerprint and allocates its surfaces;
// false (after the message, with nothing left held) when it takes part in no
// pair.
bool load_second(PassState& pass, SecondPrint& second, const std::string& path) {
  SubCellLayout layout;
  Fingerprint& fp = second.fp;
  const int code = read_fingerprint(path, fp, kLoadImage | kLoadNormTable, &layout);
  if (code != kReadOk) {
    put(pass.out, "Can't read ");
    put(pass.out, pass.settings.second_label);
    put(pass.out, " fingerprint ");
    put(pass.out, path);
    std::fprintf(pass.out, "!%d\n", code);
    return false;
  }
  second.plan = pass.plans.get(fp.rows, fp.cols);
  Lap lap(pass.timed);
  const bool ok = second.plan != nullptr && make_cell_spectrum(fp, *second.plan);
  lap.add_to(pass.t.transforms);
  if (!ok) {
    put(pass.out, "Check!!\n");
    release_fingerprint(fp);
    return false;
  }
  const int reach_r = (fp.rows - layout.down * fp.subrows) / 2;
  const int reach_c = (fp.cols - layout.across * fp.subcols) / 2;
  bool surfaces_ok = true;
  for (auto& s : second.surface) {
    surfaces_ok = surfaces_ok && s.allocate(-reach_r, reach_r, -reach_c, reach_c, "surface");
  }
  if (!surfaces_ok) {
    put(pass.out, "corr arrays\n");
    release_fingerprint(fp);
    return false;
  }
  return true;
}

void release_second(SecondPrint& second) {
  for (auto& s : second.surface) s.release();
  release_fingerprint(second.fp);
}

// Scores a batch member against the second fingerprint: surfaces, peaks,
// constellation search, then the warp correlation of each candidate found.
// Nullopt (after the message) when the working copies of the two images
// cannot be had, which ends the pass.
std::optional<PairScore> score_pair(PassState& pass, const Member& member, SecondPrint& second) {
  const PassSettings& settings = pass.settings;
  PassTimings& t = pass.t;
  ++t.pairs;

  Lap lap(pass.timed);
  for (int k = 0; k < kSubCells; ++k) {
    fill_surface(member.rec[k], second.fp, *second.plan, second.surface[k]);
  }
  lap.add_to(t.transforms);
  for (int k = 0; k < kSubCells; ++k) list_peaks(second.surface[k], pass.peaks[k]);
  lap.add_to(t.peaks);
  const SearchResult found = search_constellations(
      pass.peaks, settings.row_model, settings.col_model, settings.row_tol.data(),
      settings.col_tol.data(), settings.peaks_per_subcell);
  lap.add_to(t.search);

  const int rows = member.rec[0].rows, cols = member.rec[0].cols;
  Matrix<std::uint8_t> x_copy, y_copy;
  if (!x_copy.allocate(1, rows, 1, cols, "X array")) {
    std::fprintf(pass.out, "No memory for %d x %d X array", rows, cols);
    return std::nullopt;
  }
  if (!y_copy.allocate(1, rows, 1, cols, "Y array")) {
    std::fprintf(pass.out, "No memory for %d x %d Y array", rows, cols);
    return std::nullopt;
  }
  const std::size_t bytes = static_cast<std::size_t>(rows) * cols;
  std::memcpy(x_copy.data(), member.rec[0].image.data(), bytes);
  std::memcpy(y_copy.data(), second.fp.image.data(), bytes);

  // Slot a only when some constellation filled it; b only as the second of
  // two. The first candidate tried stays chosen unless beaten; with none
  // tried, slot a as it stands is reported.
  const Candidate* tried[2];
  int n_tried = 0;
  if (found.a_filled) tried[n_tried++] = &found.a;
  if (found.count == 2) tried[n_tried++] = &found.b;
  double best = kNoValue;
  const Candidate* chosen = n_tried > 0 ? tried[0] : &found.a;
  for (int c = 0; c < n_tried; ++c) {
    bool singular = false;
    double value = warp_correlation(x_copy.data(), y_copy.data(), rows, cols, tried[c]->row_shift,
                                    tried[c]->col_shift, pass.options.warp_percentage,
                                    settings.margin, &singular);
    if (singular) {
      put(pass.out, "Singular matrix!\n");
      value = kNoValue;
    }
    if (value > best) {
      best = value;
      chosen = tried[c];
    }
  }
  lap.add_to(t.warp);
  return PairScore{best, *chosen};
}

void write_result_line(std::FILE* out, const std::string& first_name,
                       const std::string& second_name, const PairScore& score) {
  put(out, first_name);
  put(out, ",");
  put(out, second_name);
  std::fprintf(out, ",%.4f", score.value);
  for (int k = 0; k < kSubCells; ++k) {
    std::fprintf(out, ",%d,%d", score.chosen.row_shift[k], score.chosen.col_shift[k]);
  }
  std::fprintf(out, ",%.4f\n", static_cast<double>(score.chosen.mean));
}

// Every member of one batch against every second fingerprint; false when a
// pair found no memory for its working copies, which ends the pass there.
bool compare_batch(PassState& pass, const FileList& first, std::size_t begin, std::size_t end,
                   const FileList& second) {
  std::vector<Member> batch(end - begin);
  for (std::size_t m = 0; m < batch.size(); ++m) {
    load_member(pass, batch[m], first.directory + first.names[begin + m]);
  }
  bool go_on = true;
  for (const std::string& second_name : second.names) {
    SecondPrint print;
    if (!load_second(pass, print, second.directory + second_name)) continue;
    const std::string_view second_base = name_without_extension(second_name);
    for (std::size_t m = 0; m < batch.size() && go_on; ++m) {
      const Member& member = batch[m];
      if (!member.usable) continue;
      const std::string& first_name = first.names[begin + m];
      if (name_without_extension(first_name) == second_base) continue;
      if (!same_geometry(member.rec[0], print.fp)) continue;
      const std::optional<PairScore> score = score_pair(pass, member, print);
      if (!score) {
        go_on = false;
      } else if (score->value > pass.settings.threshold) {
        write_result_line(pass.out, first_name, second_name, *score);
      }
    }
    release_second(print);
    if (!go_on) break;
  }
  for (Member& m : batch) release_member(m);
  return go_on;
}

}  // namespace

std::string_view name_without_extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

void run_comparison_pass(const FileList& first, const FileList& second,
                         const PassSettings& settings, const PassOptions& options) {
  const std::string& results_path = settings.results_path;
  if (results_path.find('\0') != std::string::npos) return;
  std::FILE* out = std::fopen(results_path.c_str(), "ab");
  if (out == nullptr) return;
  PassTimings scratch;
  const bool timed = options.timings != nullptr;
  PassState pass{settings, options, out, timed ? *options.timings : scratch, timed, {}, {}};
  Lap whole(timed);

  put(out, "$ ");
  put(out, settings.first_label);
  put(out, " ");
  put(out, settings.second_label);
  put(out, "\n");

  for (std::size_t begin = 0; begin < first.names.size(); begin += kBatchSize) {
    const std::size_t end = std::min(first.names.size(), begin + kBatchSize);
    if (!compare_batch(pass, first, begin, end, second)) {
      std::fclose(out);
      return;
    }
  }
  std::fclose(out);
  whole.add_to(pass.t.total);
}

}  // namespace tarvik
