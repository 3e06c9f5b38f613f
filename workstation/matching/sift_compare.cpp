// The key-point comparison family (see sift_compare.h).
#include "workstation/matching/sift_compare.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

#include "workstation/common/number_text.h"
#include "workstation/config/folder_file.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/list_files.h"

namespace velmora::matching {
namespace {

// The matcher's settings; see list_matches.h for what each one does.
constexpr double kRatio = 0.8;
constexpr double kMaxScaleChange = 2.0;
constexpr std::int32_t kPositionTolerance = 8, kOrientationTolerance = 32, kHypothesisMatches = 32,
                       kMaxRotation = 0, kMutual = 0;

std::string pending_label(int n, const std::string& side, const std::string& aspect) {
  return "compSift of " + std::to_string(n) + " new " + side + " side " + aspect +
         " extracts with each other";
}

std::string library_label(int n, int batch) {
  const std::string tail = " batch " + std::to_string(batch) + " of library extracts";
  if (n == 1) return "compSift of new extract with" + tail;
  return "compSift of " + std::to_string(n) + " new extracts with" + tail;
}

namespace fs = std::filesystem;

constexpr const char* kKeyFolder = "SiftLib/";

// The family as the shared frame drives it: it names the key file an
// extract needs and hands one aspect and side to compare_sift_side.
class KeyPointFamily : public ComparisonFamily {
 public:
  Status set_up(const FrameServices& frame, FamilySetup* setup) override;
  ExtractProblem extract_problem(const std::string& cell) const override;
  Status compare_side(const FrameServices& frame, SideWork& work) override;
  std::string completed_label(const std::string& aspect, const std::string& side) const override {
    return "completed compSift for " + aspect + ", " + side;
  }

 private:
  std::string data_folder_;  // ends in '/'
  std::string key_folder_;   // data folder + "SiftLib/"
};

Status KeyPointFamily::set_up(const FrameServices& frame, FamilySetup* setup) {
  const session::RunState& state = *frame.state;
  const std::string& letter = state.algorithm_letters.CompSift;
  if (letter.empty()) {
    return Status::InvalidArgument("Table algy has no row of type 'CompSift': nothing to compare.");
  }
  setup->letter = letter;
  setup->scores = kSiftScores;
  setup->move_with_import = !later_family_in_run(state.algorithm_letters, FamilyOrder::kKeyPoints);
  setup->lateral = session::LateralTypes::kLateralOrCapital;
  setup->making_lists_label = kSiftDistributionLabel;
  setup->all_completed_label = kSiftCompletedLabel;
  setup->refused_heading =
      "These extracts were left out of the key-point comparison: their cell names cannot be "
      "written in a results file or name no file of the data folder.";
  setup->missing_heading =
      "These extracts were left out of the key-point comparison: their key files are missing.";
  setup->unreadable_heading =
      "These extracts were left out of the key-point comparison: their key files cannot be read.";
  setup->not_compared_why = "its key file could not be read";

  const std::string& data = state.folders.data_folder;
  if (data.empty()) return Status::InvalidArgument("No data files folder is set.");
  data_folder_ = config::normalise_folder(data);
  key_folder_ = data_folder_ + kKeyFolder;
  std::error_code ec;
  if (frame.batch_size > 0 && !fs::is_directory(key_folder_, ec)) {
    return Status::NotFound("The data files folder '" + data +
                            "' has no key file folder 'SiftLib': nothing can be compared by key "
                            "points. Nothing was changed.");
  }
  return Status::Ok();
}

ExtractProblem KeyPointFamily::extract_problem(const std::string& cell) const {
  const std::string problem = list_name_problem(cell);
  if (!problem.empty()) return {ExtractProblem::Kind::kRefused, problem};
  return extract_file_problem(key_folder_, cell, "key file");
}

Status KeyPointFamily::compare_side(const FrameServices& frame, SideWork& work) {
  BatchCompareSummary& sum = *frame.summary;
  sum.family = "CompSift";
  sum.extract_file = "key file";
  const auto t0 = std::chrono::steady_clock::now();

  SiftSideInputs in;
  in.aspect = work.aspect->aspect;
  in.side = work.side;
  in.letter = work.letter;
  in.data_folder = data_folder_;
  in.working_folder = frame.working_folder;
  in.pending = work.pending;
  in.batch_size = frame.batch_size;
  db::RecordSet& library = *work.library;
  for (library.move_first(); !library.eof(); library.move_next()) {
    in.library.push_back(library.text("cell"));
  }
  // The library's names go through the same check as the pending ones: a
  // name the results file cannot carry is left out, not written.
  std::erase_if(in.library, [&](const std::string& cell) {
    if (extract_problem(cell).ok()) return false;
    ++sum.library_missing;
    return true;
  });
  sum.library_extracts += library.row_count();

  SiftSideResult result;
  Status s = compare_sift_side(in, *frame.panel, &result);
  sum.pairs_compared += result.pairs;
  sum.library_listed += result.library_loaded;
  sum.compare_seconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!s.ok()) return s;
  if (!result.compared.empty() && result.results_path != work.results_path) {
    return Status::IOError("The key-point results went to " + result.results_path + " instead of " +
                           work.results_path + "; nothing was imported.");
  }

