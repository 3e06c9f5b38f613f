// Extract processing without the operator (see extract_headless.h).
#include "workstation/app/extract_headless.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <sstream>

#include "workstation/app/command_line.h"
#include "workstation/app/key_maker.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/little_endian.h"
#include "workstation/common/number_text.h"
#include "workstation/config/aspects.h"
#include "workstation/config/configuration_file.h"
#include "workstation/config/folder_file.h"
#include "workstation/extract/extract_bundle.h"
#include "workstation/extract/save_extract.h"
#include "workstation/session/algorithm_letters.h"

namespace velmora::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDescription =
    "Processes extract bundles as the workstation does, with the operator's step at its\n"
    "defaults, writes their feature, fingerprint and raw files into the data folder and\n"
    "marks them pending.";

void describe_command_line(CLI::App& cli, ExtractCommandLine* line) {
  cli.description(kDescription);
  cli.set_help_flag("-h,--help", "print this help and exit");
  cli.require_subcommand(1);
  cli.footer(
      "\n  velmora-extract features BUNDLE... --data-folder DIR --database FILE --aspect NAME\n"
      "                  [--dump OUT]\n"
      "  velmora-extract show BUNDLE --data-folder DIR --database FILE --aspect NAME\n\n"
      "Exit status: 0 when every bundle was saved, 1 when one was not, 2 for a wrong command "
      "line.");
  auto common = [line](CLI::App* sub) {
    sub->add_option("--data-folder", line->data_folder,
                    "data folder: orlain.ini, and where the files are written")
        ->type_name("DIR")
        ->required();
    sub->add_option("--database", line->database, "the database")->type_name("FILE")->required();
    sub->add_option("--aspect", line->aspect, "the aspect of the extracts")
        ->type_name("NAME")
        ->required();
  };
  CLI::App* features = cli.add_subcommand("features", "process bundles and save their files");
  features->add_option("bundles", line->bundles, "extract bundle folders")
      ->type_name("BUNDLE")
      ->required();
  common(features);
  features->add_option("--dump", line->dump, "with one bundle: write its intermediate results")
      ->type_name("OUT");
  CLI::App* show = cli.add_subcommand("show", "open the processing window on one bundle");
  show->add_option("bundle", line->bundles, "extract bundle folder")
      ->type_name("BUNDLE")
      ->required()
      ->expected(1);
  common(show);
}

std::string join(const std::string& folder, const char* name) {
  return (fs::path(folder) / name).string();
}

std::string floats_bytes(const std::vector<float>& values) {
  std::string out;
  out.reserve(values.size() * 4);
  for (float v : values) store_le_float(v, &out);
  return out;
}

std::string doubles_bytes(const std::vector<double>& values) {
  std::string out;
  out.reserve(values.size() * 8);
  for (double v : values) store_le_double(v, &out);
  return out;
}

// `filled` without its one-pixel frame: rows and columns 1..256.
std::string filled_bytes(const std::vector<std::int16_t>& filled) {
  std::string out;
  out.reserve(extract::kExtractPixels * 2);
  const std::size_t stride = extract::kExtractColumns + 2;
  for (int r = 1; r <= extract::kExtractRows; ++r)
    for (int c = 1; c <= extract::kExtractColumns; ++c) store_le16(filled[r * stride + c], &out);
  return out;
}

std::string spots_text(const extract::SpotList& spots, int limit) {
  std::string out;
  for (int k = 0; k < limit && k < static_cast<int>(spots.size()); ++k) {
    const extract::Spot& s = spots[k];
    out += real_to_general_text(s.score, 9) + " " + real_to_general_text(s.row, 9) + " " +
           real_to_general_text(s.column, 9) + " " + real_to_general_text(s.kind, 9) + "\n";
  }
  return out;
}

std::string seeds_text(const extract::SeedSets& sets) {
  std::string out = std::to_string(sets.count) + "\n";
  for (int s = 0; s < sets.count; ++s)
    out += std::to_string(sets.sets[s][0]) + " " + std::to_string(sets.sets[s][1]) + " " +
           std::to_string(sets.sets[s][2]) + "\n";
  return out;
}

