// The key-point comparison family (see sift_compare.h).
#include "workstation/matching/sift_compare.h"

#include <algorithm>

#include "workstation/common/number_text.h"
#include "workstation/config/folder_file.h"
#include "workstation/matching/batch_compare_helpers.h"

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

}  // namespace velmora::matching
