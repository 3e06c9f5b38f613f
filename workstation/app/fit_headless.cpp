// The saved fitting work replayed without a screen (see fit_headless.h).
#include "workstation/app/fit_headless.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>

#include "workstation/app/command_line.h"
#include "workstation/common/number_text.h"
#include "workstation/config/aspects.h"
#include "workstation/config/configuration_file.h"
#include "workstation/config/folder_file.h"
#include "workstation/extract/extract_bundle.h"
#include "workstation/model/accept.h"
#include "workstation/model/fit_file.h"
#include "workstation/model/retrieve.h"
#include "workstation/model/ui/photo_file.h"

namespace velmora::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDescription =
    "Replays the operator's saved fitting work on photographs without a screen: the marks and\n"
    "crop of each fit file, Initial Fit, Fit and Extract, and writes the extract bundles.";

void describe_command_line(CLI::App& cli, FitCommandLine* line, std::vector<std::string>* files) {
  cli.description(kDescription);
  cli.set_help_flag("-h,--help", "print this help and exit");
  cli.require_subcommand(1);
  CLI::App* extract = cli.add_subcommand("extract", "fit and extract photographs");
  extract->add_option("files", *files, "PHOTO FITFILE BUNDLE, once per photograph")
      ->type_name("PHOTO FITFILE BUNDLE")
      ->required();
  extract->add_option("--data-folder", line->data_folder, "data folder: orlain.ini, model files")
      ->type_name("DIR")
      ->required();
  extract->add_option("--database", line->database, "the database")->type_name("FILE")->required();
  extract->add_option("--aspect", line->aspect, "the aspect of the photographs")
      ->type_name("NAME")
      ->required();
  extract->add_option("--cell", line->cell, "the cell (default: the fit file's name)")
      ->type_name("NAME");
  extract->add_flag("--accept", line->accept, "also OK: fit and blank files, and the cell's record")
      ->disable_flag_override();
  cli.footer(
      "\n  velmora-fit extract PHOTO FITFILE BUNDLE [PHOTO FITFILE BUNDLE ...] --data-folder DIR\n"
      "              --database FILE --aspect NAME [--accept] [--cell NAME]\n\n"
      "Exit status: 0 when every photograph was extracted, 1 when one was not, 2 for a wrong\n"
      "command line.");
}

}  // namespace

Status parse_fit_arguments(const std::vector<std::string>& args, FitCommandLine* line) {
  *line = FitCommandLine{};
  CLI::App cli(kDescription, "velmora-fit");
  std::vector<std::string> files;
  describe_command_line(cli, line, &files);
  Status parsed = parse_command_line(cli, args, &line->help);
  if (!parsed.ok() || line->help) return parsed;
  if (files.size() % 3 != 0)
    return Status::InvalidArgument("give PHOTO FITFILE BUNDLE for each photograph (" +
                                   std::to_string(files.size()) + " files named)");
  for (std::size_t k = 0; k < files.size(); k += 3)
    line->jobs.push_back({files[k], files[k + 1], files[k + 2]});
  if (!line->cell.empty() && line->jobs.size() != 1)
    return Status::InvalidArgument("--cell names the cell of one photograph; " +
                                   std::to_string(line->jobs.size()) + " were given");
  return Status::Ok();
}

std::string fit_usage() {
  CLI::App cli(kDescription, "velmora-fit");
  FitCommandLine line;
  std::vector<std::string> files;
  describe_command_line(cli, &line, &files);
  return cli.help();
}

Status fit_and_extract(const FitCommandLine& line, const FitCommandLine::Job& job, db::Database* db,
                       FitOutcome* outcome) {
  const std::string cell =
      line.cell.empty() ? fs::path(job.fit_file).filename().string() : line.cell;
  outcome->cell = cell;
  model::SessionSetup setup;
  setup.cell = cell;
  setup.aspect = line.aspect;
  setup.data_folder = config::normalise_folder(line.data_folder);
  std::error_code ec;
  setup.working_folder = fs::current_path(ec);
  config::Faults faults;
  config::read_configuration(config::normalise_folder(line.data_folder), &setup.settings, &faults);
  Status s = config::load_aspect_settings(db, line.aspect, &setup.aspect_settings);
  if (!s.ok()) return s;

  model::Photo photo;
  s = model::load_photo(job.photo, &photo);
  if (!s.ok()) return s;
  model::FitRecord record;
  s = model::read_fit_file(job.fit_file, cell, &record);
  if (!s.ok()) return s;
  s = model::rescale_to_work_picture(kWorkWidth, kWorkHeight, &record.marks, &record.crop);
  if (!s.ok()) return s;

  std::unique_ptr<model::FitSession> session;
  s = model::FitSession::open(setup, &session);
  if (!s.ok()) return s;
  model::RetrievedFit fit;
  fit.marks = record.marks;
  fit.crop = record.crop;
  s = model::restore_fit(photo, fit, session.get());
  session->set_auto_order(true);
  if (s.ok()) s = session->initial_fit();
  if (s.ok()) s = session->fit(&outcome->warnings);
  if (!s.ok()) return s;
  outcome->rms = session->model_parms().v[7];

  auto extract = std::make_unique<extract::SharedExtract>();
  s = session->extract(extract.get());
  if (s.ok()) s = extract::write_extract_bundle(job.bundle, *extract, cell);
  if (!s.ok() || !line.accept) return s;

  bool update_record = false;
  s = model::write_accepted_files(*session, *extract, setup.data_folder.string(), cell,
                                  &update_record);
  if (s.ok() && update_record)
    s = model::update_accepted_record(db, cell, model::accepted_record(*session, *extract));
  return s;
}

int run_fit_extract(const FitCommandLine& line, std::ostream& out, std::ostream& err) {
  std::unique_ptr<db::Database> db;
  Status s = db::Database::open(line.database, db::Database::OpenMode::kExisting, &db);
  if (!s.ok()) {
    err << "velmora-fit: " << s.message() << "\n";
    return 1;
  }
  const int n = static_cast<int>(line.jobs.size());
  int extracted = 0;
  for (int k = 0; k < n; ++k) {
    FitOutcome outcome;
    s = fit_and_extract(line, line.jobs[k], db.get(), &outcome);
    for (const std::string& w : outcome.warnings)
      err << "velmora-fit: " << outcome.cell << ": " << w << "\n";
    if (!s.ok()) {
      err << "velmora-fit: " << line.jobs[k].photo << ": " << s.message() << "; not extracted\n";
    } else {
      ++extracted;
    }
    if (n > 1 || !s.ok())
      out << (k + 1) << " of " << n << ": " << outcome.cell
          << (s.ok() ? " extracted, marks fitted to " + real_to_fixed_text(outcome.rms, 1) + " px"
                     : std::string(" NOT extracted"))
          << "\n"
          << std::flush;
  }
  if (n > 1) out << extracted << " of " << n << " photographs extracted\n";
  return extracted == n ? 0 : 1;
}

}  // namespace velmora::app