const char* saved_text(RowMark mark) {
  switch (mark) {
    case RowMark::kMarked:
      return " saved, pending";
    case RowMark::kKept:
      return " saved (state kept)";
    case RowMark::kNoRow:
      break;
  }
  return " saved (no database row)";
}

}  // namespace

Status parse_extract_arguments(const std::vector<std::string>& args, ExtractCommandLine* line) {
  *line = ExtractCommandLine{};
  CLI::App cli(kDescription, "velmora-extract");
  describe_command_line(cli, line);
  Status parsed = parse_command_line(cli, args, &line->help);
  if (!parsed.ok() || line->help) return parsed;
  line->command = cli.get_subcommands().front()->get_name();
  if (!line->dump.empty() && line->bundles.size() != 1)
    return Status::InvalidArgument("--dump writes the results of one bundle; " +
                                   std::to_string(line->bundles.size()) + " were given");
  return Status::Ok();
}

std::string extract_usage() {
  CLI::App cli(kDescription, "velmora-extract");
  ExtractCommandLine line;
  describe_command_line(cli, &line);
  return cli.help();
}

Status open_extract_session(const ExtractCommandLine& line, ExtractSession* session) {
  extract::ProcessingSetup setup;
  setup.aspect = line.aspect;
  setup.folders = config::normalise_folder(line.data_folder);
  // "anim.pgm" and "anim.key" go to the current folder, as in the window.
  setup.make_keys = key_maker(std::make_shared<matching::PosixProcessRunner>(),
                              key_maker_beside_program(), "", nullptr);
  config::Faults faults;
  config::read_configuration(setup.folders, &setup.settings, &faults);
  for (const Status& f : faults) session->warnings.push_back(f.message());
  Status s = db::Database::open(line.database, db::Database::OpenMode::kExisting, &session->db);
  if (!s.ok()) return s;
  s = config::load_aspect_settings(session->db.get(), line.aspect, &setup.aspect_settings);
  if (!s.ok()) return s;
  s = session::load_algorithm_letters(session->db.get(), &setup.letters);
  if (!s.ok()) return s;
  session->processing = std::make_unique<extract::ExtractProcessing>();
  return session->processing->set_up(setup);
}

// A bundle of another aspect would be processed with the wrong kernels and
// spot rules: when the database knows the cell, its aspect must be ours.
Status check_cell_aspect(db::Database* db, const std::string& cell, const std::string& aspect) {
  std::unique_ptr<db::Statement> st;
  db::RecordSet rs;
  Status s =
      db->prepare("find the extract's aspect", "SELECT aspect FROM cells WHERE cell = :pCell", &st);
  if (s.ok()) s = st->set("pCell", db::Value(cell));
  if (s.ok()) s = st->open(&rs);
  if (!s.ok() || rs.row_count() == 0) return s;
  const std::string stored = rs.text("aspect");
  if (!db::equal_nocase(stored, aspect))
    return Status::InvalidArgument("the database gives the cell " + cell + " the aspect \"" +
                                   stored + "\", not \"" + aspect + "\"");
  return Status::Ok();
}

Status load_and_process(ExtractSession& session, const std::string& bundle,
                        extract::SharedExtract* extract, std::string* cell, bool* operator_step) {
  Status s = extract::read_extract_bundle(bundle, extract, cell);
  if (s.ok()) s = check_cell_aspect(session.db.get(), *cell, session.processing->setup().aspect);
  if (!s.ok()) return s;
  extract::ExtractProcessing& p = *session.processing;
  p.reset_blank_distance();
  if (extract->blank_edited && p.setup().settings.do_blankdist) p.compute_blank_distance(*extract);
  return p.run_pipeline(*extract, *cell, operator_step);
}

Status save_with_defaults(ExtractSession& session, const extract::SharedExtract& extract,
                          bool operator_step, RowMark* mark) {
  extract::ExtractProcessing& p = *session.processing;
  *mark = RowMark::kNoRow;
  if (operator_step) {
    Status s = p.place_seeds(extract::kDefaultTriangleMeasure);
    if (!s.ok()) return s;
  }
  extract::SaveReport saved;
  Status s = p.save(extract, &saved);
  if (!s.ok()) return s;
  return mark_pending(session.db.get(), p.cell(), mark);
}

