// Figures for the database's hot paths: renumbering every cell at Start (by
// one statement and by walking cells_by_name with edit/update), and the
// per-line work of a results import (two distribution updates and one
// pretemp insert), each on a fixture of the given number of cells.
#include <benchmark/benchmark.h>

#include "workstation/db/statements.h"
#include "workstation/db/testing/fixture_database.h"

namespace velmora::db {
namespace {

std::unique_ptr<Database> make_cells(int cells) {
  std::unique_ptr<Database> db;
  if (!testing::make_empty_database(":memory:", &db).ok()) return nullptr;
  testing::FixtureBuilder b(db.get());
  if (!b.add_bulk_extracts("A", cells / 4, 4, "Flank", "FL", "L", "L").ok()) return nullptr;
  return db;
}

void BM_RenumberOneStatement(benchmark::State& state) {
  auto db = make_cells(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!db->execute("renumber", kRenumberCellsSql).ok()) state.SkipWithError("renumber failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RenumberOneStatement)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_RenumberByWalk(benchmark::State& state) {
  auto db = make_cells(static_cast<int>(state.range(0)));
  std::unique_ptr<PreparedStatements> st;
  if (!PreparedStatements::prepare(db.get(), {}, &st).ok()) state.SkipWithError("prepare");
  for (auto _ : state) {
    Transaction tx(db.get());
    RecordSet rs;
    if (!st->get("cells_by_name")->open(&rs, "cells", "cell").ok()) state.SkipWithError("open");
    int64_t n = 0;
    for (rs.move_first(); !rs.eof(); rs.move_next()) {
      rs.edit("cell_no", ++n);
      if (!rs.update().ok()) state.SkipWithError("update");
    }
    if (!tx.commit().ok()) state.SkipWithError("commit");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RenumberByWalk)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_ImportLine(benchmark::State& state) {
  auto db = make_cells(20000);
  std::unique_ptr<PreparedStatements> st;
  std::unique_ptr<Statement> add;
  bool ready = db && PreparedStatements::prepare(db.get(), {}, &st).ok() &&
               prepare_statement(db.get(), insert_distribution_statement(), &add).ok();
  for (int i = 1; ready && i <= 1000; ++i) {
    ready = add->set("pFilename", "A" + std::to_string(i) + "_1FL.a").ok() && add->execute().ok();
  }
  if (!ready) {
    state.SkipWithError("fixture");
    return;
  }
  Transaction tx(db.get());
  Statement* l = st->get("add_distribution_L");
  Statement* r = st->get("add_distribution_R");
  Statement* p = st->get("insert_pretemp");
  int64_t i = 0;
  for (auto _ : state) {
    ++i;
    const bool ok = l->set("pFilename", "A" + std::to_string(1 + i % 1000) + "_1FL.a").ok() &&
                    l->set("pScore", 0.25).ok() &&
                    r->set("pFilename", "A" + std::to_string(1 + (i * 7) % 1000) + "_1FL.a").ok() &&
                    r->set("pScore", 0.25).ok() &&
                    p->set("pPname", std::to_string(i % 1000)).ok() &&
                    p->set("pFname", std::to_string(i % 997)).ok() &&
                    p->set("pScore", std::string("0.25000000")).ok() &&
                    p->set("pAspectSide", std::string("FlankL")).ok() && l->execute().ok() &&
                    r->execute().ok() && p->execute().ok();
    if (!ok) {
      state.SkipWithError("import line failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImportLine);

}  // namespace
}  // namespace velmora::db

BENCHMARK_MAIN();
