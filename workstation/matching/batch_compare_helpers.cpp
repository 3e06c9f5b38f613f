// Progress, texts and the tarvikx command of the batch comparison (see
// batch_compare_helpers.h).
#include "workstation/matching/batch_compare_helpers.h"

#include <fstream>
#include <sstream>

#include <cmath>

#include "workstation/common/control_panel.h"
#include "workstation/matching/list_files.h"
#include "workstation/matching/results_import.h"

namespace velmora::matching {

void show_progress(ControlPanel& panel, double fraction) {
  if (!(fraction >= 0.0)) fraction = 0.0;  // also NaN
  if (fraction > 1.0) fraction = 1.0;
  panel.set_progress(fraction * 0.98 + 0.01);
}

bool set_bit(std::span<int32_t> words, int64_t n) {
  if (n < 0) return false;
  const uint64_t word = static_cast<uint64_t>(n) / 32;  // index from 0 of word (n div 32) + 1
  if (word >= words.size()) return false;
  const uint32_t bit = uint32_t{1} << (n % 32);
  words[word] = static_cast<int32_t>(static_cast<uint32_t>(words[word]) | bit);
  return true;
}

std::string run_file_for_aspect(const std::string& aspect) {
  return aspect == "Head" ? "tarvik_head.ini" : "tarvik.ini";
}

std::string library_batch_label(int n, const std::string& side, const std::string& aspect, int b) {
  if (b == 1) {
    return "tarvik of " + std::to_string(n) + " new " + side + " side " + aspect +
           " extracts with each other and batch 1";
  }
  if (n == 1) {
    return "tarvik of new " + side + " side " + aspect + "  extract with batch " +
           std::to_string(b) + " of library extracts";
  }
  return "tarvik of " + std::to_string(n) + " new " + side + " side " + aspect +
         " extracts with batch " + std::to_string(b) + " of library extracts";
}

std::string library_batches_label(int n, const std::string& side, const std::string& aspect,
                                  int runs, int at_once) {
  return "tarvik of " + std::to_string(n) + " new " + side + " side " + aspect +
         " extracts with each other and batches 1 to " + std::to_string(runs) +
         " of library extracts, " + std::to_string(at_once) + " at a time";
}

std::string no_library_label(int n, const std::string& side, const std::string& aspect) {
  return "tarvik of " + std::to_string(n) + " new " + side + " side " + aspect +
         " extracts with each other";
}

std::string completed_label(const std::string& aspect, const std::string& side) {
  return "completed tarvik for " + aspect + ", " + side;
}

std::string previous_results_message(const std::string& aspect, const std::string& side,
                                     const std::string& letter) {
  return "previous " + aspect + side + letter + " comparison results exist " +
         "- run 'batch compare' with zero batch size";
}

ProcessCommand tarvik_command(const TarvikRun& run) {
  ProcessCommand c;
  c.program = run.tarvikx;
  c.working_folder = run.working_folder;
  c.arguments = {run.oldlib_dir,
                 pending_list_name(run.side),
                 run.oldlib_dir,
                 run.library_list.empty() ? library_list_name(run.side) : run.library_list,
                 run.results_file.empty() ? results_file_name(run.aspect, run.side, run.letter)
                                          : run.results_file,
                 run.run_file,
                 run.first_run ? "true" : "false"};
  return c;
}

std::string run_library_list_name(const std::string& side, int run) {
  return library_list_name(side) + ".run" + std::to_string(run);
}

std::string run_results_file_name(const std::string& aspect, const std::string& side,
                                  const std::string& letter, int run) {
  return results_file_name(aspect, side, letter) + ".run" + std::to_string(run);
}

void TarvikxProgress::feed(std::string_view bytes, const std::function<void(double)>& each) {
  for (char c : bytes) {
    if (c != '\n') {
      // A line longer than any progress line is not one; only its end matters.
      if (line_.size() < 100) line_ += c;
      continue;
    }
    std::istringstream words(line_);
    std::string word;
    long long pass = 0, passes = 0, done = 0, total = 0;
    if (words >> word && word == "progress" && words >> pass >> passes >> done >> total &&
        passes > 0 && pass >= 1 && pass <= passes && total > 0 && done >= 0 && done <= total) {
      each((static_cast<double>(pass - 1) + static_cast<double>(done) / total) / passes);
    }
    line_.clear();
  }
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string opposite_sex(const std::string& gender) {
  if (gender == "Female") return "Male";
  if (gender == "Male") return "Female";
  return "unset";
}

std::vector<std::string> read_name_list(const std::string& path) {
  std::vector<std::string> names;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

Status ensure_distribution_row(db::Statement& find, db::Statement& insert,
                               const std::string& filename) {
  Status s = find.set("pFilename", filename);
  db::RecordSet found;
  if (s.ok()) s = find.open(&found);
  if (!s.ok() || found.row_count() > 0) return s;
  s = insert.set("pFilename", filename);
  if (s.ok()) s = insert.execute();
  return s;
}

}  // namespace velmora::matching
