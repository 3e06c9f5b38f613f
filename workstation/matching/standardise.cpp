// From staged pairs to candidate rows (see standardise.h).
//
// Each staged pair reads two distribution rows; one import stages thousands
// of pairs among a few hundred extracts, so each row is read once and kept
// for the rest of the pass.
#include "workstation/matching/standardise.h"

#include <cmath>
#include <optional>
#include <unordered_map>

#include "workstation/common/number_text.h"
#include "workstation/db/value.h"
#include "workstation/matching/match_probability.h"

namespace velmora::matching {
namespace {

struct MatchStats {
  double rmu_match = 0, sigma_match = 0, rmu_nonmatch = 0, sigma_nonmatch = 0, p = 0;
};

// The counts of one distribution row as stored (single precision). Every
// conversion to single precision here goes through to_single_precision, so
// no stored value, however large, turns into an infinity on its way back.
struct DistributionRow {
  float Ln = 0, Ls = 0, Lss = 0, Rn = 0, Rs = 0, Rss = 0;
};

Status read_stats(db::PreparedStatements* statements, const std::string& aspect,
                  const std::string& letter, MatchStats* stats) {
  db::Statement* q = statements->get("stats_of_algorithm");
  Status s = q->set("pAspect", aspect);
  if (s.ok()) s = q->set("pAlgy", letter);
  db::RecordSet rs;
  if (s.ok()) s = q->open(&rs);
  if (!s.ok()) return s;
  if (!rs.eof()) {
    stats->rmu_match = rs.number("rmu_match");
    stats->sigma_match = rs.number("sigma_match");
    stats->rmu_nonmatch = rs.number("rmu_nonmatch");
    stats->sigma_nonmatch = rs.number("sigma_nonmatch");
    stats->p = rs.number("p");
  }
  return Status::Ok();
}

class DistributionCache {
 public:
  explicit DistributionCache(db::Statement* query) : query_(query) {}

  // A file without a distribution row has no scores of its own yet: its
  // counts are 0, so the stats non-match model is used for it.
  Status get(const std::string& filename, DistributionRow* row) {
    auto it = rows_.find(filename);
    if (it != rows_.end()) {
      *row = it->second;
      return Status::Ok();
    }
    Status s = query_->set("pFilename", filename);
    db::RecordSet rs;
    if (s.ok()) s = query_->open(&rs);
    if (!s.ok()) return s;
    DistributionRow r;
    if (!rs.eof()) {
      r.Ln = db::to_single_precision(rs.number("Ln"));
      r.Ls = db::to_single_precision(rs.number("Ls"));
      r.Lss = db::to_single_precision(rs.number("Lss"));
      r.Rn = db::to_single_precision(rs.number("Rn"));
      r.Rs = db::to_single_precision(rs.number("Rs"));
      r.Rss = db::to_single_precision(rs.number("Rss"));
    }
    rows_.emplace(filename, r);
    *row = r;
    return Status::Ok();
  }

 private:
  db::Statement* query_;
  std::unordered_map<std::string, DistributionRow> rows_;
};

}  // namespace

Status parse_prior_match(const std::string& text, double* prior) {
  const std::optional<double> value = real_from_text(text, Blanks::kTrim);
  if (!value || !(*value >= 0.0) || !(*value <= 1.0)) {
    return Status::InvalidArgument("P(m) prior '" + text +
                                   "' is not a probability: type a number from 0 to 1, "
                                   "for example .005");
  }
  *prior = *value;
  return Status::Ok();
}

bool keeps_order(float score) {
  if (std::isnan(score)) return true;
  // The default rounding mode rounds halves to even.
  const double rounded = std::nearbyint(static_cast<double>(score));
  return std::fmod(rounded, 2.0) == 0.0;
}

std::string image_name_of_cell(std::string_view cell) {
  size_t cut = 3;
  for (std::string_view mark : {".RW", ".RL", ".LW", ".LL"}) {
    if (cell.find(mark) != std::string_view::npos) {
      cut = 7;
      break;
    }
  }
  return cell.size() > cut ? std::string(cell.substr(0, cell.size() - cut)) : std::string();
}

Status standardise(db::PreparedStatements* statements, const CellDirectory& cells,
                   const std::string& aspect, const std::string& side, const std::string& letter,
                   const ScoringOptions& options, const ProgressFn& progress,
                   StandardiseSummary* summary) {
  *summary = StandardiseSummary{};
  MatchStats stats;
  if (options.standardise) {
    Status s = read_stats(statements, aspect, letter, &stats);
    if (!s.ok()) return s;
  }
  if (progress) progress("making temp table for " + aspect + side + letter);

  db::Statement* best = statements->get("best_pretemp_scores");
  Status s = best->set("pAspectSide", aspect + side);
  db::RecordSet groups;
  if (s.ok()) s = best->open(&groups);
  if (!s.ok()) return s;

  DistributionCache distribution(statements->get("distribution_of_file"));
  db::Statement* insert = statements->get("insert_temp");
  for (groups.move_first(); !groups.eof(); groups.move_next()) {
    const std::string* cell_p = cells.cell_of(groups.integer("pname"));
    const std::string* cell_f = cells.cell_of(groups.integer("fname"));
    if (cell_p == nullptr || cell_f == nullptr) {
      ++summary->unknown_cell_pairs;
      continue;
    }
    float score = db::to_single_precision(groups.number("maxscore"));
    if (options.standardise) {
      const bool kept = keeps_order(score);
      const std::string& first = kept ? *cell_p : *cell_f;
      const std::string& second = kept ? *cell_f : *cell_p;
      DistributionRow first_row, second_row;
      s = distribution.get(first + "." + letter, &first_row);
      if (s.ok()) s = distribution.get(second + "." + letter, &second_row);
      if (!s.ok()) return s;
      DensityFault fault = DensityFault::kNone;
      score = db::to_single_precision(
          normscore(score, second_row.Rn, second_row.Rs, second_row.Rss, first_row.Ln, first_row.Ls,
                    first_row.Lss, stats.rmu_match, stats.sigma_match, stats.rmu_nonmatch,
                    stats.sigma_nonmatch, stats.p, letter, options.prior_match, &fault));
      if (fault != DensityFault::kNone) ++summary->probability_faults;
    }
    s = insert->set("pImgPname", image_name_of_cell(*cell_p));
    if (s.ok()) s = insert->set("pImgFname", image_name_of_cell(*cell_f));
    if (s.ok()) s = insert->set("pPname", *cell_p + "." + letter);
    if (s.ok()) s = insert->set("pFname", *cell_f);
    // The shortest text that reads back as the 32-bit score, so the column,
    // which keeps single precision, holds exactly that score.
    if (s.ok()) s = insert->set("pScore", single_to_text(score));
    if (s.ok()) s = insert->execute();
    if (!s.ok()) return s;
    ++summary->temp_rows;
  }
  return Status::Ok();
}

}  // namespace velmora::matching
