// The calibration run and the statistics of its results (see the header).
// Scores are summed in two passes (mean, then squared deviations), which
// keeps the spread exact for the tight match scores near 0.9.
#include "tools/corpus/calibration.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "compare/compare_pass.h"
#include "compare/run_file.h"
#include "tools/corpus/identification_rates.h"

namespace velmora::corpus {
namespace {

ScoreStatistics statistics_of(const std::vector<double>& scores) {
  ScoreStatistics s;
  s.count = static_cast<int64_t>(scores.size());
  if (scores.empty()) return s;
  double sum = 0;
  for (double x : scores) sum += x;
  s.mean = sum / static_cast<double>(scores.size());
  if (scores.size() < 2) return s;
  double squares = 0;
  for (double x : scores) squares += (x - s.mean) * (x - s.mean);
  s.sigma = std::sqrt(squares / static_cast<double>(scores.size() - 1));
  return s;
}

}  // namespace

Status score_statistics(std::istream& results, const std::map<std::string, std::string>& animal_of,
                        int64_t expected_matches, CalibrationSummary* out) {
  CalibrationSummary s;
  s.expected_matches = expected_matches;
  std::vector<double> match, nonmatch;
  std::string line;
  while (std::getline(results, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view a, b;
    double score = 0;
    if (!parse_result_line(line, &a, &b, &score)) {
      if (line.rfind("$ ", 0) == 0) {
        ++s.header_lines;
      } else if (!line.empty()) {
        ++s.other_lines;
      }
      continue;
    }
    ++s.result_lines;
    auto ia = animal_of.find(std::string(a));
    auto ib = animal_of.find(std::string(b));
    if (ia == animal_of.end() || ib == animal_of.end()) {
      ++s.unknown_lines;
      continue;
    }
    (ia->second == ib->second ? match : nonmatch).push_back(score);
  }
  if (results.bad()) return Status::IOError("the calibration results could not be read");
  s.match = statistics_of(match);
  s.nonmatch = statistics_of(nonmatch);
  s.missing_matches = std::max<int64_t>(0, expected_matches - s.match.count);
  if (s.match.count < 2 || s.nonmatch.count < 2)
    return Status::Corruption("the calibration run gave " + std::to_string(s.match.count) +
                              " matching and " + std::to_string(s.nonmatch.count) +
                              " non-matching scores; at least two of each are needed");
  *out = s;
  return Status::Ok();
}

Status run_calibration(const CalibrationRun& run, CalibrationSummary* summary) {
  if (run.groups.empty())
    return Status::InvalidArgument("a calibration run needs two non-empty lists");
  int64_t expected = 0;
  for (const CalibrationLists& g : run.groups) {
    if (g.first.empty() || g.second.empty())
      return Status::InvalidArgument("a calibration run needs two non-empty lists");
    for (const std::string& a : g.first) {
      auto ia = run.animal_of.find(a);
      if (ia == run.animal_of.end())
        return Status::InvalidArgument("calibration cell " + a + " has no animal");
      for (const std::string& b : g.second) {
        auto ib = run.animal_of.find(b);
        if (ib == run.animal_of.end())
          return Status::InvalidArgument("calibration cell " + b + " has no animal");
        if (ia->second == ib->second) ++expected;
      }
    }
  }
  std::error_code ec;
  if (std::filesystem::exists(run.results_file, ec))
    return Status::InvalidArgument("the calibration results file " + run.results_file +
                                   " exists already");
  tarvik::RunFile constants;
  if (!tarvik::read_run_file(run.run_file, constants))
    return Status::NotFound("cannot open the run file " + run.run_file);
  tarvik::PassSettings settings = tarvik::pass_settings(constants);
  settings.results_path = run.results_file;
  // Statistics from a results file the disk cut short would be wrong
  // without a word: a pass that could not write is a failure.
  auto pass = [&](const tarvik::FileList& a, const tarvik::FileList& b, const char* label_a,
                  const char* label_b) {
    settings.first_label = label_a;
    settings.second_label = label_b;
    const tarvik::PassOutcome outcome = tarvik::run_comparison_pass(a, b, settings);
    if (outcome.written()) return Status::Ok();
    std::string message = tarvik::results_failure_message(run.results_file, outcome);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return Status::IOError("the calibration run failed: " + message);
  };
  for (const CalibrationLists& g : run.groups) {
    const tarvik::FileList first{run.fingerprint_folder, g.first};
    const tarvik::FileList second{run.fingerprint_folder, g.second};
    Status s = pass(first, second, "first", "second");
    if (s.ok()) s = pass(second, first, "second", "first");
    if (!s.ok()) return s;
  }
  std::ifstream in(run.results_file, std::ios::binary);
  if (!in) return Status::IOError("the calibration run wrote no results file " + run.results_file);
  // Both directions compare the same pairs.
  return score_statistics(in, run.animal_of, 2 * expected, summary);
}

std::vector<CalibrationLists> calibration_groups(const std::vector<LibraryExtract>& library,
                                                 int max_animals) {
  // Per side: the animals in order of their first extract, with the first
  // two extracts of each.
  struct Side {
    std::string side;
    std::vector<std::string> animals;
    std::map<std::string, std::vector<std::string>> cells;
  };
  std::vector<Side> sides;
  for (const LibraryExtract& e : library) {
    auto side =
        std::find_if(sides.begin(), sides.end(), [&e](const Side& s) { return s.side == e.side; });
    if (side == sides.end()) side = sides.insert(sides.end(), Side{e.side, {}, {}});
    std::vector<std::string>& cells = side->cells[e.animal];
    if (cells.empty()) side->animals.push_back(e.animal);
    if (cells.size() < 2) cells.push_back(e.cell);
  }
  std::vector<CalibrationLists> groups;
  for (const Side& side : sides) {
    CalibrationLists g;
    g.side = side.side;
    for (const std::string& animal : side.animals) {
      if (static_cast<int>(g.first.size()) >= max_animals) break;
      const std::vector<std::string>& cells = side.cells.at(animal);
      if (cells.size() < 2) continue;
      g.first.push_back(cells[0]);
      g.second.push_back(cells[1]);
    }
    if (!g.first.empty()) groups.push_back(std::move(g));
  }
  return groups;
}

}  // namespace velmora::corpus
