// The comparison pass (see compare_pass.h).
//
// Per batch member: record 0 is the fingerprint as read (it owns the image),
// records 1-3 are copies sharing that image, each with its sub-cell's origin,
// mean and scale and its own sub-cell spectrum. A member whose file cannot be
// read, or whose spectra cannot be had, takes part in no pair; a second
// fingerprint whose spectrum or surfaces cannot be had is skipped.
#include "compare/compare_pass.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

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

// Reads one batch member and builds its four sub-cell records.
void load_member(Member& m, const FileList& first, const std::string& name,
                 const std::string& first_label, std::FILE* out, PlanCache& plans,
                 PassTimings* timings) {
  const std::string path = first.directory + name;
  const int code = read_fingerprint(path, m.rec[0], kLoadImage, &m.layout);
  if (code != kReadOk) {
    std::fprintf(out, "  Error %d: Can't read ", code);
    put(out, first_label);
    put(out, " file ");
    put(out, path);
    put(out, "!!\n");
    return;
  }
  FourierPlan* plan = plans.get(m.rec[0].rows, m.rec[0].cols);
  Lap lap(timings != nullptr);
  for (int k = 1; k < kSubCells; ++k) m.rec[k] = m.rec[0];
  for (int k = 0; k < kSubCells; ++k) {
    Fingerprint& rec = m.rec[k];
    rec.row_origin = m.layout.row_origin[k];
    rec.col_origin = m.layout.col_origin[k];
    rec.sub_mean = m.layout.sub_mean[k];
    rec.sub_scale = m.layout.sub_scale[k];
    if (plan == nullptr || !make_subcell_spectrum(rec, *plan)) {
      put(out, "No mem sub_cell ffts\n");
      release_member(m);
      return;
    }
  }
  if (timings != nullptr) lap.add_to(timings->transforms);
  m.usable = true;
}

}  // namespace

std::string_view name_without_extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