Status mark_pending(db::Database* db, const std::string& cell, RowMark* mark) {
  *mark = RowMark::kNoRow;
  std::unique_ptr<db::Statement> st;
  // The cells table itself, not the view: a change made through the view's
  // trigger is not counted, and the count says whether the row was marked.
  Status s =
      db->prepare("mark the extract pending",
                  "UPDATE cells SET AutoMatch = 'P' WHERE cell = :pCell AND AutoMatch = 'E'", &st);
  if (s.ok()) s = st->set("pCell", db::Value(cell));
  int changes = 0;
  if (s.ok()) s = st->execute(&changes);
  if (!s.ok() || changes > 0) {
    if (s.ok()) *mark = RowMark::kMarked;
    return s;
  }
  db::RecordSet rs;
  s = db->prepare("find the extract's row", "SELECT AutoMatch FROM cells WHERE cell = :pCell", &st);
  if (s.ok()) s = st->set("pCell", db::Value(cell));
  if (s.ok()) s = st->open(&rs);
  if (s.ok() && rs.row_count() > 0) *mark = RowMark::kKept;
  return s;
}

Status write_dump(const ExtractSession& session, const std::string& out) {
  const extract::ExtractProcessing& p = *session.processing;
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) return Status::IOError(out + ": cannot make the dump folder (" + ec.message() + ")");
  struct Piece {
    const char* name;
    std::string bytes;
  };
  std::vector<Piece> pieces = {
      {"work.f64", doubles_bytes(p.images().work_image)},
      {"wavelet.f32", floats_bytes(p.wavelets().image)},
      {"filled.i16", filled_bytes(p.filled())},
      {"spots.txt", spots_text(p.spots(), p.spot_limit())},
      {"seeds.txt", seeds_text(p.seeds().sets)},
      {"fingerprint.img", p.fingerprint_block_bytes()},
  };
  if (!p.setup().letters.CompSift.empty()) pieces.push_back({"anim.pgm", p.key_input_bytes()});
  for (const Piece& piece : pieces) {
    Status s = write_file_atomically(join(out, piece.name), piece.bytes);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

int run_extract_features(const ExtractCommandLine& line, std::ostream& out, std::ostream& err) {
  ExtractSession session;
  Status s = open_extract_session(line, &session);
  for (const std::string& w : session.warnings) err << "velmora-extract: " << w << "\n";
  if (!s.ok()) {
    err << "velmora-extract: " << s.message() << "\n";
    return 1;
  }
  const int n = static_cast<int>(line.bundles.size());
  int saved = 0, without_row = 0, kept = 0;
  auto extract = std::make_unique<extract::SharedExtract>();
  for (int k = 0; k < n; ++k) {
    const std::string& bundle = line.bundles[k];
    std::string cell;
    bool operator_step = false;
    RowMark mark = RowMark::kNoRow;
    s = load_and_process(session, bundle, extract.get(), &cell, &operator_step);
    if (s.ok()) s = save_with_defaults(session, *extract, operator_step, &mark);
    if (s.ok() && !line.dump.empty()) s = write_dump(session, line.dump);
    for (const std::string& note : session.processing->notes())
      err << "velmora-extract: " << bundle << ": " << note << "\n";
    if (!s.ok()) {
      err << "velmora-extract: " << bundle << ": " << s.message() << "; not saved\n";
    } else {
      ++saved;
      if (mark == RowMark::kNoRow) ++without_row;
      if (mark == RowMark::kKept) ++kept;
    }
    if (n > 1)
      out << (k + 1) << " of " << n << ": " << (cell.empty() ? bundle : cell)
          << (s.ok() ? saved_text(mark) : " NOT saved") << "\n"
          << std::flush;
  }
  if (n > 1 || saved < n) {
    out << saved << " of " << n << " extracts saved";
    if (kept > 0) out << ", " << kept << " kept their state (they were not waiting for extraction)";
    if (without_row > 0) out << ", " << without_row << " without a database row to mark";
    out << "\n";
  }
  return saved == n ? 0 : 1;
}

}  // namespace velmora::app
