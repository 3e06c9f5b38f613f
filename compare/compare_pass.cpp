// The comparison pass (see compare_pass.h).
//
// Per batch member: record 0 is the fingerprint as read (it owns the image),
// records 1-3 are copies sharing that image, each with its sub-cell's origin,
// mean and scale and its own sub-cell spectrum. A member whose file cannot be
// read, or whose spectra cannot be had, takes part in no pair; a second
// fingerprint whose spectrum or surfaces cannot be had is skipped.
#include "compare/compare_pass.h"

#include <algorithm>
#include <cerrno>
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
// Second fingerprints scored together against each batch member.
constexpr std::size_t kRoundsTogether = 8;

struct Member {
  SubCellLayout layout;
  Fingerprint rec[kSubCells];
  bool usable = false;
};

// The results file, open for appending. Every write is checked: on a full
// disk stdio fails at a write, at the flush or only at the close, and a pass
// that went on as if nothing happened would leave results silently missing.
// After the first failure nothing more is written; the outcome keeps the step
// and the errno of that failure (errno is read at once, as the reading of
// fingerprints between writes changes it).
class ResultsFile {
 public:
  ResultsFile() = default;
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;
  ~ResultsFile() {
    if (file_ != nullptr) std::fclose(file_);
  }

  bool open(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
      // No file has that name; the open cannot even be tried.
      outcome_ = {PassOutcome::Step::kOpen, EINVAL};
      return false;
    }
    errno = 0;
    file_ = std::fopen(path.c_str(), "ab");
    if (file_ == nullptr) fail(PassOutcome::Step::kOpen);
    return file_ != nullptr;
  }

  bool failed() const { return !outcome_.written(); }

  void put(std::string_view text) {
    if (failed()) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
      fail(PassOutcome::Step::kWrite);
    }
  }

  template <typename... Args>
  void print(const char* format, Args... args) {
    if (failed()) return;
    errno = 0;
    if (std::fprintf(file_, format, args...) < 0) fail(PassOutcome::Step::kWrite);
  }

  // Flushes and closes the file; the outcome of the whole pass.
  PassOutcome close() {
    if (file_ == nullptr) return outcome_;
    if (!failed()) {
      errno = 0;
      if (std::fflush(file_) != 0) fail(PassOutcome::Step::kFlush);
    }
    errno = 0;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0 && !failed()) fail(PassOutcome::Step::kClose);
    return outcome_;
  }

 private:
  void fail(PassOutcome::Step step) { outcome_ = {step, errno}; }

  std::FILE* file_ = nullptr;
  PassOutcome outcome_;
};

// What one round writes (one second fingerprint against the batch), held
// until the rounds before it are in the file: pairs are scored a few rounds
// at a time, the file is written in order.
class RoundText {
 public:
  void put(std::string_view text) { text_.append(text); }

