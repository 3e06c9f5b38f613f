// AspectList and AspectSettings: the per-aspect rows of table aspects.
//
// AspectList is the short list loaded each time the database is opened: at
// most kMaxAspects entries, in the order the aspect-list query returns them,
// each keeping its six columns as the engine's text (an integer column reads
// "40", a boolean "1" or "0"). Entries are indexed from 0 here; the count says
// how many are valid.
//
// AspectSettings is the full row of the aspect of the image being extracted,
// every column in its stored type, read by column name. Only one aspect is
// current at a time; the driver replaces it for each image.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "workstation/common/status.h"
#include "workstation/config/config_faults.h"

namespace velmora::db {
class Database;
class RecordSet;
class Statement;
}  // namespace velmora::db

namespace velmora::config {

inline constexpr int kMaxAspects = 10;
inline constexpr const char* kAspectListSql =
    "SELECT aspect, aspect_letter, cell_type, pattern, show_n_spots, all_green from aspects";
inline constexpr const char* kAspectSettingsSql = "SELECT * from aspects WHERE aspect=:pAspect";

struct AspectEntry {
  std::string aspect;         // name, as images and cmbAspect name it
  std::string aspect_letter;  // last two characters of its cell names
  std::string cell_type;      // "lateral", "Dorsal", "Ventral"
  std::string pattern;        // "none", "black_stripe", "...dots...", "...rings..."
  std::string show_n_spots;   // starting number of spots, as text
  std::string all_green;      // boolean, as text

  // The two numeric columns converted by the configuration rules; 0 / false
  // when the text does not convert.
  int show_n_spots_value() const;
  bool all_green_value() const;
};

struct AspectList {
  std::array<AspectEntry, kMaxAspects> entries;
  int count = 0;

  // The entry whose aspect is exactly `name` (same letters, same case), or
  // nullptr.
  const AspectEntry* find(const std::string& name) const;
  void clear() { *this = AspectList(); }
};

struct AspectSettings {
  std::string pattern;
  std::string model_fname;  // body-model definition file
  std::string cell_type;
  bool dorsal_midline = false;
  int16_t adjust_extract = 0;  // 0, -1, -2 or -3
  bool no_order = false;
  bool left_right = false;
  int16_t show_n_spots = 0;
  int32_t fennick_code = 0;
  double scale_special = 0, scale_mid = 0, scale_overspill = 0, scale_mag = 0;
  double scale_edge = 0, scale_stiff = 0, scale_twist = 0, scale_thin = 0;
  int16_t from_r = 0, to_r = 0, step_r = 0;
  int16_t from_theta_deg = 0, to_theta_deg = 0, step_theta_deg = 0;
  double sigmax_ratio = 0;
  double sigmay = 0;
  bool all_green = false;
  bool merged_only = false;
};

// Fills *list from the rows of the aspect-list query (`rs` positioned
// anywhere; it is walked from its first row). Rows past the tenth are left
// out with one fault naming `database` and the aspects left out.
void fill_aspect_list(db::RecordSet* rs, const std::string& database, AspectList* list,
                      Faults* faults);

// Fills *out from the first row of `aspect_settings` (a statement prepared
// from kAspectSettingsSql) for `aspect`. NULL columns read as 0 / false / "".
// Fails, leaving *out as it was, with NotFound when no row names the aspect,
// with Corruption naming the column when a column is missing or its value
// does not fit its type, or with the database's own error.
Status load_aspect_settings(db::Statement* aspect_settings, const std::string& aspect,
                            AspectSettings* out);
// The same through a statement prepared for this one call.
Status load_aspect_settings(db::Database* db, const std::string& aspect, AspectSettings* out);

}  // namespace velmora::config
