// Ranking from table temp (rules in the header). The grouping happens in
// the database, as the workstation's best_ids_for_pending does for one
// pending extract; a run of a few hundred pending extracts gives some ten
// thousand (pname, ID) groups, ranked here in memory.
#include "tools/corpus/temp_ranking.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>

#include "workstation/common/number_text.h"

namespace velmora::corpus {
namespace {

std::string folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string rate(int n, int of) {
  return real_to_fixed_text(of ? 100.0 * n / of : 0.0, 1) + " % (" + std::to_string(n) + " of " +
         std::to_string(of) + ")";
}

}  // namespace

Status read_tarvik_letter(db::Database* db, std::string* letter) {
  db::RecordSet algy;
  Status s = db->query("tarvik letter", "SELECT letter FROM algy WHERE type='tarvik'", &algy);
  if (!s.ok()) return s;
  if (algy.eof())
    return Status::NotFound("the database has no algy row of type 'tarvik': no tarvik letter");
  *letter = algy.text("letter");
  return Status::Ok();
}

Status read_family_letters(db::Database* db, std::vector<AlgorithmLetter>* letters) {
  letters->clear();
  for (const char* type : {"tarvik", "compnew_corr", "compnew_spot", "legcode", "CompSift"}) {
    db::RecordSet rs;
    std::unique_ptr<db::Statement> st;
    Status s = db->prepare("family letter", "SELECT letter FROM algy WHERE type = :t", &st);
    if (s.ok()) s = st->set("t", std::string(type));
    if (s.ok()) s = st->open(&rs);
    if (!s.ok()) return s;
    rs.move_first();
    if (!rs.eof() && !rs.text("letter").empty()) letters->push_back({type, rs.text("letter")});
  }
  return Status::Ok();
}

std::string format_letter_rates(const std::vector<LetterRates>& rates) {
  std::string out = "identification rates per algorithm letter:\n";
  for (const LetterRates& l : rates) {
    const TempRanking& r = l.ranking;
    char head[64];
    std::snprintf(head, sizeof head, "  %-3s %-13s", l.family.letter.c_str(),
                  l.family.type.c_str());
    out += head;
    if (r.probe_rows == 0) {
      out += "no temp rows for its " + std::to_string(r.probes) + " pending extracts\n";
      continue;
    }
    out += "rank-1 " + rate(r.rank1, r.probes) + ", rank-10 " + rate(r.rank10, r.probes) +
           ", with candidates " + std::to_string(r.with_candidates) + "\n";
  }
  return out;
}

Status read_extract_sides(db::Database* db, SideOfCell* sides) {
  db::RecordSet rs;
  Status s = db->query("extract sides", "SELECT cell, side FROM cells", &rs);
  if (!s.ok()) return s;
  sides->clear();
  for (rs.move_first(); !rs.eof(); rs.move_next())
    (*sides)[folded(rs.text("cell"))] = db::is_null(rs.field("side")) ? "" : rs.text("side");
  return Status::Ok();
}

Status read_temp_candidates(db::Database* db, std::string* letter,
                            std::vector<CandidateScore>* candidates) {
  Status s = read_tarvik_letter(db, letter);
  if (!s.ok()) return s;
  db::RecordSet rs;
  s = db->query("temp candidates",
                "SELECT temp.pname AS pname, encounter.ID AS ID, max(temp.score) AS best, "
                "count(*) AS n FROM temp LEFT JOIN cells ON cells.cell = temp.fname "
                "LEFT JOIN image ON image.image = cells.image "
                "LEFT JOIN encounter ON encounter.encounter_no = image.encounter_no "
                "GROUP BY temp.pname, encounter.ID",
                &rs);
  if (!s.ok()) return s;
  candidates->clear();
  candidates->reserve(static_cast<size_t>(rs.row_count()));
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    CandidateScore c;
    c.pname = rs.text("pname");
    c.id = rs.text("ID");
    c.best = rs.number("best");
    c.rows = rs.integer("n");
    candidates->push_back(std::move(c));
  }
  return Status::Ok();
}

