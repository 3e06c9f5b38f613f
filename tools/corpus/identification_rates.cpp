// Ranking of the probes of a corpus from a comparison results file (rules in
// the header). A result line is "first,second,score" + four ",row,col" +
// ",mean": exactly twelve comma-separated fields, all but the names numeric.
#include "tools/corpus/identification_rates.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "workstation/common/number_text.h"

namespace velmora::corpus {
namespace {

// Fields as the comparison program writes them: no blanks, decimal point.
bool parse_number(std::string_view s, double* v) {
  const std::optional<double> d = real_from_text(s, Blanks::kRefuse);
  if (!d) return false;
  *v = *d;
  return true;
}

bool parse_int(std::string_view s) {
  return whole_from_text<int>(s, Blanks::kRefuse).has_value();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

}  // namespace

bool parse_result_line(std::string_view line, std::string_view* first, std::string_view* second,
                       double* score) {
  std::string_view f[12];
  size_t n = 0, start = 0;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == ',') {
      if (n == 12) return false;
      f[n++] = line.substr(start, i - start);
      start = i + 1;
    }
  }
  if (n != 12 || f[0].empty() || f[1].empty()) return false;
  double mean;
  if (!parse_number(f[2], score) || !parse_number(f[11], &mean)) return false;
  for (int i = 3; i < 11; ++i)
    if (!parse_int(f[i])) return false;
  *first = f[0];
  *second = f[1];
  return true;
}

Status rank_results(const std::vector<CorpusSighting>& manifest, std::istream& results,
                    RankSummary* out) {
  RankSummary s;
  std::unordered_map<std::string, const CorpusSighting*> by_cell;
  std::map<std::string, int> animal_index;  // animals with library sightings
  std::vector<const CorpusSighting*> probes;
  for (const CorpusSighting& c : manifest) {
    if (!by_cell.emplace(c.cell, &c).second)
      return Status::Corruption("cell " + c.cell + " appears twice in the manifest");
    if (c.pending) {
      probes.push_back(&c);
    } else {
      ++s.library;
      animal_index.emplace(c.animal, 0);
    }
  }
  int next = 0;
  for (auto& [animal, index] : animal_index) index = next++;
  s.probes = static_cast<int>(probes.size());
  s.animals = static_cast<int>(animal_index.size());

  // best[probe][animal]; unset entries are "no line".
  std::unordered_map<std::string, std::vector<double>> best;
  std::unordered_map<std::string, std::vector<char>> seen;
  for (const CorpusSighting* p : probes) {
    best[p->cell].assign(animal_index.size(), 0.0);
    seen[p->cell].assign(animal_index.size(), 0);
  }

  std::string line;
  while (std::getline(results, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view a, b;
    double score;
    if (!parse_result_line(line, &a, &b, &score)) {
      if (line.rfind("$ ", 0) == 0) {
        ++s.header_lines;
      } else if (!line.empty()) {
        if (s.other_lines++ == 0) s.first_other = line;
      }
      continue;
    }
    ++s.result_lines;
    auto ia = by_cell.find(std::string(a));
    auto ib = by_cell.find(std::string(b));
    if (ia == by_cell.end() || ib == by_cell.end() || ia->second->pending == ib->second->pending)
      continue;
    const CorpusSighting* probe = ia->second->pending ? ia->second : ib->second;
    const CorpusSighting* cand = ia->second->pending ? ib->second : ia->second;
    ++s.used_lines;
    const int k = animal_index.at(cand->animal);
    double& entry = best[probe->cell][static_cast<size_t>(k)];
    char& was = seen[probe->cell][static_cast<size_t>(k)];
    if (!was || score > entry) entry = score;
    was = 1;
  }

  std::vector<double> own_scores, other_scores;
  for (const CorpusSighting* p : probes) {
    const std::vector<double>& sc = best[p->cell];
    const std::vector<char>& ok = seen[p->cell];
    auto own_it = animal_index.find(p->animal);
    bool have_other = false;
    double best_other = 0;
    for (const auto& [animal, k] : animal_index) {
      if (animal == p->animal || !ok[static_cast<size_t>(k)]) continue;
      if (!have_other || sc[static_cast<size_t>(k)] > best_other)
        best_other = sc[static_cast<size_t>(k)];
      have_other = true;
    }
    if (have_other) other_scores.push_back(best_other);
    if (own_it == animal_index.end() || !ok[static_cast<size_t>(own_it->second)]) {
      ++s.not_found;
      continue;
    }
    const double own = sc[static_cast<size_t>(own_it->second)];
    own_scores.push_back(own);
    int rank = 1;
    for (const auto& [animal, k] : animal_index)
      if (animal != p->animal && ok[static_cast<size_t>(k)] && sc[static_cast<size_t>(k)] >= own)
        ++rank;
    if (rank <= 1) ++s.rank1;
    if (rank <= 10) ++s.rank10;
  }
  s.median_own = median(own_scores);
  s.median_other = median(other_scores);
  *out = s;
  return Status::Ok();
}

std::string format_summary(const RankSummary& s) {
  auto rate = [&s](int n) {
    return real_to_fixed_text(s.probes ? 100.0 * n / s.probes : 0.0, 1) + " % (" +
           std::to_string(n) + " of " + std::to_string(s.probes) + ")";
  };
  const std::string scores = "median score: own animal " + real_to_fixed_text(s.median_own, 4) +
                             ", best other animal " + real_to_fixed_text(s.median_other, 4) + "\n";
  std::string out;
  out += "probes: " + std::to_string(s.probes) + " pending sightings against " +
         std::to_string(s.library) + " library sightings of " + std::to_string(s.animals) +
         " animals\n";
  out += "result lines: " + std::to_string(s.result_lines) + " (" + std::to_string(s.used_lines) +
         " pending-library pairs), header lines: " + std::to_string(s.header_lines) +
         ", other lines: " + std::to_string(s.other_lines) + "\n";
  if (s.other_lines > 0) out += "first other line: " + s.first_other + "\n";
  out += "rank-1 identification rate: " + rate(s.rank1) + "\n";
  out += "rank-10 identification rate: " + rate(s.rank10) + "\n";
  if (s.not_found > 0) out += "own animal without any score: " + std::to_string(s.not_found) + "\n";
  out += scores;
  return out;
}

}  // namespace velmora::corpus
