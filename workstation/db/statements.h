// The workstation's SQL: the statements Start prepares, by name, and the few
// statements that are prepared and run on the spot.
//
// Start prepares one set of statements each time it begins a run; which form
// of a conditional statement is prepared follows the options on the main
// window at that moment (StatementOptions). Other areas then take a statement
// by name from PreparedStatements, set its parameters ("pCell", "pSide", ...)
// and run it. Parameters carry their declared types (ParamType), so a score
// given as text or as a number is stored as the column's type asks.
//
// Every statement reads and writes through the schema of schema.h: the view
// SYSTEM_ImageLinks (one row per extract; updatable for AutoMatch and the
// extraction attributes) and the tables named there. Text comparisons ignore
// letter case: "LegCode" and "legcode" are one aspect.
//
// Lifetime: a PreparedStatements must not outlive the Database it was
// prepared on. One thread.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"

namespace velmora::db {

// Record sets of images_to_extract, pending_cells and pending_cell are
// edited through the view, by cell: open them with
//   stmt->open(&rs, kEditSource, kEditKey)
// then rs.edit("AutoMatch", std::string("P")); rs.update();
inline constexpr const char* kEditSource = "SYSTEM_ImageLinks";
inline constexpr const char* kEditKey = "cell";

// The options that choose between the forms of the conditional statements.
struct StatementOptions {
  bool multi_aspect = false;        // configuration key MultiAspect
  bool test_mode = false;           // the "test" mode is chosen
  bool combine = false;             // "combine" (chkComb) is checked
  bool show_crop = false;           // "show crop" (chkCrop) is checked
  bool limit_to_site = false;       // "limit to site" (optLimitToSite) is chosen
  bool limit_to_landscape = false;  // "limit to landscape" (optLimitToLandscape) is chosen
  bool limit_search = false;        // configuration key LimitSearch
};

// One parameter of a statement as declared: name without the colon, type.
struct ParameterDecl {
  std::string name;
  ParamType type = ParamType::kAny;
};

// One statement ready to prepare.
struct StatementText {
  std::string name;
  std::string sql;                        // SQLite text with named parameters (":pCell")
  std::vector<ParameterDecl> parameters;  // in declaration order
};

// The statements Start prepares for `options`, in the order it prepares
// them. Exactly one of library_cells_at_site / library_cells_at_landscape /
// library_cells is among them; pending_ids and insert_comp_id only when
// MultiAspect is true and the test mode is not chosen.
std::vector<StatementText> statement_texts(const StatementOptions& options);

// Every form of every statement (each conditional form once), for checks
// that the schema serves all of them.
std::vector<StatementText> all_statement_texts();

// Which library statement the comparison runs use: library_cells_by_sex when
// "restricted" is checked, then the site limit, the landscape limit, and
// library_cells otherwise.
std::string library_statement_name(const StatementOptions& options, bool restricted);

// The statements prepared by one Start, by name.
class PreparedStatements {
 public:
  // Prepares every statement of statement_texts(options), in order, with its
  // parameter types. On failure nothing is kept, and the status names the
  // statement, its SQL and the engine's message.
  static Status prepare(Database* db, const StatementOptions& options,
                        std::unique_ptr<PreparedStatements>* out);

  // The statement prepared under `name`. Never null: for a name that was not
  // prepared (unknown, or a form the options did not choose) it returns a
  // statement whose every call fails with a message saying so.
  Statement* get(const std::string& name);
  bool has(const std::string& name) const;
  const StatementOptions& options() const { return options_; }
  // Names in the order they were prepared.
  const std::vector<std::string>& names() const { return order_; }

 private:
  PreparedStatements() = default;
  StatementOptions options_;
  std::vector<std::string> order_;
  std::map<std::string, std::unique_ptr<Statement>> by_name_;
  std::map<std::string, std::unique_ptr<Statement>> missing_;  // handed out for unknown names
};

// Prepares one StatementText with its parameter types (for the statements run
// on the spot that take parameters).
Status prepare_statement(Database* db, const StatementText& text, std::unique_ptr<Statement>* stmt);

// ------------------------------------------------ statements run on the spot

// Empties the multi-aspect batch.
inline constexpr const char* kDeleteCompIdsSql = "DELETE FROM compIDs";

// The five comparison families, in the order of algorithm_letters.
inline constexpr std::array<const char*, 5> kAlgorithmFamilies = {
    "tarvik", "compnew_corr", "compnew_spot", "legcode", "CompSift"};
// "SELECT letter from algy where type='<family>'" for one of the five families.
std::string algorithm_lookup_sql(const std::string& family);

// The short aspect list, the site list and the landscape list.
inline constexpr const char* kAspectListSql =
    "SELECT aspect, aspect_letter, cell_type, pattern, show_n_spots, all_green from aspects";
inline constexpr const char* kSiteListSql = "SELECT DISTINCT site from Landscapes ORDER BY site";
inline constexpr const char* kLandscapeListSql =
    "SELECT distinct landscape from Landscapes ORDER BY landscape";

// The leg codes of one leg-code extract (parameter pCell, string).
StatementText codes_of_cell_statement();

// Adds the distribution row of a feature file that has none yet (parameter
// pFilename, string); its counts and sums start at 0.
StatementText insert_distribution_statement();

// Renumbers every cell 1, 2, 3 ... in ascending order of cell name in one
// statement; the same result as walking cells_by_name and setting each row's
// cell_no to its position, about four times faster, and rows whose number is
// unchanged are not written.
inline constexpr const char* kRenumberCellsSql =
    "UPDATE cells SET cell_no = r.n FROM (SELECT cell AS c, row_number() OVER (ORDER BY cell) "
    "AS n FROM cells) AS r WHERE cells.cell = r.c AND cells.cell_no IS NOT r.n";

// The test-rank evaluation: its working tables in the order they are
// emptied, the per-extension tables, and the result queries.
inline constexpr std::array<const char*, 10> kTestRankTables = {
    "ranks",       "matches",   "mergedranks", "nonmatches", "typeranks",
    "defaultrank", "countscum", "countranks",  "IDs",        "bestranks_overall"};
inline constexpr std::array<const char*, 2> kRanksByExtensionTables = {"ranks_by_extension",
                                                                       "countranks_by_extension"};
// "DELETE FROM <table>" for a table of the lists above.
std::string delete_all_sql(const std::string& table);
inline constexpr const char* kDeleteTempSql = "DELETE FROM temp";
inline constexpr const char* kOverallRanksSql = "SELECT * from SYSTEM_overall_ranks";
inline constexpr const char* kRanksByExtensionSql = "SELECT * from SYSTEM_ranks_by_extension";

// One step of the test evaluation: a saved query run by name, or (saved ==
// false) the statement kDeleteTempSql.
struct TestStep {
  std::string name;
  bool saved = true;
};
// The 17 or 18 steps in order: the "t" series when `combine`, else the "s"
// series (which has the extra step "s02: update temp, strip extension").
std::vector<TestStep> test_steps(bool combine);
// The per-extension count step run after the chart when "combine" is not checked.
inline constexpr const char* kCountRanksByExtensionStep = "s15: count ranks by extension";

// Every statement above that is run on the spot, as named texts (codes and
// distribution lookups, the algorithm lookups, the lists, the deletions and
// result queries of the test evaluation), for checks that a database serves
// them all.
std::vector<StatementText> direct_statement_texts();

}  // namespace velmora::db
