#include "workstation/model/accept.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "workstation/common/rounding.h"
#include "workstation/model/blank_file.h"
#include "workstation/model/fit_file.h"

namespace velmora::model {

AcceptedRecord accepted_record(const FitSession& session, const extract::SharedExtract& extract) {
  AcceptedRecord r;
  const config::AspectSettings& a = session.setup().aspect_settings;
  const char side = session.side_letter();
  const bool lateral = a.cell_type == "lateral";
  r.side.assign(1, lateral ? side : 'M');
  r.facing.assign(1, lateral || !a.no_order ? side : 'L');
  const fennick::RayRecord& ray = session.last_ray();
  const double nx = ray.v[8], ny = ray.v[9], nz = ray.v[10];
  const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
  r.off_square = length > 0
                     ? std::acos(std::min(1.0, std::fabs(nz) / length)) * 180.0 / std::numbers::pi
                     : 0.0;
  const auto blank = std::count(extract.blank.begin(), extract.blank.end(), extract::kBlankPixel);
  r.pcb = static_cast<int>(
      round_half_even(static_cast<double>(blank) / extract::kExtractPixels * 100.0));
  const double crop_scale = session.crop_scale();
  r.scale = crop_scale > 0 ? session.model_parms().v[5] / crop_scale : 0.0;
  return r;
}

Status write_accepted_files(const FitSession& session, const extract::SharedExtract& extract,
                            const std::string& data_folder, const std::string& cell,
                            bool* update_record) {
  *update_record = false;
  const FitRecord record =
      fit_record_for_ok(session.marked_points(), session.crop_record(), session.picked_points(),
                        session.setup().aspect_settings.adjust_extract);
  Status s = write_fit_files(data_folder, cell, record);
  if (!s.ok() || !ok_writes_blank_file(cell)) return s;
  s = write_blank_file(data_folder, cell, extract);
  *update_record = s.ok();
  return s;
}

Status update_accepted_record(db::Database* db, const std::string& cell, const AcceptedRecord& r) {
  std::unique_ptr<db::Statement> st;
  Status s =
      db->prepare("store the accepted fit",
                  "UPDATE cells SET side = :pSide, facing = :pFacing, off_square = "
                  ":pOff, pcb = :pPcb, scale = :pScale, tagged = :pTagged WHERE cell = :pCell",
                  &st);
  if (s.ok()) s = st->set("pSide", db::Value(r.side));
  if (s.ok()) s = st->set("pFacing", db::Value(r.facing));
  if (s.ok()) s = st->set("pOff", db::Value(r.off_square));
  if (s.ok()) s = st->set("pPcb", db::Value(static_cast<int64_t>(r.pcb)));
  if (s.ok()) s = st->set("pScale", db::Value(r.scale));
  if (s.ok()) s = st->set("pTagged", db::Value(static_cast<int64_t>(r.tagged ? 1 : 0)));
  if (s.ok()) s = st->set("pCell", db::Value(cell));
  int changes = 0;
  if (s.ok()) s = st->execute(&changes);
  if (s.ok() && changes == 0)
    return Status::NotFound("the database has no row for the cell " + cell);
  return s;
}

}  // namespace velmora::model
