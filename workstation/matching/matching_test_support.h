// Test support for the import and standardisation tests: a database file in a
// folder of its own with a few animals and their extracts, the statements of
// one Start, and readers of the tables the import writes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "workstation/db/database.h"
#include "workstation/db/statements.h"
#include "workstation/db/testing/test_database.h"
#include "workstation/session/cell_directory.h"

namespace velmora::matching::test_support {

struct DistributionCounts {
  double Ln = 0, Ls = 0, Lss = 0, Rn = 0, Rs = 0, Rss = 0;
  bool found = false;
};

struct TempRow {
  std::string imgPname, imgFname, pname, fname;
  double score = 0;
};

class MatchingDbTest : public ::testing::Test {
 protected:
  // The aspect, side and letter of the results files the tests write.
  static constexpr const char* kAspect = "Flank";
  static constexpr const char* kSide = "L";
  static constexpr const char* kLetter = "a";

  void SetUp() override;
  void TearDown() override;

  // An extract `cell` of photograph `image` of animal `id` (the encounter is
  // made on the animal's first extract), with a distribution row cell + ".a".
  void add_extract(const std::string& id, const std::string& image, const std::string& cell);
  // Renumbers the cells, prepares the statements and loads the directory.
  void start();

  // Writes the results file of kAspect, kSide, kLetter (lines end in "\n").
  std::string write_results(const std::vector<std::string>& lines);
  std::string results_path() const;

  void exec(const std::string& sql);
  DistributionCounts distribution(const std::string& filename);
  std::vector<TempRow> temp_rows();  // ordered by pname, fname
  int64_t count(const std::string& table);
  // Every row of a table as text, in a fixed order: for before/after checks.
  std::string dump(const std::string& table);
  int64_t number_of(const std::string& cell) const { return cells_.number_of(cell); }

  db::testing::TestDatabase ws_{"velmora_matching", "velmora.sqlite"};
  const std::filesystem::path dir_ = ws_.folder.root();
  std::unique_ptr<db::Database>& db_ = ws_.db;
  std::unique_ptr<db::PreparedStatements> statements_;
  session::CellDirectory cells_;
  std::map<std::string, int64_t> encounters_;
};

}  // namespace velmora::matching::test_support
