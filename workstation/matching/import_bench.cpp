// Results import speed: result lines per second into a database of 10,000
// cells, from the file on disk to the committed temp rows (cell directory
// load, distribution updates, staging, standardise, clearing pretemp).
//
// Set-up (not timed): a database file with 5,000 animals of two extracts
// each, a distribution row per extract, one stats row, and a results file of
// 100,000 lines laid out as the comparison program writes them: 200 pending
// extracts against the other 9,800, every pair in the "pending library" and
// again in the "library pending" pass, with the problem lines a real run
// carries. Seeded.
//
//   import_bench --benchmark_counters_tabular=true
// items_per_second is result lines per second of CPU time; wall_lines_per_s
// the same by the wall clock. setup_ms / lines_ms / temp_ms split the wall
// time: cells and statistics; lines into distribution and pretemp; temp rows,
// clearing pretemp and the commit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "testing/temp_dir.h"
#include "workstation/common/number_text.h"
#include "workstation/db/statements.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/matching/results_import.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;

constexpr int kAnimals = 5000;
constexpr int kExtractsPerAnimal = 2;
constexpr int kPending = 200;
constexpr int kLines = 100000;

struct BenchWorld {
  velmora::testing::TempDir folder{"velmora_import_bench"};
  const fs::path dir = folder.root();
  std::unique_ptr<db::Database> db;
  std::unique_ptr<db::PreparedStatements> statements;
  int64_t result_lines = 0;
};

void fail(benchmark::State& state, const Status& s) {
  state.SkipWithError(s.message().c_str());
}

// Builds the database and the results file once for the whole program.
BenchWorld* world(benchmark::State& state) {
  static std::unique_ptr<BenchWorld> w;
  if (w) return w.get();
  auto fresh = std::make_unique<BenchWorld>();
  Status s = db::testing::make_empty_database((fresh->dir / "bench.sqlite").string(), &fresh->db);
  db::testing::FixtureBuilder b(fresh->db.get());
  if (s.ok()) s = b.add_bulk_extracts("S", kAnimals, kExtractsPerAnimal, "Flank", "FL", "L", "P");
  if (s.ok()) s = b.add_stats({"Flank", "a", 0.6, 0.1, 0.2, 0.08});
  if (s.ok()) {
    s = fresh->db->execute("bench distribution",
                           "INSERT INTO distribution (filename) SELECT cell || '.a' FROM cells");
  }
  if (s.ok()) s = fresh->db->execute("bench renumber", db::kRenumberCellsSql);
  if (s.ok()) {
    s = db::PreparedStatements::prepare(fresh->db.get(), db::StatementOptions{},
                                        &fresh->statements);
  }
  if (!s.ok()) {
    fail(state, s);
    return nullptr;
  }

  std::vector<std::string> cells;
  for (int n = 1; n <= kAnimals; ++n) {
    for (int k = 1; k <= kExtractsPerAnimal; ++k) {
      cells.push_back("S" + std::to_string(n) + "_" + std::to_string(k) + "FL");
    }
  }
  // As the comparison program writes a run: each batch of pairs once in the
  // "pending library" pass and again, scored anew, in the "library pending"
  // pass, with a "Can't" line and a singular fit now and then.
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> pending(0, kPending - 1);
  std::uniform_int_distribution<int> library(kPending, static_cast<int>(cells.size()) - 1);
  std::uniform_real_distribution<double> score(-0.2, 0.9);
  std::ofstream out(fresh->dir / "FlankLa_results.txt", std::ios::binary);
  constexpr int kBatch = 10000;
  std::vector<std::pair<int, int>> pairs(kBatch);
  for (int written = 0; written < kLines; written += 2 * kBatch) {
    for (auto& [p, l] : pairs) {
      p = pending(rng);
      l = library(rng);
    }
    for (bool pending_first : {true, false}) {
      out << (pending_first ? "$ pending library\n" : "$ library pending\n");
      out << "Can't read library fingerprint oldlib/S0_1FL!2\n";
      for (int i = 0; i < kBatch; ++i) {
        if (i % 5000 == 4999) out << "Singular matrix!\n";
        const std::string& pc = cells[static_cast<size_t>(pairs[static_cast<size_t>(i)].first)];
        const std::string& lc = cells[static_cast<size_t>(pairs[static_cast<size_t>(i)].second)];
        out << (pending_first ? pc : lc) << ',' << (pending_first ? lc : pc) << ','
            << real_to_fixed_text(score(rng), 4) << ",1,-2,0,3,2,2,-1,0,0.8123\n";
      }
    }
  }
  fresh->result_lines = kLines;
  w = std::move(fresh);
  return w.get();
}

void BM_ImportResults(benchmark::State& state) {
  BenchWorld* w = world(state);
  if (w == nullptr) return;
  ImportRequest request;
  request.working_folder = w->dir.string() + "/";
  request.aspect = "Flank";
  request.side = "L";
  request.letter = "a";
  request.options.standardise = state.range(0) != 0;
  request.delete_after_commit = false;  // the same file serves every iteration
  // Wall time split at the progress texts: cells and statistics, then the
  // lines into distribution and pretemp, then temp, clearing and commit.
  using Clock = std::chrono::steady_clock;
  Clock::time_point started, lines_from, temp_from;
  double setup_s = 0, lines_s = 0, temp_s = 0;
  request.progress = [&](const std::string& text) {
    if (text.rfind("adding ", 0) == 0) {
      lines_from = Clock::now();
    } else {
      temp_from = Clock::now();
    }
  };
  for (auto _ : state) {
    ImportSummary summary;
    started = Clock::now();
    Status s = import_results(w->db.get(), w->statements.get(), request, &summary);
    const Clock::time_point done = Clock::now();
    setup_s += std::chrono::duration<double>(lines_from - started).count();
    lines_s += std::chrono::duration<double>(temp_from - lines_from).count();
    temp_s += std::chrono::duration<double>(done - temp_from).count();
    if (!s.ok()) {
      fail(state, s);
      return;
    }
    if (summary.result_lines != w->result_lines) {
      state.SkipWithError("not every result line was imported");
      return;
    }
    state.PauseTiming();
    // Each iteration starts from an empty candidate table.
    s = w->db->execute("bench clear temp", "DELETE FROM temp");
    if (!s.ok()) fail(state, s);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * w->result_lines);
  state.counters["cells"] = kAnimals * kExtractsPerAnimal;
  const double n = static_cast<double>(state.iterations());
  state.counters["setup_ms"] = 1000 * setup_s / n;
  state.counters["lines_ms"] = 1000 * lines_s / n;
  state.counters["temp_ms"] = 1000 * temp_s / n;
  // items_per_second counts CPU time; this counts the wall clock, which also
  // holds the file and database I/O (and, on a shared machine, waiting).
  state.counters["wall_lines_per_s"] = n * w->result_lines / (setup_s + lines_s + temp_s);
}
BENCHMARK(BM_ImportResults)
    ->ArgName("standardise")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace velmora::matching

BENCHMARK_MAIN();