  const std::set<std::string> pending(work.pending.begin(), work.pending.end());
  for (const KeyFileProblem& p : result.left_out) {
    if (pending.count(p.cell) > 0) {
      work.not_compared.emplace_back(p.cell, p.message);
    } else {
      ++sum.library_missing;
      note_left_out(&sum.unreadable_library_names, p.cell, p.message);
    }
  }
  if (result.compared.empty()) {
    // Every pending key file failed to load: an empty results file lets the
    // frame close the side as it closes any other, with nothing imported.
    AtomicFile empty;
    s = empty.open(work.results_path);
    if (s.ok()) s = empty.commit();
  }
  return s;
}

}  // namespace

double sift_score(double m) {
  return (m + 0.1) / (m + 1.1);
}

double sift_matches(const bristane::KeyListView& a, const bristane::KeyListView& b) {
  const bool swap = b.count < a.count;
  const bristane::KeyListView& x = swap ? b : a;
  const bristane::KeyListView& y = swap ? a : b;
  double m = 0;
  // The views come from checked key files and the settings are constants:
  // the call cannot refuse them, and m stays 0 if it did.
  (void)N_LISTMATCHES(&x.count, x.descriptors, x.locations, &y.count, y.descriptors, y.locations,
                      &kRatio, &kMaxScaleChange, &m, &kPositionTolerance, &kOrientationTolerance,
                      &kHypothesisMatches, &kMaxRotation, &kMutual);
  return m;
}

Status compare_sift_batches(const SiftBatch& first, const SiftBatch* second, AtomicFile& out,
                            const std::function<Status(double)>& progress, std::int64_t* pairs) {
  const bool with_itself = second == nullptr;
  const SiftBatch& other = with_itself ? first : *second;
  std::string lines;
  for (int i = 0; i < first.size(); ++i) {
    lines.clear();
    const bristane::KeyListView a = first.view(i);
    for (int j = with_itself ? i + 1 : 0; j < other.size(); ++j) {
      const double score = sift_score(sift_matches(a, other.view(j)));
      lines += first.filename[i];
      lines += ',';
      lines += other.filename[j];
      lines += ',';
      lines += real_to_text(score);
      lines += '\n';
      ++*pairs;
    }
    Status s = out.append(lines);
    if (!s.ok()) return s;
    if (progress) {
      s = progress(static_cast<double>(i + 1) / first.size());
      if (!s.ok()) return s;
    }
  }
  return Status::Ok();
}

Status compare_sift_side(const SiftSideInputs& in, ControlPanel& panel, SiftSideResult* result) {
  *result = SiftSideResult{};
  result->results_path = config::normalise_folder(in.working_folder) +
                         results_file_name(in.aspect, in.side, in.letter);
  SiftBatch pending, library;
  std::size_t next = 0;
  FillArraysSift(in.pending, &next, in.data_folder, std::max(in.batch_size, 0), &pending,
                 &result->left_out);
  if (pending.size() == 0) return Status::Ok();
  result->compared = pending.filename;

  AtomicFile out;
  Status s = out.open(result->results_path);
  if (!s.ok()) return s;
  const double library_total = static_cast<double>(std::max<std::size_t>(in.library.size(), 1));
  double done_before = 0, in_batch = 0;
  auto progress = [&](double share) {
    show_progress(panel, (done_before + share * in_batch) / library_total);
    panel.process_events();
    if (panel.stop_requested()) {
      return Status::Cancelled("The key-point comparison was stopped during " + in.aspect + " " +
                               in.side + "; nothing of it was kept.");
    }
    return Status::Ok();
  };

  // The pending pass fills the bar once, then each library batch its share.
  in_batch = library_total;
  const int n = pending.size();
  panel.set_text("lblProgress", pending_label(n, in.side, in.aspect));
  s = out.append("$ pending pending\n");
  if (s.ok()) s = compare_sift_batches(pending, nullptr, out, progress, &result->pairs);
  if (!s.ok()) return s;

  next = 0;
  while (next < in.library.size()) {
    const std::size_t start = next;
    FillArraysSift(in.library, &next, in.data_folder, kSiftLibraryBatch, &library,
                   &result->left_out);
    done_before = static_cast<double>(start);
    in_batch = static_cast<double>(next - start);
    if (library.size() == 0) continue;
    ++result->library_batches;
    result->library_loaded += library.size();
    panel.set_text("lblProgress", library_label(n, result->library_batches));
    s = out.append("$ pending library\n");
    if (s.ok()) s = compare_sift_batches(pending, &library, out, progress, &result->pairs);
    if (!s.ok()) return s;
  }
  show_progress(panel, 1.0);
  return out.commit();
}

Status compare_sift(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                    BatchCompareSummary* summary) {
  BatchCompareSummary local;
  BatchCompareSummary* sum = summary != nullptr ? summary : &local;
  KeyPointFamily family;
  Status s = run_comparison_frame(state, panel, dialogs, family, sum);
  sum->family = "CompSift";
  sum->extract_file = "key file";
  return s;
}

}  // namespace velmora::matching