  template <typename... Args>
  void print(const char* format, Args... args) {
    char small[80];
    const int n = std::snprintf(small, sizeof small, format, args...);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
      text_.append(small, static_cast<std::size_t>(n));
      return;
    }
    std::string large(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(large.data(), large.size(), format, args...);
    large.pop_back();
    text_.append(large);
  }

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

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
  ResultsFile& out;
  PassTimings& t;
  bool timed;
  PlanCache plans;
  PeakList peaks[kSubCells];
  std::size_t rounds_done = 0;
  std::size_t rounds = 0;  // batches of the first list times second names
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
    pass.out.print("  Error %d: Can't read ", code);
    pass.out.put(pass.settings.first_label);
    pass.out.put(" file ");
    pass.out.put(path);
    pass.out.put("!!\n");
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
      pass.out.put("No mem sub_cell ffts\n");
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
bool load_second(PassState& pass, SecondPrint& second, const std::string& path, RoundText& out) {
  SubCellLayout layout;
  Fingerprint& fp = second.fp;
  const int code = read_fingerprint(path, fp, kLoadImage | kLoadNormTable, &layout);
  if (code != kReadOk) {
    out.put("Can't read ");
    out.put(pass.settings.second_label);
    out.put(" fingerprint ");
    out.put(path);
    out.print("!%d\n", code);
    return false;
  }
  second.plan = pass.plans.get(fp.rows, fp.cols);
  Lap lap(pass.timed);
  const bool ok = second.plan != nullptr && make_cell_spectrum(fp, *second.plan);
  lap.add_to(pass.t.transforms);
  if (!ok) {
    out.put("Check!!\n");
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
    out.put("corr arrays\n");
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
std::optional<PairScore> score_pair(PassState& pass, const Member& member, SecondPrint& second,
                                    const Member* next, RoundText& out) {
  const PassSettings& settings = pass.settings;
  PassTimings& t = pass.t;
  ++t.pairs;

  Lap lap(pass.timed);
  // A batch holds hundreds of sub-cell spectra, too many for the nearest
  // caches: each transform fetches the one the next reads while it computes.
  for (int k = 0; k < kSubCells; ++k) {
    const Fingerprint* after = k + 1 < kSubCells ? &member.rec[k + 1]
                               : next != nullptr ? &next->rec[0]
                                                 : nullptr;
    fill_surface(member.rec[k], second.fp, *second.plan, second.surface[k],
                 after != nullptr ? after->subcell_spectrum.data() : nullptr);
  }
  lap.add_to(t.transforms);
  for (int k = 0; k < kSubCells; ++k) {
    list_peaks(second.surface[k], pass.peaks[k], settings.peaks_per_subcell);
  }
  lap.add_to(t.peaks);
  const SearchResult found = search_constellations(
      pass.peaks, settings.row_model, settings.col_model, settings.row_tol.data(),
      settings.col_tol.data(), settings.peaks_per_subcell);
  lap.add_to(t.search);

  const int rows = member.rec[0].rows, cols = member.rec[0].cols;
  Matrix<std::uint8_t> x_copy, y_copy;
  if (!x_copy.allocate(1, rows, 1, cols, "X array")) {
    out.print("No memory for %d x %d X array", rows, cols);
    return std::nullopt;
  }
  if (!y_copy.allocate(1, rows, 1, cols, "Y array")) {
    out.print("No memory for %d x %d Y array", rows, cols);
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
      out.put("Singular matrix!\n");
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

void write_result_line(RoundText& out, const std::string& first_name,
                       const std::string& second_name, const PairScore& score) {
  out.put(first_name);
  out.put(",");
  out.put(second_name);
  out.print(",%.4f", score.value);
  for (int k = 0; k < kSubCells; ++k) {
    out.print(",%d,%d", score.chosen.row_shift[k], score.chosen.col_shift[k]);
  }
  out.print(",%.4f\n", static_cast<double>(score.chosen.mean));
}

// Every member of one batch against every second fingerprint; false when a
// pair found no memory for its working copies or the results file failed,
// either of which ends the pass there.
//
// The second fingerprints are taken kRoundsTogether at a time, and each
// member is scored against all of them in a row: its sub-cell spectra (a
// batch holds hundreds, too many for the nearest caches) are then fetched
// once per group instead of once per pair. What each round writes waits in
// its own text and goes to the file in round order, so the file is the
// same as if the rounds had been scored one after another; so is where a
// pass that runs out of memory stops.
bool compare_batch(PassState& pass, const FileList& first, std::size_t begin, std::size_t end,
                   const FileList& second) {
  std::vector<Member> batch(end - begin);
  for (std::size_t m = 0; m < batch.size(); ++m) {
    load_member(pass, batch[m], first.directory + first.names[begin + m]);
  }
  bool go_on = !pass.out.failed();
  for (std::size_t group = 0; group < second.names.size() && go_on; group += kRoundsTogether) {
    const std::size_t rounds = std::min(kRoundsTogether, second.names.size() - group);
    std::vector<SecondPrint> prints(rounds);
    std::vector<RoundText> texts(rounds);
    std::vector<bool> loaded(rounds);
    for (std::size_t j = 0; j < rounds; ++j) {
      loaded[j] =
          load_second(pass, prints[j], second.directory + second.names[group + j], texts[j]);
    }
    // The first pair, in the one-round-after-another order, that found no
    // memory: rounds after it are not needed, nor is its own round after
    // that member.
    std::size_t stop_round = rounds;
    for (std::size_t m = 0; m < batch.size(); ++m) {
      const Member& member = batch[m];
      if (!member.usable) continue;
      const std::string& first_name = first.names[begin + m];
      const std::string_view first_base = name_without_extension(first_name);
      std::size_t last = stop_round;
      while (last > 0 && !loaded[last - 1]) --last;
      for (std::size_t j = 0; j < stop_round; ++j) {
        if (!loaded[j]) continue;
        const std::string& second_name = second.names[group + j];
        if (name_without_extension(second_name) == first_base) continue;
        if (!same_geometry(member.rec[0], prints[j].fp)) continue;
        // After its last round of the group, the next member's spectra are
        // the ones to fetch.
        const Member* next = nullptr;
        if (j + 1 == last && m + 1 < batch.size() && batch[m + 1].usable) next = &batch[m + 1];
        const std::optional<PairScore> score = score_pair(pass, member, prints[j], next, texts[j]);
        if (!score) {
          stop_round = j;
          break;
        }
        if (score->value > pass.settings.threshold) {
          write_result_line(texts[j], first_name, second_name, *score);
        }
      }
    }
    for (std::size_t j = 0; j < rounds; ++j) {
      pass.out.put(texts[j].text());
      if (pass.out.failed() || j == stop_round) {
        go_on = false;
        break;
      }
      ++pass.rounds_done;
      if (!loaded[j]) continue;
      if (pass.options.progress) pass.options.progress(pass.rounds_done, pass.rounds);
    }
    for (std::size_t j = 0; j < rounds; ++j) {
      if (loaded[j]) release_second(prints[j]);
    }
  }
  for (Member& m : batch) release_member(m);
  return go_on;
}

}  // namespace

std::string_view name_without_extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

std::string results_failure_message(const std::string& results_path, const PassOutcome& outcome) {
  const char* verb = outcome.step == PassOutcome::Step::kOpen ? "open" : "write";
  const std::string reason =
      outcome.error != 0 ? std::strerror(outcome.error) : "the system gave no reason";
  return "Can't " + std::string(verb) + " results file '" + results_path + "': " + reason + "\n";
}

PassOutcome run_comparison_pass(const FileList& first, const FileList& second,
                                const PassSettings& settings, const PassOptions& options) {
  ResultsFile out;
  if (!out.open(settings.results_path)) return out.close();
  PassTimings scratch;
  const bool timed = options.timings != nullptr;
  PassState pass{settings, options, out, timed ? *options.timings : scratch, timed, {}, {}};
  const std::size_t batches = (first.names.size() + kBatchSize - 1) / kBatchSize;
  pass.rounds = batches * second.names.size();
  Lap whole(timed);

  out.put("$ ");
  out.put(settings.first_label);
  out.put(" ");
  out.put(settings.second_label);
  out.put("\n");

  for (std::size_t begin = 0; begin < first.names.size() && !out.failed(); begin += kBatchSize) {
    const std::size_t end = std::min(first.names.size(), begin + kBatchSize);
    if (!compare_batch(pass, first, begin, end, second)) return out.close();
  }
  const PassOutcome outcome = out.close();
  whole.add_to(pass.t.total);
  return outcome;
}

}  // namespace tarvik
