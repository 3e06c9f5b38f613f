// The velmora-corpus command line on CLI11 (see corpus_command_line.h).
//
// Numbers are read whole by the workstation's locale-free conversion rather
// than by CLI11's own, so that "12x" or "1e3" for a count is refused, a point
// is the decimal mark whatever the process's locale is, and a refused value is
// named as "bad value 'V' for --OPTION".
#include "tools/corpus/corpus_command_line.h"

#include <optional>
#include <string_view>
#include <type_traits>

#include "workstation/common/command_line.h"
#include "workstation/common/number_text.h"

namespace velmora::corpus {
namespace {

// Counts and the seed are whole numbers, the sightings' spread decimal text
// with a point, read alike in every locale.
template <typename T>
bool parse_whole(std::string_view text, T* value) {
  std::optional<T> v;
  if constexpr (std::is_floating_point_v<T>) {
    v = real_from_text(text, Blanks::kRefuse);
  } else {
    v = whole_from_text<T>(text, Blanks::kRefuse);
  }
  if (v) *value = *v;
  return v.has_value();
}

// An option taking one number; given twice, the last one counts.
template <typename T>
void add_number(CLI::App* command, const std::string& name, T* value, bool non_negative = false) {
  command
      ->add_option_function<std::string>(
          name,
          [name, value, non_negative](const std::string& text) {
            T read{};
            if (!parse_whole(text, &read) || (non_negative && read < T{}))
              throw CLI::ValidationError("bad value '" + text + "' for " + name);
            *value = read;
          })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      // The names CLI11 gives these types when it converts them itself.
      ->type_name(std::is_floating_point_v<T> ? "FLOAT"
                  : std::is_unsigned_v<T>     ? "UINT"
                                              : "INT");
}

void add_text(CLI::App* command, const std::string& name, std::string* value) {
  command->add_option(name, *value)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// The options both corpus commands take: size, seed and how hard the
// sightings are to match.
void add_corpus_options(CLI::App* command, CorpusOptions* o) {
  add_number(command, "--animals", &o->animals);
  add_number(command, "--sightings", &o->sightings);
  add_number(command, "--seed", &o->seed);
  add_number(command, "--noise", &o->model.noise);
  add_number(command, "--quadrant-shift", &o->model.max_quadrant_shift);
  add_number(command, "--rotation", &o->model.max_rotation);
}

// A check that refuses the command line with the writer's reason.
void refuse_unless_empty(const std::string& why) {
  if (!why.empty()) throw CLI::ValidationError(why);
}

}  // namespace

const char kCorpusUsage[] =
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
    "  velmora-corpus extracts DIR [--animals N] [--sightings K] [--seed S]\n"
    "      writes synthetic pelt extracts into the new or empty folder DIR, for each\n"
    "      of five aspects (dark dots, light dots, rings, reticulated stripes, a\n"
    "      dorsal view) N animals (default 10) with K sightings each (default 3):\n"
    "      one extract bundle per sighting in DIR/bundles/<cell>/ (about 1 MB each),\n"
    "      the data folder DIR/data/ (orlain.ini, oldlib/, newlib/, raw/ and the\n"
    "      database seals.sqlite: the aspects with their kernel settings, the\n"
    "      tarvik and compnew_spot algorithms, sighting 1 of each animal pending,\n"
    "      the others in the library) and the truth DIR/corpus.txt; after the\n"
    "      processing and a comparison, rate it with\n"
    "        velmora-corpus candidates DIR DIR/data/seals.sqlite\n"
    "  velmora-corpus photos DIR [--animals N] [--sightings K] [--seed S] [--hard]\n"
    "      renders lateral photographs of N seals (default 20) with K sightings each\n"
    "      (default 3; --hard: poses up to 35 degrees off the side view and twice\n"
    "      the sensor noise) into the new or empty folder DIR, a workstation data folder:\n"
    "      DIR/newpics/<image>.jpg (1200 x 800), the operator's marks of each in\n"
    "      DIR/marks/<cell>.txt (crop, tail base, sternum, the near shoulder and hip,\n"
    "      top and bottom edges),\n"
    "      the fit file OK would keep for those marks in DIR/savedraw/<cell> (on a\n"
    "      900 x 600 work picture, not fitted),\n"
    "      orlain.ini, the model file seal_flank.dat, the run file\n"
    "      DIR/work/tarvik.ini, the database DIR/seals.sqlite (aspect Flank; sighting\n"
    "      1 of each animal new under a provisional ID, waiting for extraction in\n"
    "      state E, the others the library in state L; an animal shows one flank in\n"
    "      all its sightings), the roles DIR/corpus.txt and the truth DIR/truth.txt\n"
    "      (cell, animal, side, yaw, pitch, roll)\n"
    "  velmora-corpus stats DATA [DATABASE] [--aspect A] [--calibration-animals M]\n"
    "      once the library's photographs are extracted: the stats row of aspect A\n"
    "      (default Flank) from comparing, side by side, two library extracts of\n"
    "      each of up to M animals per side (default 100), with DATA/work/tarvik.ini;\n"
    "      lists and results in DATA/calibration/; DATABASE defaults to\n"
    "      DATA/seals.sqlite\n"
    "  velmora-corpus candidates DATA [DATABASE] [--show N] [--top T]\n"
    "      after a batch comparison: the rank-1 and rank-10 identification rates\n"
    "      that table temp gives (rated against DATA/corpus.txt), overall and for\n"
    "      each side recorded, and the T best candidates (default 5) of the first N\n"
    "      pending extracts (default 5); DATABASE defaults to DATA/seals.sqlite.\n"
    "      Exit status 1 when no pending extract has a candidate\n"
    "Sightings differ by noise of G grey levels (default 2.5), quadrant shifts of up\n"
    "to P pixels (default 1.5) and rotations of up to D degrees (default 2); larger\n"
    "values make the animals harder to tell apart.\n";

int parse_corpus_command_line(int argc, const char* const* argv, CorpusCommandLine* line,
                              std::ostream& out, std::ostream& err) {
  CLI::App app("Makes a synthetic identification corpus and rates a comparison run over it.",
               "velmora-corpus");
  use_usage_text(app, "velmora-corpus", kCorpusUsage);

  CLI::App* make = app.add_subcommand("make");
  make->add_option("DIR", line->folder)->required();
  add_corpus_options(make, &line->corpus);
  add_text(make, "--aspect", &line->corpus.aspect_letter);
  make->callback([line] {
    line->command = "make";
    refuse_unless_empty(check_options(line->corpus));
  });

  CLI::App* rank = app.add_subcommand("rank");
  rank->add_option("DIR", line->folder)->required();
  rank->add_option("RESULTS", line->results);
  rank->callback([line] {
    line->command = "rank";
    if (line->results.empty()) line->results = line->folder + "/testresults.txt";
  });

  CLI::App* data = app.add_subcommand("data");
  data->add_option("DATA", line->folder)->required();
  add_corpus_options(data, &line->data.corpus);
  add_text(data, "--letter", &line->data.letter);
  add_number(data, "--calibration-animals", &line->data.calibration_animals);
  data->callback([line] {
    line->command = "data";
    refuse_unless_empty(check_data_options(line->data));
  });

  CLI::App* extracts = app.add_subcommand("extracts");
  extracts->add_option("DIR", line->folder)->required();
  add_number(extracts, "--animals", &line->extracts.animals);
  add_number(extracts, "--sightings", &line->extracts.sightings);
  add_number(extracts, "--seed", &line->extracts.seed);
  extracts->callback([line] {
    line->command = "extracts";
    refuse_unless_empty(check_extract_options(line->extracts));
  });

  CLI::App* photos = app.add_subcommand("photos");
  photos->add_option("DIR", line->folder)->required();
  add_number(photos, "--animals", &line->photos.animals);
  add_number(photos, "--sightings", &line->photos.sightings);
  add_number(photos, "--seed", &line->photos.seed);
  photos->add_flag("--hard", line->photos.hard)->disable_flag_override();
  photos->callback([line] {
    line->command = "photos";
    refuse_unless_empty(check_photo_options(line->photos));
  });

  CLI::App* stats = app.add_subcommand("stats");
  stats->add_option("DATA", line->folder)->required();
  stats->add_option("DATABASE", line->database);
  add_text(stats, "--aspect", &line->stats.aspect);
  add_number(stats, "--calibration-animals", &line->stats.calibration_animals);
  stats->callback([line] {
    line->command = "stats";
    if (line->database.empty()) line->database = line->folder + "/" + kDatabaseFileName;
    line->stats.data_folder = line->folder;
    line->stats.database = line->database;
    const int m = line->stats.calibration_animals;
    if (m < 2 || m > kMaxCalibrationAnimals)
      throw CLI::ValidationError("the number of calibration animals must be from 2 to " +
                                 std::to_string(kMaxCalibrationAnimals));
  });

  CLI::App* candidates = app.add_subcommand("candidates");
  candidates->add_option("DATA", line->folder)->required();
  candidates->add_option("DATABASE", line->database);
  add_number(candidates, "--show", &line->show, true);
  add_number(candidates, "--top", &line->top, true);
  candidates->callback([line] {
    line->command = "candidates";
    if (line->database.empty()) line->database = line->folder + "/" + kDatabaseFileName;
  });

  // "velmora-corpus help" as well as --help.
  app.add_subcommand("help")->allow_extras()->callback([] { throw CLI::CallForHelp(); });

  require_known_command(app);
  return parse_command_line(app, argc, argv, out, err);
}

}  // namespace velmora::corpus
