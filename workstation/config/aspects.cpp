// Loading AspectList and AspectSettings from table aspects.
//
// Columns are read by name through the record set, whatever order the table
// declares them in. SQLite keeps whatever type a value was given, so each
// column is converted by the same rules as orlain.ini values (a real in an
// integer column rounds half to even; "True" in a boolean column is true) and
// a value that does not fit is reported by column instead of wrapping.
#include "workstation/config/aspects.h"

#include <limits>
#include <memory>
#include <variant>

#include "workstation/config/settings.h"
#include "workstation/db/database.h"

namespace velmora::config {
namespace {

class RowReader {
 public:
  RowReader(const db::RecordSet& rs, const std::string& aspect) : rs_(rs), aspect_(aspect) {}

  void text(const char* column, std::string* out) {
    db::Value v;
    if (fetch(column, &v)) *out = db::as_text(v);
  }

  void boolean(const char* column, bool* out) {
    db::Value v;
    if (!fetch(column, &v)) return;
    if (const auto* s = std::get_if<std::string>(&v)) {
      if (!parse_boolean(*s, out)) fail(column, *s, "True, False or a number");
    } else if (const auto* d = std::get_if<double>(&v)) {
      *out = *d != 0.0;
    } else {
      *out = db::as_integer(v) != 0;
    }
  }

  template <typename Int>
  void whole(const char* column, Int* out) {
    db::Value v;
    if (!fetch(column, &v)) return;
    constexpr int64_t lo = std::numeric_limits<Int>::min(), hi = std::numeric_limits<Int>::max();
    int64_t w = 0;
    bool fits = true;
    if (const auto* s = std::get_if<std::string>(&v)) {
      fits = parse_whole(*s, lo, hi, &w);
    } else if (const auto* d = std::get_if<double>(&v)) {
      double r = round_half_even(*d);
      fits = r >= static_cast<double>(lo) && r <= static_cast<double>(hi);
      if (fits) w = static_cast<int64_t>(r);
    } else {
      w = db::as_integer(v);
      fits = w >= lo && w <= hi;
    }
    if (!fits) {
      fail(column, db::as_text(v),
           sizeof(Int) == 2 ? "a 16-bit whole number" : "a 32-bit whole number");
      return;
    }
    *out = static_cast<Int>(w);
  }

  void real(const char* column, double* out) {
    db::Value v;
    if (!fetch(column, &v)) return;
    if (const auto* s = std::get_if<std::string>(&v)) {
      if (!parse_real(*s, out)) fail(column, *s, "a number");
    } else {
      *out = db::as_double(v);
    }
  }

  const Status& status() const { return status_; }

 private:
  bool fetch(const char* column, db::Value* v) {
    if (!status_.ok()) return false;
    if (!rs_.has_column(column)) {
      status_ = Status::Corruption("table aspects has no column '" + std::string(column) + "'");
      return false;
    }
    *v = rs_.field(column);
    return true;
  }

  void fail(const char* column, const std::string& value, const char* wanted) {
    status_ = Status::Corruption("table aspects, aspect '" + aspect_ + "', column '" + column +
                                 "': value '" + value + "' is not " + wanted);
  }

  const db::RecordSet& rs_;
  const std::string& aspect_;
  Status status_;
};

}  // namespace

int AspectEntry::show_n_spots_value() const {
  int64_t v = 0;
  return parse_whole(show_n_spots, std::numeric_limits<int16_t>::min(),
                     std::numeric_limits<int16_t>::max(), &v)
             ? static_cast<int>(v)
             : 0;
}

bool AspectEntry::all_green_value() const {
  bool v = false;
  return parse_boolean(all_green, &v) && v;
}

const AspectEntry* AspectList::find(const std::string& name) const {
  for (int i = 0; i < count; ++i) {
    if (entries[i].aspect == name) return &entries[i];
  }
  return nullptr;
}

void fill_aspect_list(db::RecordSet* rs, const std::string& database, AspectList* list,
                      Faults* faults) {
  list->clear();
  std::string left_out;
  int rows = 0;
  for (rs->move_first(); !rs->eof(); rs->move_next()) {
    ++rows;
    if (list->count == kMaxAspects) {
      left_out += (left_out.empty() ? "'" : ", '") + rs->text("aspect") + "'";
      continue;
    }
    AspectEntry& e = list->entries[list->count++];
    e.aspect = rs->text("aspect");
    e.aspect_letter = rs->text("aspect_letter");
    e.cell_type = rs->text("cell_type");
    e.pattern = rs->text("pattern");
    e.show_n_spots = rs->text("show_n_spots");
    e.all_green = rs->text("all_green");
  }
  if (rows > kMaxAspects) {
    faults->push_back(Status::InvalidArgument(
        database + ": table aspects holds " + std::to_string(rows) + " rows, more than the " +
        std::to_string(kMaxAspects) + " the workstation can use; left out: " + left_out));
  }
}

Status load_aspect_settings(db::Statement* aspect_settings, const std::string& aspect,
                            AspectSettings* out) {
  Status s = aspect_settings->set("pAspect", aspect);
  if (!s.ok()) return s;
  db::RecordSet rs;
  s = aspect_settings->open(&rs);
  if (!s.ok()) return s;
  rs.move_first();
  if (rs.eof()) return Status::NotFound("aspect '" + aspect + "' is not in table aspects");

  AspectSettings a;
  RowReader r(rs, aspect);
  r.text("pattern", &a.pattern);
  r.text("model_fname", &a.model_fname);
  r.text("cell_type", &a.cell_type);
  r.boolean("dorsal_midline", &a.dorsal_midline);
  r.whole("adjust_extract", &a.adjust_extract);
  r.boolean("no_order", &a.no_order);
  r.boolean("left_right", &a.left_right);
  r.whole("show_n_spots", &a.show_n_spots);
  r.whole("fennick_code", &a.fennick_code);
  r.real("scale_special", &a.scale_special);
  r.real("scale_mid", &a.scale_mid);
  r.real("scale_overspill", &a.scale_overspill);
  r.real("scale_mag", &a.scale_mag);
  r.real("scale_edge", &a.scale_edge);
  r.real("scale_stiff", &a.scale_stiff);
  r.real("scale_twist", &a.scale_twist);
  r.real("scale_thin", &a.scale_thin);
  r.whole("from_r", &a.from_r);
  r.whole("to_r", &a.to_r);
  r.whole("step_r", &a.step_r);
  r.whole("from_theta_deg", &a.from_theta_deg);
  r.whole("to_theta_deg", &a.to_theta_deg);
  r.whole("step_theta_deg", &a.step_theta_deg);
  r.real("sigmax_ratio", &a.sigmax_ratio);
  r.real("sigmay", &a.sigmay);
  r.boolean("all_green", &a.all_green);
  r.boolean("merged_only", &a.merged_only);
  if (!r.status().ok()) return r.status();
  *out = std::move(a);
  return Status::Ok();
}

Status load_aspect_settings(db::Database* db, const std::string& aspect, AspectSettings* out) {
  std::unique_ptr<db::Statement> stmt;
  Status s = db->prepare("aspect_settings", kAspectSettingsSql, &stmt);
  if (!s.ok()) return s;
  return load_aspect_settings(stmt.get(), aspect, out);
}

}  // namespace velmora::config
