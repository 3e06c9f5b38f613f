// Workspace and fake runner for the batch comparison tests and benchmark
// (see batch_test_support.h).
#include "workstation/matching/batch_test_support.h"

#include <array>
#include <cstdio>
#include <filesystem>

#include "libs/dunmarra/save_fprint.h"
#include "testing/files.h"
#include "workstation/db/schema.h"
#include "workstation/matching/list_files.h"
#include "workstation/session/run_start.h"

namespace velmora::matching::batch_testing {

session::RunOptions batch_options() {
  session::RunOptions o;
  o.compares = true;
  o.batch_size = 200;
  return o;
}

Status start_batch(session::RunState& state, const BatchWorkspace& ws,
                   const session::RunOptions& options, std::ostream& notes) {
  state.options = options;
  state.working_folder = ws.working_folder;
  return session::start_run_without_window(
      state, config::FolderFileLocations{ws.dir + "no-program", ws.dir + "no-user"},
      session::HeadlessFolders{ws.data_folder, ws.db_path, ws.working_folder}, notes);
}

namespace fs = std::filesystem;

const char kRunFileText[] =
    "; test run file: rows, then columns, of the shift models of sub-cells 1-3\n"
    "0 1 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
    "0 1 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
    "; row and column tolerances, levels 0-3\n"
    "16 6 6 6\n16 6 6 6\n"
    "; threshold, peaks per sub-cell, margin\n"
    "-1\n8\n8\n";

BatchWorkspace::BatchWorkspace(const std::string& name)
    : TestDatabase("velmora_batch_" + name, "data/seals.sqlite") {
  std::error_code ec;
  fs::create_directories(data_folder + "oldlib", ec);
  if (!ec) fs::create_directories(working_folder, ec);
  if (ec && status_.ok()) status_ = Status::IOError("cannot make " + dir + ": " + ec.message());
  if (status_.ok()) status_ = write_ini();
  if (status_.ok()) status_ = write_run_files();
}

Status BatchWorkspace::add_aspect(const std::string& aspect, const std::string& letter,
                                  const std::string& cell_type) {
  db::testing::AspectRow a;
  a.aspect = aspect;
  a.aspect_letter = letter;
  a.cell_type = cell_type;
  a.pattern = "none";
  return builder().add_aspect(a);
}

Status BatchWorkspace::write_run_files(const std::string& text) {
  for (const char* name : {"tarvik.ini", "tarvik_head.ini"}) {
    if (!velmora::testing::write_file(working_folder + name, text)) {
      return Status::IOError("cannot write " + working_folder + name);
    }
  }
  return Status::Ok();
}

Status BatchWorkspace::touch_fingerprints(const std::vector<std::string>& cells) {
  for (const std::string& c : cells) {
    if (!velmora::testing::write_file(data_folder + "oldlib/" + c, "fingerprint of " + c + "\n")) {
      return Status::IOError("cannot write the fingerprint of " + c);
    }
  }
  return Status::Ok();
}

Status BatchWorkspace::save_fingerprint(const std::string& cell,
                                        const std::vector<uint8_t>& image) {
  constexpr int kSize = 64;
  if (image.size() != static_cast<size_t>(kSize * kSize)) {
    return Status::InvalidArgument("a fingerprint image is 64 x 64");
  }
  std::vector<uint8_t> strided(static_cast<size_t>(kSize) * dunmarra::kImageStride, 0);
  for (int r = 0; r < kSize; ++r) {
    std::copy(image.begin() + r * kSize, image.begin() + (r + 1) * kSize,
              strided.begin() + r * dunmarra::kImageStride);
  }
  const std::string path = data_folder + "oldlib/" + cell;
  std::array<char, dunmarra::kTextBufferSize> cell_buf{}, path_buf{};
  if (cell.size() >= cell_buf.size() || path.size() >= path_buf.size()) {
    return Status::InvalidArgument("fingerprint path too long for save_fprint: " + path);
  }
  std::copy(cell.begin(), cell.end(), cell_buf.begin());
  std::copy(path.begin(), path.end(), path_buf.begin());
  const int32_t geometry[8] = {64, 64, 17, 17, 16, 16, 2, 2};
  const double reals[6] = {0, 0, 0, 0, 0, 0};
  const int32_t rc = save_fprint(geometry, reals, cell_buf.data(), path_buf.data(), strided.data());
  if (rc != dunmarra::kSaveFprintOk) {
    return Status::IOError("save_fprint returned " + std::to_string(rc) + " for " + path);
  }
  return Status::Ok();
}

std::vector<std::string> BatchWorkspace::bulk_cells(const std::string& prefix, int animals,
                                                    int per_animal, const std::string& letter) {
  std::vector<std::string> cells;
  for (int n = 1; n <= animals; ++n) {
    for (int k = 1; k <= per_animal; ++k) {
      cells.push_back(prefix + std::to_string(n) + "_" + std::to_string(k) + letter);
    }
  }
  return cells;
}

ProcessOutcome FakeProcessRunner::success() {
  ProcessOutcome o;
  o.started = true;
  o.exited = true;
  o.exit_code = 0;
  return o;
}

ProcessOutcome FakeProcessRunner::start_and_wait(const ProcessCommand& command,
                                                 ControlPanel* /*panel*/) {
  Call call;
  call.command = command;
  std::string folder = command.working_folder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  // Arguments 2 and 4 are the two list files, in the working folder.
  if (command.arguments.size() >= 4) {
    call.pending_names = velmora::testing::read_lines(folder + command.arguments[1]);
    call.library_names = velmora::testing::read_lines(folder + command.arguments[3]);
  }
  calls_.push_back(call);
  ProcessOutcome outcome = respond ? respond(command) : success();
  // As tarvikx does, a run that starts leaves the results file (argument 5)
  // behind, with its pass headers when nothing else was written.
  if (outcome.started && write_headers && command.arguments.size() >= 5) {
    const std::string results = folder + command.arguments[4];
    if (!std::filesystem::exists(results)) {
      velmora::testing::append_file(results, "$ pending library\n$ library pending\n");
    }
  }
  return outcome;
}

}  // namespace velmora::matching::batch_testing
