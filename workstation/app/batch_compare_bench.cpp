// End-to-end benchmark of the batch comparison: P pending x L library
// extracts of one aspect and side (default 200 x 2,000), fingerprints
// written by save_fprint, the real tarvikx, the import into a database
// file, and ChangePtoV. Prints the wall time split into the tarvikx runs and
// the imports, and how often the true animal is the best candidate.
//
//   batch_compare_bench [--jobs N] [pending [library [tarvikx]]]
//
// --jobs is velmora-batch's (tarvikx programs at once; default 1 here, so
// that the figures compare with those of one program at a time).
//
// Library animal k is a seeded blob pattern seen at rows and columns 17-80
// of a 96 x 96 pelt; pending extract k (k <= pending) is a new photograph of
// library animal k, seen shifted by up to 4 pixels each way. The run file
// is the tests' one (threshold -1: every pair with a correlation is
// written), which makes the import as large as it can be.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compare/testing/patterns.h"
#include "workstation/app/batch_headless.h"
#include "workstation/matching/batch_test_support.h"
#include "workstation/matching/process_runner.h"

namespace {

using namespace velmora;
using namespace velmora::matching;
using namespace velmora::app;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool check(const Status& s, const char* what) {
  if (s.ok()) return true;
  std::cerr << what << ": " << s.message() << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int jobs = 1;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--jobs" && i + 1 < argc) {
      jobs = std::atoi(argv[++i]);
    } else {
      args.push_back(a);
    }
  }
  const int pending = args.size() > 0 ? std::atoi(args[0].c_str()) : 200;
  const int library = args.size() > 1 ? std::atoi(args[1].c_str()) : 2000;
  const std::string tarvikx = args.size() > 2 ? args[2] : tarvikx_beside_program();
  if (pending < 1 || library < pending || jobs < 1 || jobs > kMaxJobs || args.size() > 3) {
    std::cerr << "usage: batch_compare_bench [--jobs N] [pending [library [tarvikx]]] (library >= "
                 "pending, N from 1 to "
              << kMaxJobs << ")\n";
    return 2;
  }

  const auto t_setup = Clock::now();
  batch_testing::BatchWorkspace ws("bench");
  if (!check(ws.status(), "workspace")) return 1;
  if (!check(ws.builder().add_algorithm("a", "tarvik"), "algy")) return 1;
  if (!check(ws.add_aspect("Dorsal", "DO", "Dorsal"), "aspect")) return 1;
  if (!check(ws.builder().add_bulk_extracts("L", library, 1, "Dorsal", "DO", "M", "L"), "library"))
    return 1;
  if (!check(ws.builder().add_bulk_extracts("P", pending, 1, "Dorsal", "DO", "M", "P"), "pending"))
    return 1;
  if (!check(ws.write_run_files(), "run files")) return 1;
  std::mt19937 shifts(20240611u);  // fixed seed: the same data every run
  for (int k = 1; k <= library; ++k) {
    const auto pelt = tarvik::testing::blob_pattern(96, 96, static_cast<uint32_t>(1000 + k), 90);
    if (!check(ws.save_fingerprint("L" + std::to_string(k) + "_1DO",
                                   tarvik::testing::crop(pelt, 96, 16, 16, 64, 64)),
               "library fingerprint"))
      return 1;
    if (k > pending) continue;
    const int dr = static_cast<int>(shifts() % 9) - 4, dc = static_cast<int>(shifts() % 9) - 4;
    if (!check(ws.save_fingerprint("P" + std::to_string(k) + "_1DO",
                                   tarvik::testing::crop(pelt, 96, 16 + dr, 16 + dc, 64, 64)),
               "pending fingerprint"))
      return 1;
  }
  const double setup_seconds = since(t_setup);

  HeadlessOptions o;
  o.database = ws.db_path;
  o.data_folder = ws.data_folder;
  o.working_folder = ws.working_folder;
  o.tarvikx = tarvikx;
  o.batch_size = pending;
  o.jobs = jobs;
  PosixProcessRunner runner;
  std::ostringstream log;
  HeadlessSummary sum;
  const int code = run_headless_batch(o, runner, log, &sum);
  if (code != 0) {
    std::cerr << log.str();
    return 1;
  }

  int rank1 = 0;
  for (int k = 1; k <= pending; ++k) {
    const std::string best = ws.text("SELECT fname FROM temp WHERE pname='P" + std::to_string(k) +
                                     "_1DO.a' ORDER BY score DESC LIMIT 1");
    if (best == "L" + std::to_string(k) + "_1DO") ++rank1;
  }

  const BatchCompareSummary& c = sum.compared;
  const double rest = sum.seconds - c.tarvikx_seconds - c.import_seconds;
  std::printf("batch comparison, %d pending x %d library extracts (one aspect and side), jobs %d\n",
              pending, library, jobs);
  std::printf("  setup (fingerprints, database)  %8.2f s\n", setup_seconds);
  std::printf("  whole run (velmora-batch core)  %8.2f s\n", sum.seconds);
  std::printf("    tarvikx runs                  %8.2f s  (%d runs)\n", c.tarvikx_seconds,
              c.tarvikx_runs);
  std::printf("    imports                       %8.2f s  (%lld result lines, %.0f lines/s)\n",
              c.import_seconds, static_cast<long long>(c.result_lines),
              c.import_seconds > 0 ? static_cast<double>(c.result_lines) / c.import_seconds : 0.0);
  std::printf("    the rest (lists, Start, P->V) %8.2f s\n", rest);
  std::printf("  temp rows %lld, moved to V %lld, rank-1 %d of %d\n",
              static_cast<long long>(c.temp_rows), static_cast<long long>(sum.changed.moved), rank1,
              pending);
  return 0;
}