void run_comparison_pass(const FileList& first, const FileList& second, double threshold,
                         const std::string& results_path, const ShiftModel& row_model,
                         const ShiftModel& col_model, const float col_tol[4],
                         const float row_tol[4], int peaks_per_subcell,
                         const std::string& first_label, const std::string& second_label,
                         int margin, const PassOptions& options) {
  if (results_path.find('\0') != std::string::npos) return;
  std::FILE* out = std::fopen(results_path.c_str(), "ab");
  if (out == nullptr) return;
  PassTimings scratch;
  PassTimings& t = options.timings != nullptr ? *options.timings : scratch;
  const bool timed = options.timings != nullptr;
  Lap whole(timed);

  put(out, "$ ");
  put(out, first_label);
  put(out, " ");
  put(out, second_label);
  put(out, "\n");

  PlanCache plans;
  PeakList peaks[kSubCells];
  for (std::size_t begin = 0; begin < first.names.size(); begin += kBatchSize) {
    const std::size_t end = std::min(first.names.size(), begin + kBatchSize);
    std::vector<Member> batch(end - begin);
    for (std::size_t m = 0; m < batch.size(); ++m) {
      load_member(batch[m], first, first.names[begin + m], first_label, out, plans,
                  options.timings);
    }

    for (const std::string& second_name : second.names) {
      const std::string path = second.directory + second_name;
      Fingerprint fp2;
      SubCellLayout layout2;
      const int code = read_fingerprint(path, fp2, kLoadImage | kLoadNormTable, &layout2);
      if (code != kReadOk) {
        put(out, "Can't read ");
        put(out, second_label);
        put(out, " fingerprint ");
        put(out, path);
        std::fprintf(out, "!%d\n", code);
        continue;
      }
      FourierPlan* plan = plans.get(fp2.rows, fp2.cols);
      {
        Lap lap(timed);
        const bool ok = plan != nullptr && make_cell_spectrum(fp2, *plan);
        lap.add_to(t.transforms);
        if (!ok) {
          put(out, "Check!!\n");
          release_fingerprint(fp2);
          continue;
        }
      }
      const int reach_r = (fp2.rows - layout2.down * fp2.subrows) / 2;
      const int reach_c = (fp2.cols - layout2.across * fp2.subcols) / 2;
      Matrix<float> surface[kSubCells];
      bool surfaces_ok = true;
      for (auto& s : surface) {
        surfaces_ok = surfaces_ok && s.allocate(-reach_r, reach_r, -reach_c, reach_c, "surface");
      }
      if (!surfaces_ok) {
        put(out, "corr arrays\n");
        release_fingerprint(fp2);
        continue;
      }
      const std::string_view second_base = name_without_extension(second_name);

      for (std::size_t m = 0; m < batch.size(); ++m) {
        Member& member = batch[m];
        if (!member.usable) continue;
        const std::string& first_name = first.names[begin + m];
        if (name_without_extension(first_name) == second_base) continue;
        if (!same_geometry(member.rec[0], fp2)) continue;
        ++t.pairs;

        Lap lap(timed);
        for (int k = 0; k < kSubCells; ++k) fill_surface(member.rec[k], fp2, *plan, surface[k]);
        lap.add_to(t.transforms);
        for (int k = 0; k < kSubCells; ++k) list_peaks(surface[k], peaks[k]);
        lap.add_to(t.peaks);
        const SearchResult found =
            search_constellations(peaks, row_model, col_model, row_tol, col_tol, peaks_per_subcell);
        lap.add_to(t.search);

        const int rows = member.rec[0].rows, cols = member.rec[0].cols;
        Matrix<std::uint8_t> x_copy, y_copy;
        if (!x_copy.allocate(1, rows, 1, cols, "X array")) {
          std::fprintf(out, "No memory for %d x %d X array", rows, cols);
          std::fclose(out);
          return;
        }
        if (!y_copy.allocate(1, rows, 1, cols, "Y array")) {
          std::fprintf(out, "No memory for %d x %d Y array", rows, cols);
          std::fclose(out);
          return;
        }
        const std::size_t bytes = static_cast<std::size_t>(rows) * cols;
        std::memcpy(x_copy.data(), member.rec[0].image.data(), bytes);
        std::memcpy(y_copy.data(), fp2.image.data(), bytes);

        // Slot a only when some constellation filled it; b only as the second
        // of two. The first candidate tried stays chosen unless beaten.
        const Candidate* tried[2];
        int n_tried = 0;
        if (found.a_filled) tried[n_tried++] = &found.a;
        if (found.count == 2) tried[n_tried++] = &found.b;
        double best = kNoValue;
        const Candidate* chosen = n_tried > 0 ? tried[0] : &found.a;
        for (int c = 0; c < n_tried; ++c) {
          bool singular = false;
          double value =
              warp_correlation(x_copy.data(), y_copy.data(), rows, cols, tried[c]->row_shift,
                               tried[c]->col_shift, options.warp_percentage, margin, &singular);
          if (singular) {
            put(out, "Singular matrix!\n");
            value = kNoValue;
          }
          if (value > best) {
            best = value;
            chosen = tried[c];
          }
        }
        lap.add_to(t.warp);

        if (best > threshold) {
          put(out, first_name);
          put(out, ",");
          put(out, second_name);
          std::fprintf(out, ",%.4f", best);
          for (int k = 0; k < kSubCells; ++k) {
            std::fprintf(out, ",%d,%d", chosen->row_shift[k], chosen->col_shift[k]);
          }
          std::fprintf(out, ",%.4f\n", static_cast<double>(chosen->mean));
        }
      }
      for (auto& s : surface) s.release();
      release_fingerprint(fp2);
    }
    for (Member& m : batch) release_member(m);
  }
  std::fclose(out);
  whole.add_to(t.total);
}

}  // namespace tarvik
