// Settings: the process-wide switches and numbers read from orlain.ini.
//
// Every field is named by its configuration key, exactly as the key is
// written in the file (letters in the same case), and kept in the width the
// operations that use it expect. A fresh Settings holds zero, false or the
// empty text everywhere; the two working defaults (critical_distance 9,
// avg_depth_default 10) are applied by config_assign, not at construction, so
// a file with no key lines leaves both at 0.
//
// Settings are never cleared between readings: a later reading overwrites
// only the keys it names. One instance lives for the whole run, owned by the
// Start driver; it is a plain value, not shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "workstation/common/rounding.h"
#include "workstation/common/status.h"

namespace velmora::config {

// Applied before every assignment when the field is still 0.
inline constexpr float kDefaultCriticalDistance = 9.0f;
inline constexpr int16_t kDefaultAvgDepth = 10;

struct Settings {
  bool MultiAspect = false;        // batch comparison picks pending extracts by animal
  bool tailbase = false;           // stored only
  bool do_blankdist = false;       // blank-distance map before processing a blanked extract
  bool use_cell = false;           // saved extract image from the intensity image, not the wavelets
  bool sum_correl = false;         // summed form of the wavelet correlation
  bool join_only = false;          // stripe-joining step of the stripe features
  float critical_distance = 0.0f;  // spot and stripe distance threshold, pixels
  int16_t avg_depth_default = 0;   // starting value of the average-depth slider
  std::string library_name;        // library feature sub-folder, ends in its own separator
  float dilate_proportion = 0.0f;  // share of the extract area the dilated seeds cover
  int32_t distend_belly = 0;       // passed to the body model
  int32_t oversampling = 0;        // body-model oversampling factor
  uint8_t LockRoll_value = 0;      // "Lock Roll" check box at window load
  bool LimitSearch = false;        // offer the site / landscape limit
  bool YellowBlack = false;        // grey = (R + G - B) / 3
  uint8_t LockYaw_value = 0;       // "and Yaw" check box at window load
  uint8_t fixLegCode_value = 0;    // 1: leg-code comparison runs its fixed-code step
  bool do_highlight = false;       // stored only
  bool reverse_fill = false;       // reversed liquid fill
};

// Assigns one key. First applies the two defaults (avg_depth_default 0 -> 10,
// critical_distance 0 -> 9), then matches `key` case-sensitively against the
// keys above and converts `value` to the field's type:
//   - boolean: "True" or "False" in any letter case, or a number (non-zero
//     is true);
//   - numbers: decimal text as number_text.h reads it ("0.5", never "0,5",
//     whatever the locale); integers take the nearest whole number, halves
//     to even, and must fit the field's width;
//   - text: taken as it stands.
// Blanks around a boolean or a number are allowed; the key is never trimmed.
// Returns Ok when the key was assigned; NotFound (nothing changed) for a key
// that is not in the table; InvalidArgument naming the key, the value and the
// type when the value does not convert, the field keeping its value.
Status config_assign(Settings* settings, std::string_view key, std::string_view value);

// The conversions config_assign uses, shared with the aspect settings.
// Each returns false (leaving *out alone) when the text does not convert.
bool parse_boolean(std::string_view text, bool* out);
bool parse_real(std::string_view text, double* out);
// Whole number from decimal text (fractions rounded half to even) within
// [lo, hi].
bool parse_whole(std::string_view text, int64_t lo, int64_t hi, int64_t* out);
// x rounded to the nearest whole number, halves to even.
using velmora::round_half_even;

}  // namespace velmora::config
