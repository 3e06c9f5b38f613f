// Identification rates of a comparison run over a synthetic corpus.
//
// Each pending sighting is a probe; the library holds every other sighting
// (the K - 1 other sightings of its own animal and all sightings of the other
// animals but theirs in the pending list). A results line pairs a pending and
// a library cell in either order (the comparison runs pending against library
// and library against pending); an animal's score for a probe is the best
// score of any line pairing the probe with one of that animal's library
// sightings. The probe's rank is 1 + the number of other animals scoring at
// least as high as its own animal (ties count against it); a probe whose own
// animal has no line at all is not found at any rank. Lines pairing two
// pending or two library cells are not used, and lines that are not result
// lines (headers "$ …", the comparison's problem reports) are counted apart.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/corpus/corpus_writer.h"
#include "workstation/common/status.h"

namespace velmora::corpus {

struct RankSummary {
  int probes = 0;           // pending sightings
  int library = 0;          // library sightings
  int animals = 0;          // animals with library sightings
  int result_lines = 0;     // lines in the result form
  int used_lines = 0;       // of those, pairing a pending with a library cell
  int header_lines = 0;     // "$ " lines
  int other_lines = 0;      // anything else: problem reports of the comparison
  std::string first_other;  // the first of them, for the report
  int rank1 = 0;            // probes whose own animal ranks first
  int rank10 = 0;           // ... within the first ten
  int not_found = 0;        // own animal without any score
  double median_own = 0;    // median of the probes' own-animal scores (found ones)
  double median_other = 0;  // median of the probes' best other-animal scores
};

// Splits a result line "first,second,score" + four ",row,col" + ",mean";
// false when the line is not one (headers, problem reports, damaged lines).
bool parse_result_line(std::string_view line, std::string_view* first, std::string_view* second,
                       double* score);

// The results come from `results`; the manifest tells cells, animals and roles.
Status rank_results(const std::vector<CorpusSighting>& manifest, std::istream& results,
                    RankSummary* summary);

// The report printed by the tool, several lines ending in LF.
std::string format_summary(const RankSummary& s);

}  // namespace velmora::corpus
