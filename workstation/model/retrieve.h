// Retrieve: bringing back the fit an earlier OK saved for the same cell (its
// marks, crop and picked points) and its blank mask, so that the operator
// can go straight on to Fit and Extract.
//
// The special-point weights are not restored: they come from the model
// definition file read when the window opened, which may have changed since.
// Positions are rescaled from the work picture the fit was saved from to the
// current one. The picked points are zeroed when the file ends after the crop
// record, taken from it when the aspect's adjust_extract is -1, -2 or -3, and
// otherwise left as they are.
//
// Whole or nothing: when the fit file or the blank file is refused, neither
// the fit nor the shared extract changes.
#pragma once

#include <string>

#include "libs/fennick/fennick_records.h"
#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/model/fit_file.h"
#include "workstation/model/fit_session.h"
#include "workstation/model/photo.h"

namespace velmora::model {

// The parts of the fitting window's state that Retrieve sets.
struct RetrievedFit {
  fennick::MarkedPoints marks{};  // the current special-point weights come in here
  CropRecord crop;
  PickedPoints picked;
  // Which way the animal faces: tail base x < sternum x, as at the crop.
  bool facing = false;
};

// Scales every placed special point and every counted list entry by
// work size / the crop record's destination size (x by width, y by height),
// rounded halves to even, and makes that size the crop record's destination.
// The work picture keeps the photograph's 3:2 shape, but any size above zero
// and within a crop record's int16 is taken as it is; others are refused.
Status rescale_to_work_picture(int work_width, int work_height, fennick::MarkedPoints* marks,
                               CropRecord* crop);

// Retrieve for `cell` from the data folder: reads data_folder + "savedraw/" +
// cell (the full cell name, so a partner cell reads the file its partner's
// OK wrote) into *fit, rescaled to the work picture, and, when the blank
// file of the cell exists, its mask into extract's CellBlank (setting
// BlankEdited when any pixel is blank). Sets BlankRetrieved. adjust_extract
// is the aspect's (0, -1, -2 or -3).
Status retrieve_fit(const std::string& data_folder, const std::string& cell, int adjust_extract,
                    int work_width, int work_height, RetrievedFit* fit,
                    extract::SharedExtract* extract);

// The crop that gives back `crop` on `photo`. The record keeps the crop as
// grown to the work picture's shape, which may run past the photograph on
// its grown side; within the photograph it is the operator's rectangle on
// the limiting side, and cropping grows it back to the same shape.
CropRequest crop_request_from_record(const CropRecord& crop, const Photo& photo);

// A retrieved fit laid into a session that has not cropped or marked yet:
// the photograph cropped as recorded onto a work picture of the record's
// destination size, every placed special point and every list entry placed
// as the operator placed them, and the picked points. Stops at the first
// refusal (a point the model does not have, more marks than markers).
Status restore_fit(const Photo& photo, const RetrievedFit& fit, FitSession* session);

}  // namespace velmora::model
