// Identification rates and best candidates from table temp after a batch
// comparison of a data folder (data_folder.h), rated against its truth.
//
// The candidates of a pending extract are what visual confirmation offers
// the operator: the animal IDs of the extracts that temp pairs it with (rows
// whose pname is the pending cell + "." + the tarvik letter), each with its
// best score, best first. Pending-with-pending rows count too: they offer
// another new photograph's provisional ID, which is never the right answer.
// The right candidate is the library ID of the animal really photographed
// (the truth file); the extract's rank is 1 + the number of other IDs scoring
// at least as high (ties count against it). An extract whose animal has no
// temp row is not found at any rank.
//
// A lateral aspect is compared side by side: a pending extract meets only
// the library extracts of the side its fit recorded. The rates are given for
// all pending extracts and for each side, a pending extract counted under
// the side recorded for it (cells.side; one the extraction gave no side is
// counted under neither L nor R).
//
// Names and IDs are matched without regard to letter case, as the database
// compares them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/corpus/corpus_writer.h"
#include "workstation/common/status.h"
#include "workstation/db/database.h"

namespace velmora::corpus {

// The best score of one candidate ID for one temp pname.
struct CandidateScore {
  std::string pname;
  std::string id;   // "" when fname names no extract of the database
  double best = 0;  // largest score of the rows
  int64_t rows = 0;
};

// Reads temp grouped by pname and the candidate's animal ID (through cells,
// image and encounter) and the tarvik letter from algy. Fails with a clear
// message when the database has no tarvik row or lacks the tables.
Status read_temp_candidates(db::Database* db, std::string* letter,
                            std::vector<CandidateScore>* candidates);

// The letter of the algy row of type tarvik; NotFound without one.
Status read_tarvik_letter(db::Database* db, std::string* letter);

// The side recorded for every extract: cell folded to lower case -> side
// ("" when none is recorded).
using SideOfCell = std::map<std::string, std::string>;
Status read_extract_sides(db::Database* db, SideOfCell* sides);

struct ProbeCandidates {
  std::string cell;
  std::string animal;                                  // the truth
  std::string side;                                    // as recorded, "" = none
  int rank = 0;                                        // 0 = not found
  std::vector<std::pair<std::string, double>> ranked;  // (ID, best score), best first
};

// The rates of the pending extracts recorded on one side.
struct SideRates {
  std::string side;  // "" = no side recorded
  int probes = 0, with_candidates = 0, rank1 = 0, rank10 = 0;
};

struct TempRanking {
  std::string letter;
  int probes = 0;                       // pending extracts of the truth file
  int with_candidates = 0;              // of them, with at least one temp row
  int rank1 = 0, rank10 = 0;            // found within rank 1, within rank 10
  int not_found = 0;                    // own animal without any temp row
  int64_t rows = 0;                     // temp rows read
  int64_t probe_rows = 0;               // rows of the probes
  int64_t other_rows = 0;               // rows of other pnames (other letters, "DELIT", ...)
  int64_t unknown_rows = 0;             // probe rows whose fname names no extract
  std::vector<ProbeCandidates> ranked;  // the probes in cell order
  // L and R always, then any other side a probe was recorded on (a probe
  // without a side last).
  std::vector<SideRates> sides;
};

// Ranks the pending extracts of `truth` on the candidates read from temp,
// with the sides recorded for them in `sides`. Fails when the truth names a
// pending cell twice.
Status rank_temp(const std::vector<CorpusSighting>& truth, const std::string& letter,
                 const std::vector<CandidateScore>& candidates, TempRanking* ranking,
                 const SideOfCell& sides = {});

// The algy rows of the comparison families, in the order a batch
// comparison runs them (tarvik, compnew_corr, compnew_spot, legcode,
// CompSift), each family at most once.
struct AlgorithmLetter {
  std::string type, letter;
};
Status read_family_letters(db::Database* db, std::vector<AlgorithmLetter>* letters);

// The rank-1 and rank-10 rates of each family letter, one line each; a
// letter whose pending extracts have no temp row says so (a family that
// writes its results under another letter, or found nothing).
struct LetterRates {
  AlgorithmLetter family;
  TempRanking ranking;
};
std::string format_letter_rates(const std::vector<LetterRates>& rates);

// The report: counts, the two rates overall and per side, then the `top`
// best candidates of the first `show` pending extracts (cell order), the
// right one marked.
std::string format_temp_ranking(const TempRanking& r, int show, int top);

}  // namespace velmora::corpus
