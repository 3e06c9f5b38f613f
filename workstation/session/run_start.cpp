// The database work of every Start (see run_start.h).
#include "workstation/session/run_start.h"

#include <cmath>
#include <filesystem>
#include <optional>

#include "workstation/common/number_text.h"
#include "workstation/config/configuration_file.h"
#include "workstation/db/database.h"
#include "workstation/session/aspect_sides.h"
#include "workstation/session/test_run_parking.h"

namespace velmora::session {
namespace {

void print_faults(const config::Faults& faults, std::ostream& out) {
  for (const Status& f : faults) out << "warning: " << f.message() << "\n";
}

Status resolve_folders(RunState& state, const config::FolderFileLocations& locations,
                       const HeadlessFolders& given, std::ostream& notes) {
  config::FolderSettings folders;
  if (!given.database.empty()) {
    folders = given.data_folder.empty() ? config::folders_from_database_path(given.database)
                                        : config::FolderSettings{given.data_folder, "", ""};
    folders.database_path = given.database;
  } else {
    std::string read_from;
    Status s = config::read_folder_file(locations, &folders, &read_from);
    if (s.code() == Status::Code::kNotFound) {
      return Status::NotFound("No database was named and no " +
                              std::string(config::kFolderFileName) + " was found.");
    }
    if (!s.ok()) return s;
    notes << "folders from " << read_from << "\n";
  }
  config::normalise_folders(&folders);
  state.folders = folders;
  if (state.working_folder.empty()) {
    std::error_code ec;
    state.working_folder = given.working_folder.empty() ? std::filesystem::current_path(ec).string()
                                                        : given.working_folder;
  }
  return Status::Ok();
}

}  // namespace

Status read_batch_size(const std::string& text, int* size) {
  const std::optional<double> count = real_from_text(text, Blanks::kTrim);
  const double n = count.value_or(-1);
  if (!count || n < 0 || n > 1e9) {
    return Status::InvalidArgument("The batch size \"" + text +
                                   "\" is not a number of extracts (0 or more).");
  }
  *size = static_cast<int>(std::nearbyint(n));
  return Status::Ok();
}

Status open_run_database(RunState& state, config::Faults* faults) {
  state.drop_database_work();
  return config::open_database(&state.folders, state.settings, &state.session, faults);
}

Status prepare_run_database(RunState& state) {
  Status s = db::PreparedStatements::prepare(
      state.db(), statement_options(state.options, state.settings), &state.statements);
  if (!s.ok()) return s;
  if (state.settings.LimitSearch) {
    s = state.statement("copy_site_landscape")->execute();
    if (!s.ok()) return s;
  }
  s = renumber_cells(state.db(), state.statement("cells_by_name"));
  if (!s.ok()) return s;
  state.side_letters = {"L", "R", "M"};
  return Status::Ok();
}

Status fill_multi_aspect_batch(RunState& state, int batch, int* left_out, int* right_out) {
  db::Database* db = state.db();
  db::Transaction tx(db);
  if (!tx.begun().ok()) return tx.begun();
  Status s = db->execute("DELETE FROM compIDs", db::kDeleteCompIdsSql);
  if (!s.ok()) return s;
  int left = 0, right = 0;
  db::RecordSet ids;
  s = state.statement("pending_ids")->open(&ids);
  if (!s.ok()) return s;
  db::Statement* left_images = state.statement("left_images_of_id");
  db::Statement* right_images = state.statement("right_images_of_id");
  db::Statement* insert = state.statement("insert_comp_id");
  // The test comes before each animal, so the last animal taken may carry
  // either count past the batch size.
  for (ids.move_first(); batch > left && batch > right && !ids.eof(); ids.move_next()) {
    const db::Value id = ids.field("ID");
    db::RecordSet images;
    s = left_images->set("pID", id);
    if (s.ok()) s = left_images->open(&images);
    if (!s.ok()) return s;
    left += images.row_count();
    s = right_images->set("pID", id);
    if (s.ok()) s = right_images->open(&images);
    if (!s.ok()) return s;
    right += images.row_count();
    s = insert->set("pID", id);
    if (s.ok()) s = insert->execute();
    if (!s.ok()) return s;
  }
  s = tx.commit();
  if (!s.ok()) return s;
  if (left_out) *left_out = left;
  if (right_out) *right_out = right;
  return Status::Ok();
}

Status load_run_lookups(RunState& state) {
  Status s = CellDirectory::load(state.statements.get(), &state.cells);
  if (!s.ok()) return s;
  return load_algorithm_letters(state.db(), &state.algorithm_letters);
}

std::string records_waiting_message(int records) {
  return std::to_string(records) + " records waiting for visual checking will be compared";
}

Status start_run_database(RunState& state, const ConfirmWaiting& confirm_waiting, bool* cancelled,
                          const TellOperator& tell) {
  *cancelled = false;
  Status s = prepare_run_database(state);
  if (!s.ok()) return s;
  // Before anything reads the statuses: a test set left pending would be
  // compared as new extracts, and the parked ones left out.
  std::string recovered;
  s = recover_stopped_test_run(state, &recovered);
  if (!s.ok()) return s;
  if (!recovered.empty() && tell) tell(recovered);
  const RunOptions& o = state.options;
  if (o.compares) {
    db::RecordSet waiting;
    s = state.statement("review_list")->open(&waiting);
    if (!s.ok()) return s;
    if (waiting.row_count() > 0 && confirm_waiting && !confirm_waiting(waiting.row_count())) {
      *cancelled = true;
      return Status::Ok();
    }
    if (!o.test_mode && state.settings.MultiAspect) {
      s = fill_multi_aspect_batch(state, o.batch_size);
      if (!s.ok()) return s;
    }
  }
  return load_run_lookups(state);
}

Status start_run_without_window(RunState& state, const config::FolderFileLocations& locations,
                                const HeadlessFolders& folders, std::ostream& notes) {
  Status s = resolve_folders(state, locations, folders, notes);
  if (!s.ok()) return s;
  // orlain.ini first: LimitSearch decides what the database session loads.
  config::Faults faults;
  config::read_configuration(state.folders.data_folder, &state.settings, &faults);
  print_faults(faults, notes);
  faults.clear();
  s = open_run_database(state, &faults);
  print_faults(faults, notes);
  if (!s.ok()) return s;
  if (!state.session.is_open()) {
    return Status::NotFound("The database '" + state.folders.database_path +
                            "' cannot be opened: the path must name an existing file ending in "
                            "\"sqlite\".");
  }
  s = check_chosen_aspect_side(state);
  if (!s.ok()) return s;
  bool cancelled = false;
  return start_run_database(
      state,
      [&notes](int records) {
        notes << records_waiting_message(records) << "\n";
        return true;
      },
      &cancelled, [&notes](const std::string& text) { notes << text << "\n"; });
}

}  // namespace velmora::session
