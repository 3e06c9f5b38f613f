// velmora-corpus: makes a synthetic identification corpus and rates a
// comparison run over it. The work is in the velmora_corpus library.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "tools/corpus/corpus_writer.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/identification_rates.h"
#include "tools/corpus/temp_ranking.h"
#include "workstation/common/number_text.h"
#include "workstation/db/database.h"

namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  velmora-corpus make DIR [--animals N] [--sightings K] [--seed S] [--aspect XY]\n"
    "                          [--noise G] [--quadrant-shift P] [--rotation D]\n"
    "      writes N synthetic animals (default 100) with K sightings each (default 3)\n"
    "      into the new or empty folder DIR: fingerprints in DIR/oldlib/, sighting 1\n"
    "      of each animal in DIR/pending.txt, the others in DIR/library.txt, the run\n"
    "      file DIR/tarvik.ini and the manifest DIR/corpus.txt. Then, in DIR:\n"
    "        tarvikx oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false\n"
    "  velmora-corpus rank DIR [RESULTS]\n"
    "      prints the rank-1 and rank-10 identification rates of the pending\n"
    "      sightings from the results file (default DIR/testresults.txt)\n"
    "  velmora-corpus data DATA [--animals N] [--sightings K] [--seed S] [--letter L]\n"
    "                      [--calibration-animals M] [--noise G] [--quadrant-shift P]\n"
    "                      [--rotation D]\n"
    "      writes a workstation data folder into the new or empty folder DATA:\n"
    "      fingerprints in DATA/oldlib/, DATA/orlain.ini, the database\n"
    "      DATA/seals.sqlite (sighting 1 of each animal pending under a provisional\n"
    "      ID, the others in the library; stats from comparing the library\n"
    "      sightings 2 and 3 of M animals, default 100), the run file\n"
    "      DATA/work/tarvik.ini and the truth DATA/corpus.txt. K is at least 3\n"
    "      (default 3). Then:\n"
    "        velmora-batch --data-folder DATA --database DATA/seals.sqlite \\\n"
    "          --working-folder DATA/work\n"
    "  velmora-corpus candidates DATA [DATABASE] [--show N] [--top T]\n"
    "      after a batch comparison: the rank-1 and rank-10 identification rates\n"
    "      that table temp gives (rated against DATA/corpus.txt) and the T best\n"
    "      candidates (default 5) of the first N pending extracts (default 5);\n"
    "      DATABASE defaults to DATA/seals.sqlite\n"
    "Sightings differ by noise of G grey levels (default 2.5), quadrant shifts of up\n"
    "to P pixels (default 1.5) and rotations of up to D degrees (default 2); larger\n"
    "values make the animals harder to tell apart.\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "velmora-corpus: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// An option's value: the whole argument, a whole number for counts and the
// seed, decimal text with a point for the sightings' spread.
template <typename T>
bool parse_option_value(std::string_view text, T* value) {
  std::optional<T> v;
  if constexpr (std::is_floating_point_v<T>) {
    v = velmora::real_from_text(text, velmora::Blanks::kRefuse);
  } else {
    v = velmora::whole_from_text<T>(text, velmora::Blanks::kRefuse);
  }
  if (v) *value = *v;
  return v.has_value();
}

// The options both corpus commands take: size, seed and how hard the
// sightings are to match. False when `key` is none of them.
bool parse_corpus_option(const std::string& key, const std::string& value,
                         velmora::corpus::CorpusOptions* o, bool* ok) {
  if (key == "--animals") {
    *ok = parse_option_value(value, &o->animals);
  } else if (key == "--sightings") {
    *ok = parse_option_value(value, &o->sightings);
  } else if (key == "--seed") {
    *ok = parse_option_value(value, &o->seed);
  } else if (key == "--noise") {
    *ok = parse_option_value(value, &o->model.noise);
  } else if (key == "--quadrant-shift") {
    *ok = parse_option_value(value, &o->model.max_quadrant_shift);
  } else if (key == "--rotation") {
    *ok = parse_option_value(value, &o->model.max_rotation);
  } else {
    return false;
  }
  return true;
}

