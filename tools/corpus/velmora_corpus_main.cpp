// velmora-corpus: makes a synthetic identification corpus and rates a
// comparison run over it. The work is in the velmora_corpus library, the
// command line in corpus_command_line.h (exit code 2 when it is wrong).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/corpus/corpus_command_line.h"
#include "tools/corpus/corpus_writer.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/identification_rates.h"
#include "tools/corpus/library_stats.h"
#include "tools/corpus/synthetic_extract.h"
#include "tools/corpus/synthetic_photo.h"
#include "tools/corpus/temp_ranking.h"
#include "workstation/common/number_text.h"
#include "workstation/db/database.h"

namespace {

int fail(const velmora::Status& s) {
  std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
  return 1;
}

int make(const velmora::corpus::CorpusCommandLine& line) {
  const velmora::corpus::CorpusOptions& options = line.corpus;
  const velmora::Status s = velmora::corpus::write_corpus(line.folder, options);
  if (!s.ok()) return fail(s);
  std::printf("%d animals x %d sightings written to %s (seed %llu)\n", options.animals,
              options.sightings, line.folder.c_str(),
              static_cast<unsigned long long>(options.seed));
  return 0;
}

int make_data(const velmora::corpus::CorpusCommandLine& line) {
  const velmora::corpus::DataFolderOptions& options = line.data;
  velmora::corpus::DataFolderSummary sum;
  const velmora::Status s = velmora::corpus::write_data_folder(line.folder, options, &sum);
  if (!s.ok()) return fail(s);
  const velmora::corpus::CalibrationSummary& cal = sum.calibration;
  std::printf("data folder %s: %d animals, %d pending and %d library extracts (seed %llu)\n",
              line.folder.c_str(), options.corpus.animals, sum.pending, sum.library,
              static_cast<unsigned long long>(options.corpus.seed));
  std::printf("  database %s: aspect %s (letter %s, side %s), algorithm %s (tarvik)\n",
              sum.database_path.c_str(), options.aspect.c_str(),
              options.corpus.aspect_letter.c_str(), velmora::corpus::kSide, options.letter.c_str());
  std::printf("  stats from %d library animals (sightings 2 and 3, both ways):\n",
              sum.calibration_animals);
  using velmora::real_to_fixed_text;
  std::printf("    match %s +/- %s (%lld scores, %lld pairs without one)\n",
              real_to_fixed_text(cal.match.mean, 4).c_str(),
              real_to_fixed_text(cal.match.sigma, 4).c_str(),
              static_cast<long long>(cal.match.count), static_cast<long long>(cal.missing_matches));
  std::printf("    non-match %s +/- %s (%lld scores)\n",
              real_to_fixed_text(cal.nonmatch.mean, 4).c_str(),
              real_to_fixed_text(cal.nonmatch.sigma, 4).c_str(),
              static_cast<long long>(cal.nonmatch.count));
  if (cal.other_lines > 0)
    std::printf("    problem lines in the calibration results: %lld\n",
                static_cast<long long>(cal.other_lines));
  std::printf("  working folder %s (tarvik.ini)\n", sum.working_folder.c_str());
  return 0;
}

int make_extracts(const velmora::corpus::CorpusCommandLine& line) {
  const velmora::corpus::ExtractCorpusOptions& options = line.extracts;
  velmora::corpus::ExtractCorpusSummary sum;
  const velmora::Status s = velmora::corpus::write_extract_corpus(line.folder, options, &sum);
  if (!s.ok()) return fail(s);
  for (const velmora::corpus::ExtractAspectSummary& aspect : sum.aspects)
    std::printf("%s\n", velmora::corpus::format_aspect_summary(aspect).c_str());
  std::printf("bundles in %s, data folder %s (database %s), truth %s (seed %llu)\n",
              sum.bundles.c_str(), sum.data_folder.c_str(), sum.database_path.c_str(),
              sum.truth.c_str(), static_cast<unsigned long long>(options.seed));
  return 0;
}

int make_photos(const velmora::corpus::CorpusCommandLine& line) {
  const velmora::corpus::PhotoCorpusOptions& options = line.photos;
  velmora::corpus::PhotoCorpusSummary sum;
  const velmora::Status s = velmora::corpus::write_photo_corpus(line.folder, options, &sum);
  if (!s.ok()) return fail(s);
  std::printf("%d photographs (%d left and %d right flanks) in %s, marks in %s (seed %llu)\n",
              sum.photographs, sum.left, sum.right, sum.newpics.c_str(), sum.marks.c_str(),
              static_cast<unsigned long long>(options.seed));
  std::printf("  fit files of those marks in %s (work picture %d x %d)\n", sum.fits.c_str(),
              velmora::corpus::kFitWorkWidth, velmora::corpus::kFitWorkHeight);
  std::printf(
      "  database %s (aspect %s): %d new photographs waiting for extraction (E), %d "
      "of the library (L)\n",
      sum.database_path.c_str(), velmora::corpus::kPhotoAspect, sum.pending, sum.library);
  std::printf("  roles %s, truth %s, run file in %s\n", sum.roles.c_str(), sum.truth.c_str(),
              sum.working_folder.c_str());
  return 0;
}

int make_stats(const velmora::corpus::CorpusCommandLine& line) {
  velmora::corpus::LibraryStatsSummary sum;
  const velmora::Status s = velmora::corpus::write_library_stats(line.stats, &sum);
  if (!s.ok()) return fail(s);
  std::printf("stats of aspect %s, algorithm %s, from %d library extracts",
              line.stats.aspect.c_str(), sum.letter.c_str(), sum.library);
  if (sum.without_side > 0) std::printf(" (%d without a side left out)", sum.without_side);
  if (sum.without_fingerprint > 0)
    std::printf(" (%d without a fingerprint left out)", sum.without_fingerprint);
  std::printf(":\n");
  for (const velmora::corpus::CalibrationLists& g : sum.groups)
    std::printf("  side %s: %zu animals with two extracts\n", g.side.c_str(), g.first.size());
  const velmora::corpus::CalibrationSummary& cal = sum.calibration;
  using velmora::real_to_fixed_text;
  std::printf("  match %s +/- %s (%lld scores, %lld pairs without one)\n",
              real_to_fixed_text(cal.match.mean, 4).c_str(),
              real_to_fixed_text(cal.match.sigma, 4).c_str(),
              static_cast<long long>(cal.match.count), static_cast<long long>(cal.missing_matches));
  std::printf("  non-match %s +/- %s (%lld scores)\n",
              real_to_fixed_text(cal.nonmatch.mean, 4).c_str(),
              real_to_fixed_text(cal.nonmatch.sigma, 4).c_str(),
              static_cast<long long>(cal.nonmatch.count));
  std::printf("  results %s\n", sum.results_file.c_str());
  return 0;
}

int show_candidates(const velmora::corpus::CorpusCommandLine& line) {
  const std::string& dir = line.folder;
  const std::string& db_path = line.database;
  std::vector<velmora::corpus::CorpusSighting> truth;
  velmora::Status s =
      velmora::corpus::read_manifest(dir + "/" + velmora::corpus::kTruthFileName, &truth);
  if (!s.ok()) return fail(s);
  std::unique_ptr<velmora::db::Database> db;
  s = velmora::db::Database::open(db_path, velmora::db::Database::OpenMode::kReadOnly, &db);
  if (!s.ok()) return fail(s);
  std::string letter;
  std::vector<velmora::corpus::CandidateScore> scores;
  s = velmora::corpus::read_temp_candidates(db.get(), &letter, &scores);
  if (!s.ok()) return fail(s);
  velmora::corpus::SideOfCell sides;
  s = velmora::corpus::read_extract_sides(db.get(), &sides);
  if (!s.ok()) return fail(s);
  velmora::corpus::TempRanking ranking;
  s = velmora::corpus::rank_temp(truth, letter, scores, &ranking, sides);
  if (!s.ok()) return fail(s);
  std::fputs(velmora::corpus::format_temp_ranking(ranking, line.show, line.top).c_str(), stdout);
  // Each family's own letter ranked on its own: the leg codes against the
  // leg-code truth, every other family against the pattern extracts'.
  std::vector<velmora::corpus::AlgorithmLetter> families;
  s = velmora::corpus::read_family_letters(db.get(), &families);
  if (!s.ok()) return fail(s);
  std::vector<velmora::corpus::CorpusSighting> legcode_truth;
  const bool have_legcode_truth =
      velmora::corpus::read_manifest(dir + "/" + velmora::corpus::kLegCodeTruthFileName,
                                     &legcode_truth)
          .ok();
  std::vector<velmora::corpus::LetterRates> rates;
  for (const velmora::corpus::AlgorithmLetter& f : families) {
    const bool legcode = f.type == "legcode";
    if (legcode && !have_legcode_truth) continue;
    velmora::corpus::LetterRates r{f, {}};
    s = velmora::corpus::rank_temp(legcode ? legcode_truth : truth, f.letter, scores, &r.ranking,
                                   sides);
    if (!s.ok()) return fail(s);
    rates.push_back(std::move(r));
  }
  std::fputs(("\n" + velmora::corpus::format_letter_rates(rates)).c_str(), stdout);
  // Rates over nothing would read as a run that merely found no one. The
  // report goes out first, so that the reason follows it in a shared log.
  std::fflush(stdout);
  if (ranking.with_candidates == 0)
    return fail(velmora::Status::NotFound("temp ranks no pending extract of " + dir + "/" +
                                          velmora::corpus::kTruthFileName));
  return 0;
}

int rank(const velmora::corpus::CorpusCommandLine& line) {
  const std::string& dir = line.folder;
  const std::string& results_path = line.results;
  std::vector<velmora::corpus::CorpusSighting> manifest;
  velmora::Status s = velmora::corpus::read_manifest(dir + "/corpus.txt", &manifest);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
    return 1;
  }
  std::ifstream results(results_path, std::ios::binary);
  if (!results) {
    std::fprintf(stderr, "velmora-corpus: cannot open the results file %s\n", results_path.c_str());
    return 1;
  }
  velmora::corpus::RankSummary summary;
  s = velmora::corpus::rank_results(manifest, results, &summary);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
    return 1;
  }
  std::fputs(velmora::corpus::format_summary(summary).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  velmora::corpus::CorpusCommandLine line;
  const int code =
      velmora::corpus::parse_corpus_command_line(argc, argv, &line, std::cout, std::cerr);
  if (code >= 0) return code;
  if (line.command == "make") return make(line);
  if (line.command == "rank") return rank(line);
  if (line.command == "data") return make_data(line);
  if (line.command == "extracts") return make_extracts(line);
  if (line.command == "photos") return make_photos(line);
  if (line.command == "stats") return make_stats(line);
  return show_candidates(line);
}
