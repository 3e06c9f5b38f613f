// config_assign and the text conversions behind it.
//
// The keys are one table of (key, member) pairs in the order the keys are
// documented; a lookup walks it and the first exact match wins. The table is
// short (19 keys) and a file has a few dozen lines, so a linear walk is all
// it needs.
#include "workstation/config/settings.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>
#include <variant>

#include "workstation/common/number_text.h"

namespace velmora::config {
namespace {

using Field = std::variant<bool Settings::*, float Settings::*, int16_t Settings::*,
                           int32_t Settings::*, uint8_t Settings::*, std::string Settings::*>;

struct KeyEntry {
  std::string_view key;
  Field field;
};

const std::array<KeyEntry, 19> kKeys = {{
    {"MultiAspect", &Settings::MultiAspect},
    {"tailbase", &Settings::tailbase},
    {"do_blankdist", &Settings::do_blankdist},
    {"use_cell", &Settings::use_cell},
    {"sum_correl", &Settings::sum_correl},
    {"join_only", &Settings::join_only},
    {"critical_distance", &Settings::critical_distance},
    {"avg_depth_default", &Settings::avg_depth_default},
    {"library_name", &Settings::library_name},
    {"dilate_proportion", &Settings::dilate_proportion},
    {"distend_belly", &Settings::distend_belly},
    {"oversampling", &Settings::oversampling},
    {"LockRoll_value", &Settings::LockRoll_value},
    {"LimitSearch", &Settings::LimitSearch},
    {"YellowBlack", &Settings::YellowBlack},
    {"LockYaw_value", &Settings::LockYaw_value},
    {"fixLegCode_value", &Settings::fixLegCode_value},
    {"do_highlight", &Settings::do_highlight},
    {"reverse_fill", &Settings::reverse_fill},
}};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view strip_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

Status bad_value(std::string_view key, std::string_view value, const char* wanted) {
  constexpr size_t kShown = 80;  // a runaway value is cut short in the message
  std::string shown(value.substr(0, kShown));
  if (value.size() > kShown) shown += "...";
  return Status::InvalidArgument("key '" + std::string(key) + "': value '" + shown + "' is not " +
                                 wanted + "; the setting keeps its value");
}

template <typename Int>
Status assign_whole(Int* field, std::string_view key, std::string_view value, const char* wanted) {
  int64_t v = 0;
  if (!parse_whole(value, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max(), &v)) {
    return bad_value(key, value, wanted);
  }
  *field = static_cast<Int>(v);
  return Status::Ok();
}

}  // namespace

bool parse_real(std::string_view text, double* out) {
  const std::optional<double> v = real_from_text(text, Blanks::kTrim);
  if (!v) return false;
  *out = *v;
  return true;
}

bool parse_whole(std::string_view text, int64_t lo, int64_t hi, int64_t* out) {
  double v = 0.0;
  if (!parse_real(text, &v)) return false;
  v = round_half_even(v);
  if (v < static_cast<double>(lo) || v > static_cast<double>(hi)) return false;
  *out = static_cast<int64_t>(v);
  return true;
}

bool parse_boolean(std::string_view text, bool* out) {
  std::string_view s = strip_blanks(text);
  if (equals_ignoring_case(s, "true")) {
    *out = true;
    return true;
  }
  if (equals_ignoring_case(s, "false")) {
    *out = false;
    return true;
  }
  double v = 0.0;
  if (!parse_real(s, &v)) return false;
  *out = v != 0.0;
  return true;
}

Status config_assign(Settings* s, std::string_view key, std::string_view value) {
  if (s->avg_depth_default == 0) s->avg_depth_default = kDefaultAvgDepth;
  if (s->critical_distance == 0.0f) s->critical_distance = kDefaultCriticalDistance;

  for (const KeyEntry& entry : kKeys) {
    if (entry.key != key) continue;
    if (auto* b = std::get_if<bool Settings::*>(&entry.field)) {
      bool v = false;
      if (!parse_boolean(value, &v)) return bad_value(key, value, "True, False or a number");
      s->*(*b) = v;
      return Status::Ok();
    }
    if (auto* f = std::get_if<float Settings::*>(&entry.field)) {
      double v = 0.0;
      if (!parse_real(value, &v) || std::fabs(v) > FLT_MAX) {
        return bad_value(key, value, "a number");
      }
      s->*(*f) = static_cast<float>(v);
      return Status::Ok();
    }
    if (auto* i16 = std::get_if<int16_t Settings::*>(&entry.field)) {
      return assign_whole(&(s->*(*i16)), key, value, "a whole number from -32768 to 32767");
    }
    if (auto* i32 = std::get_if<int32_t Settings::*>(&entry.field)) {
      return assign_whole(&(s->*(*i32)), key, value,
                          "a whole number from -2147483648 to 2147483647");
    }
    if (auto* u8 = std::get_if<uint8_t Settings::*>(&entry.field)) {
      return assign_whole(&(s->*(*u8)), key, value, "a whole number from 0 to 255");
    }
    auto* text = std::get_if<std::string Settings::*>(&entry.field);
    s->*(*text) = std::string(value);
    return Status::Ok();
  }
  return Status::NotFound("key '" + std::string(key) + "' is not a configuration key");
}

}  // namespace velmora::config