int fail(const velmora::Status& s) {
  std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
  return 1;
}

int make(const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return usage_error("make needs a folder");
  velmora::corpus::CorpusOptions options;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& key = args[i];
    if (i + 1 >= args.size()) return usage_error(key + " needs a value");
    const std::string& value = args[i + 1];
    bool ok = false;
    if (key == "--aspect") {
      options.aspect_letter = value;
      ok = true;
    } else if (!parse_corpus_option(key, value, &options, &ok)) {
      return usage_error("unknown option " + key);
    }
    if (!ok) return usage_error("bad value '" + value + "' for " + key);
  }
  if (std::string why = velmora::corpus::check_options(options); !why.empty())
    return usage_error(why);
  const velmora::Status s = velmora::corpus::write_corpus(args[0], options);
  if (!s.ok()) return fail(s);
  std::printf("%d animals x %d sightings written to %s (seed %llu)\n", options.animals,
              options.sightings, args[0].c_str(), static_cast<unsigned long long>(options.seed));
  return 0;
}

int make_data(const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return usage_error("data needs a folder");
  velmora::corpus::DataFolderOptions options;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& key = args[i];
    if (i + 1 >= args.size()) return usage_error(key + " needs a value");
    const std::string& value = args[i + 1];
    bool ok = false;
    if (key == "--letter") {
      options.letter = value;
      ok = true;
    } else if (key == "--calibration-animals") {
      ok = parse_option_value(value, &options.calibration_animals);
    } else if (!parse_corpus_option(key, value, &options.corpus, &ok)) {
      return usage_error("unknown option " + key);
    }
    if (!ok) return usage_error("bad value '" + value + "' for " + key);
  }
  if (std::string why = velmora::corpus::check_data_options(options); !why.empty())
    return usage_error(why);
  velmora::corpus::DataFolderSummary sum;
  const velmora::Status s = velmora::corpus::write_data_folder(args[0], options, &sum);
  if (!s.ok()) return fail(s);
  const velmora::corpus::CalibrationSummary& cal = sum.calibration;
  std::printf("data folder %s: %d animals, %d pending and %d library extracts (seed %llu)\n",
              args[0].c_str(), options.corpus.animals, sum.pending, sum.library,
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

int show_candidates(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  int show = 5, top = 5;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--show" || a == "--top") {
      if (i + 1 >= args.size()) return usage_error(a + " needs a value");
      int* target = a == "--show" ? &show : &top;
      if (!parse_option_value(args[i + 1], target) || *target < 0)
        return usage_error("bad value '" + args[i + 1] + "' for " + a);
      ++i;
    } else if (a.rfind("--", 0) == 0) {
      return usage_error("unknown option " + a);
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty() || positional.size() > 2)
    return usage_error("candidates needs a data folder and at most a database");
  const std::string dir = positional[0];
  const std::string db_path =
      positional.size() > 1 ? positional[1] : dir + "/" + velmora::corpus::kDatabaseFileName;
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
  velmora::corpus::TempRanking ranking;
  s = velmora::corpus::rank_temp(truth, letter, scores, &ranking);
  if (!s.ok()) return fail(s);
  std::fputs(velmora::corpus::format_temp_ranking(ranking, show, top).c_str(), stdout);
  return 0;
}

int rank(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2)
    return usage_error("rank needs a folder and at most a results file");
  const std::string dir = args[0];
  const std::string results_path = args.size() > 1 ? args[1] : dir + "/testresults.txt";
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
  if (argc < 2) return usage_error("no command");
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "make") return make(args);
  if (command == "rank") return rank(args);
  if (command == "data") return make_data(args);
  if (command == "candidates") return show_candidates(args);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return usage_error("unknown command " + command);
}