Status rank_temp(const std::vector<CorpusSighting>& truth, const std::string& letter,
                 const std::vector<CandidateScore>& candidates, TempRanking* out,
                 const SideOfCell& sides) {
  TempRanking r;
  r.letter = letter;
  // Probe by its temp pname, folded.
  std::map<std::string, size_t> probe_of;
  for (const CorpusSighting& c : truth) {
    if (!c.pending) continue;
    ProbeCandidates p;
    p.cell = c.cell;
    p.animal = c.animal;
    if (auto side = sides.find(folded(c.cell)); side != sides.end()) p.side = side->second;
    r.ranked.push_back(p);
  }
  std::sort(r.ranked.begin(), r.ranked.end(),
            [](const ProbeCandidates& a, const ProbeCandidates& b) { return a.cell < b.cell; });
  for (size_t i = 0; i < r.ranked.size(); ++i)
    if (!probe_of.emplace(folded(r.ranked[i].cell + "." + letter), i).second)
      return Status::Corruption("the truth names the pending cell " + r.ranked[i].cell + " twice");
  r.probes = static_cast<int>(r.ranked.size());

  // Best score per (probe, folded ID); the ID as first seen is kept for show.
  std::vector<std::unordered_map<std::string, std::pair<std::string, double>>> best(
      r.ranked.size());
  for (const CandidateScore& c : candidates) {
    r.rows += c.rows;
    auto it = probe_of.find(folded(c.pname));
    if (it == probe_of.end()) {
      r.other_rows += c.rows;
      continue;
    }
    r.probe_rows += c.rows;
    if (c.id.empty()) {
      r.unknown_rows += c.rows;
      continue;
    }
    auto [entry, added] = best[it->second].emplace(folded(c.id), std::make_pair(c.id, c.best));
    if (!added) entry->second.second = std::max(entry->second.second, c.best);
  }

  for (size_t i = 0; i < r.ranked.size(); ++i) {
    ProbeCandidates& p = r.ranked[i];
    for (const auto& [key, id_score] : best[i]) p.ranked.push_back(id_score);
    std::sort(p.ranked.begin(), p.ranked.end(), [](const auto& a, const auto& b) {
      return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    if (!p.ranked.empty()) ++r.with_candidates;
    auto own = best[i].find(folded(p.animal));
    if (own == best[i].end()) {
      ++r.not_found;
      continue;
    }
    const double own_score = own->second.second;
    int rank = 1;
    for (const auto& [key, id_score] : best[i])
      if (key != own->first && id_score.second >= own_score) ++rank;
    p.rank = rank;
    if (rank <= 1) ++r.rank1;
    if (rank <= 10) ++r.rank10;
  }

  r.sides = {SideRates{"L"}, SideRates{"R"}};
  for (const ProbeCandidates& p : r.ranked) {
    auto side = std::find_if(r.sides.begin(), r.sides.end(),
                             [&p](const SideRates& s) { return folded(s.side) == folded(p.side); });
    if (side == r.sides.end()) side = r.sides.insert(r.sides.end(), SideRates{p.side});
    ++side->probes;
    if (!p.ranked.empty()) ++side->with_candidates;
    if (p.rank == 1) ++side->rank1;
    if (p.rank >= 1 && p.rank <= 10) ++side->rank10;
  }
  // A probe without a side goes last, after the sides that were recorded.
  std::stable_partition(r.sides.begin(), r.sides.end(),
                        [](const SideRates& s) { return !s.side.empty(); });
  *out = std::move(r);
  return Status::Ok();
}

std::string format_temp_ranking(const TempRanking& r, int show, int top) {
  std::string out;
  out += "temp: " + std::to_string(r.rows) + " rows, " + std::to_string(r.probe_rows) +
         " of them for the " + std::to_string(r.probes) + " pending extracts (letter " + r.letter +
         ")";
  if (r.other_rows > 0) out += ", " + std::to_string(r.other_rows) + " for other names";
  out += "\n";
  if (r.unknown_rows > 0)
    out += "rows naming no extract of the database: " + std::to_string(r.unknown_rows) + "\n";
  out += "pending extracts with candidates: " + std::to_string(r.with_candidates) + " of " +
         std::to_string(r.probes) + "\n";
  out += "rank-1 identification rate: " + rate(r.rank1, r.probes) + "\n";
  out += "rank-10 identification rate: " + rate(r.rank10, r.probes) + "\n";
  for (const SideRates& s : r.sides)
    out += "  " + (s.side.empty() ? std::string("no side recorded") : "side " + s.side) +
           ": rank-1 " + rate(s.rank1, s.probes) + ", rank-10 " + rate(s.rank10, s.probes) +
           ", with candidates " + std::to_string(s.with_candidates) + "\n";
  if (r.not_found > 0)
    out += "own animal without any temp row: " + std::to_string(r.not_found) + "\n";
  const int n = std::min(show, r.probes);
  if (n <= 0) return out;
  out += "\nbest candidates of " + std::to_string(n) +
         " pending extracts (* = the animal really photographed):\n";
  for (int i = 0; i < n; ++i) {
    const ProbeCandidates& p = r.ranked[static_cast<size_t>(i)];
    out += "  " + p.cell + " (truly " + p.animal + ", " +
           (p.rank > 0 ? "rank " + std::to_string(p.rank) : std::string("not found")) + ")\n";
    const int k = std::min(top, static_cast<int>(p.ranked.size()));
    for (int j = 0; j < k; ++j) {
      const auto& [id, score] = p.ranked[static_cast<size_t>(j)];
      // Rank and name padded by printf (no locale in integers and text); the
      // score through the locale-free conversion.
      char rank_and_name[160];
      std::snprintf(rank_and_name, sizeof rank_and_name, "    %2d. %-12s ", j + 1, id.c_str());
      out += rank_and_name + real_to_fixed_text(score, 4) +
             (folded(id) == folded(p.animal) ? " *" : "") + "\n";
    }
    if (p.ranked.empty()) out += "    no candidates\n";
  }
  return out;
}

}  // namespace velmora::corpus
