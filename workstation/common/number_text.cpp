// Locale-free number text (see number_text.h).
//
// from_chars alone would also take "inf", "nan" and "infinity", and refuses a
// leading '+', which operators and older files do write; number_body settles
// both before from_chars sees the text, so every reader accepts the same set.
#include "workstation/common/number_text.h"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace number_text_detail {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string_view number_body(std::string_view text, Blanks blanks) {
  if (blanks == Blanks::kTrim) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  }
  // After the sign only a digit or a point may follow: this keeps out the
  // words from_chars knows ("inf", "nan") and a second sign ("+-5", "--5").
  // The '-' stays for from_chars, so that the most negative integer reads.
  size_t first = 0;
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  } else if (!text.empty() && text.front() == '-') {
    first = 1;
  }
  if (first >= text.size() || !(is_digit(text[first]) || text[first] == '.')) return {};
  return text;
}

}  // namespace number_text_detail

std::optional<double> real_from_text(std::string_view text, Blanks blanks) {
  const std::string_view s = number_text_detail::number_body(text, blanks);
  if (s.empty()) return std::nullopt;
  double v = 0.0;
  const auto [end, ec] =
      std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  // ec is result_out_of_range both for overflow and for a non-zero number
  // that would become zero; neither is what the writer meant.
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string real_to_text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string single_to_text(float v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

namespace {

// Room for any double in fixed form (309 integer digits), a sign, a point and
// the digits asked for.
std::string formatted(double v, std::chars_format format, int precision) {
  precision = std::max(precision, 0);
  std::string out(static_cast<size_t>(330 + precision), '\0');
  const auto r = std::to_chars(out.data(), out.data() + out.size(), v, format, precision);
  out.resize(r.ec == std::errc() ? static_cast<size_t>(r.ptr - out.data()) : 0);
  return out;
}

}  // namespace

std::string real_to_fixed_text(double v, int decimals) {
  return formatted(v, std::chars_format::fixed, decimals);
}

std::string real_to_general_text(double v, int significant) {
  // "%.0g" means one significant digit; to_chars takes 0 the same way.
  return formatted(v, std::chars_format::general, significant);
}

}  // namespace velmora
