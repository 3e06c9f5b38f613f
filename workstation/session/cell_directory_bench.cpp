// Renumbering and loading the cell directory at the 200000-cell limit: the cost
// Start pays at every press on the largest database it accepts.
#include <benchmark/benchmark.h>

#include <memory>

#include "workstation/db/database.h"
#include "workstation/db/schema.h"
#include "workstation/db/statements.h"
#include "workstation/db/testing/test_database.h"
#include "workstation/session/cell_directory.h"

namespace velmora::session {
namespace {

// The database of the figures; `status` is the first failure of its making,
// which every figure checks before it runs.
struct BenchDatabase : db::testing::TestDatabase {
  BenchDatabase() : TestDatabase("velmora_cells_bench") {
    status = TestDatabase::status();
    // One statement per execute: the database layer refuses a text holding
    // two.
    if (status.ok())
      status = db->execute("fill", "INSERT INTO encounter (encounter_no, ID) VALUES (1, '12A')");
    if (status.ok())
      status = db->execute("fill", "INSERT INTO image (image, encounter_no) VALUES ('i', 1)");
    if (status.ok()) {
      status = db->execute(
          "fill",
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
          "INSERT INTO cells (cell, image, AutoMatch, side) "
          "SELECT printf('x%06dFL', i), 'i', 'L', 'L' FROM n");
    }
    if (status.ok())
      status = db::PreparedStatements::prepare(db.get(), db::StatementOptions{}, &statements);
  }
  ~BenchDatabase() { statements.reset(); }
  Status status;
  std::unique_ptr<db::PreparedStatements> statements;
};

// The bench database, or nullptr (and the figure skipped) when it could not
// be made.
BenchDatabase* bench_db(benchmark::State& state) {
  static BenchDatabase b;
  if (b.status.ok()) return &b;
  state.SkipWithError(b.status.message().c_str());
  return nullptr;
}

// Every cell gets a new number (a cell added at the front shifts them all).
void BM_RenumberAll(benchmark::State& state) {
  BenchDatabase* b = bench_db(state);
  if (!b) return;
  for (auto _ : state) {
    state.PauseTiming();
    const bool shifted = b->db->execute("shift", "UPDATE cells SET cell_no = cell_no + 1").ok();
    state.ResumeTiming();
    int written = 0;
    if (!shifted ||
        !renumber_cells(b->db.get(), b->statements->get("cells_by_name"), &written).ok()) {
      state.SkipWithError("renumber");
      break;
    }
    benchmark::DoNotOptimize(written);
  }
  state.SetItemsProcessed(state.iterations() * kMaxCells);
}
BENCHMARK(BM_RenumberAll)->Unit(benchmark::kMillisecond)->Iterations(3);

// For comparison: the whole renumbering as one UPDATE with a window function.
void BM_RenumberOneStatement(benchmark::State& state) {
  BenchDatabase* b = bench_db(state);
  if (!b) return;
  for (auto _ : state) {
    state.PauseTiming();
    const bool shifted = b->db->execute("shift", "UPDATE cells SET cell_no = cell_no + 1").ok();
    state.ResumeTiming();
    if (!shifted || !b->db->execute("renumber", db::kRenumberCellsSql).ok()) {
      state.SkipWithError("renumber");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kMaxCells);
}
BENCHMARK(BM_RenumberOneStatement)->Unit(benchmark::kMillisecond)->Iterations(1);

// The common case: nothing changed since the last Start.
void BM_RenumberUnchanged(benchmark::State& state) {
  BenchDatabase* b = bench_db(state);
  if (!b) return;
  if (!renumber_cells(b->db.get(), b->statements->get("cells_by_name")).ok()) {
    state.SkipWithError("renumber");
    return;
  }
  for (auto _ : state) {
    int written = 0;
    if (!renumber_cells(b->db.get(), b->statements->get("cells_by_name"), &written).ok()) {
      state.SkipWithError("renumber");
      break;
    }
    benchmark::DoNotOptimize(written);
  }
  state.SetItemsProcessed(state.iterations() * kMaxCells);
}
BENCHMARK(BM_RenumberUnchanged)->Unit(benchmark::kMillisecond)->Iterations(3);

// Both statements read into the directory, as every Start does.
void BM_LoadDirectory(benchmark::State& state) {
  BenchDatabase* b = bench_db(state);
  if (!b) return;
  if (!renumber_cells(b->db.get(), b->statements->get("cells_by_name")).ok()) {
    state.SkipWithError("renumber");
    return;
  }
  CellDirectory directory;
  for (auto _ : state) {
    if (!CellDirectory::load(b->statements.get(), &directory).ok()) {
      state.SkipWithError("load");
      break;
    }
    benchmark::DoNotOptimize(directory.highest());
  }
  state.SetItemsProcessed(state.iterations() * kMaxCells);
}
BENCHMARK(BM_LoadDirectory)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace velmora::session

BENCHMARK_MAIN();
