// OK of the fitting window without the window: the fit files, the blank
// file and the values of the extract's record (side, facing, off_square,
// pcb, scale), from a session that has extracted.
#pragma once

#include <string>

#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/model/fit_session.h"

namespace velmora::model {

// What OK writes into the extract's record.
struct AcceptedRecord {
  std::string side;       // "M" for non-lateral cell types, else the side letter
  std::string facing;     // the side letter ("L" for an unordered non-lateral aspect)
  double off_square = 0;  // degrees between the patch centre's normal and the line of sight
  int pcb = 0;            // percentage of blank extract pixels, rounded
  double scale = 0;       // ModelParms[5] / crop scale
  bool tagged = false;    // the operator saw a tag on the animal (the window's "tag" box)
};

// The record's values for the session's last extraction of `extract`;
// `tagged` stays false (the operator's, set by the caller).
AcceptedRecord accepted_record(const FitSession& session, const extract::SharedExtract& extract);

// Writes the fit files of `cell` (and of its partner cell) and, unless the
// cell name holds "_LC" or "#", its blank file, under `data_folder`.
// *update_record says whether OK updates the extract's record.
Status write_accepted_files(const FitSession& session, const extract::SharedExtract& extract,
                            const std::string& data_folder, const std::string& cell,
                            bool* update_record);

// Stores the values in the cell's row (cells table). Fails naming the cell
// when the database has no row for it.
Status update_accepted_record(db::Database* db, const std::string& cell,
                              const AcceptedRecord& record);

}  // namespace velmora::model
