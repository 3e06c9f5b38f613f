#include "workstation/session/algorithm_letters.h"

#include "workstation/db/database.h"
#include "workstation/db/statements.h"

namespace velmora::session {

const std::string& AlgorithmLetters::letter(const std::string& family) const {
  static const std::string kNone;
  if (family == "tarvik") return tarvik;
  if (family == "compnew_corr") return compnew_corr;
  if (family == "compnew_spot") return compnew_spot;
  if (family == "legcode") return legcode;
  if (family == "CompSift") return CompSift;
  return kNone;
}

Status load_algorithm_letters(db::Database* db, AlgorithmLetters* letters) {
  AlgorithmLetters found;
  std::string* slots[] = {&found.tarvik, &found.compnew_corr, &found.compnew_spot, &found.legcode,
                          &found.CompSift};
  for (size_t i = 0; i < db::kAlgorithmFamilies.size(); ++i) {
    const std::string family = db::kAlgorithmFamilies[i];
    db::RecordSet rs;
    Status s = db->query("algorithm lookup " + family, db::algorithm_lookup_sql(family), &rs);
    if (!s.ok()) return s;
    rs.move_first();
    if (!rs.eof()) *slots[i] = rs.text("letter");
  }
  *letters = found;
  return Status::Ok();
}

}  // namespace velmora::session
