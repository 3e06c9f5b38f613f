// Numbers as text, the same under every locale.
//
// The workstation reads numbers from orlain.ini, database fields, results
// files and the window's text boxes, and writes them into the database, onto
// labels and into reports. The window runs under the operator's locale (Qt
// sets it from the environment), and under a locale whose decimal mark is a
// comma the C conversions (strtod, printf, streams, std::to_string of a
// real) refuse "2.5", read "0.5" as 0 and write 0.5 as "0,5". Every such
// conversion goes through these functions instead: they are built on
// std::from_chars / std::to_chars, which never consult the locale, so a file
// written on one machine reads the same on any other.
//
// A number is read from the whole text, which must be
//   [+|-] digits [. [digits]] [(e|E) [+|-] digits]   or   [+|-] . digits [exponent]
// with blanks (spaces, tabs) around it allowed when asked for. Nothing else
// is a number: no "inf" or "nan", no hexadecimal, no digit grouping, no comma
// as decimal mark, no second sign. A real that does not fit a double
// (1e999), or that is not zero but would round to zero (1e-400), is refused
// rather than silently changed.
#pragma once

#include <charconv>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

// Whether blanks around the number are part of the accepted text.
enum class Blanks { kTrim, kRefuse };

// The real written in `text` (see above); nullopt when the text is not one.
std::optional<double> real_from_text(std::string_view text, Blanks blanks = Blanks::kTrim);

// The whole number written in `text` as decimal digits with an optional sign
// (no point, no exponent); nullopt when the text is not one or the number
// does not fit T (a negative number never fits an unsigned T).
template <typename T>
requires std::integral<T> &&
    (!std::same_as<T, bool>)std::optional<T> whole_from_text(std::string_view text,
                                                             Blanks blanks = Blanks::kTrim);

// The shortest text that reads back (through real_from_text) as exactly `v`:
// 0.1 gives "0.1", 1.0 / 3 "0.3333333333333333", 1e21 "1e+21". Not finite:
// "inf", "-inf" or "nan", which real_from_text refuses.
std::string real_to_text(double v);
// The same for a single-precision value: the shortest text whose nearest
// float is `v` (0.1f gives "0.1", not the double's "0.10000000149011612").
std::string single_to_text(float v);
// `v` with exactly `decimals` digits after the point, rounded to nearest
// (halves to even on the exact binary value), as printf's "%.*f" in the
// "C" locale: real_to_fixed_text(2.25, 1) is "2.2", (0.5, 0) is "0".
std::string real_to_fixed_text(double v, int decimals);
// `v` rounded to `significant` digits in the shorter of fixed and scientific
// form, trailing zeros dropped, as printf's "%.*g" in the "C" locale.
std::string real_to_general_text(double v, int significant);

namespace number_text_detail {
// `text` as from_chars is to read it: blanks dropped when allowed and a
// leading '+' dropped. Empty when the text cannot be a number at all (no
// digit or point right after the sign, blanks where they are refused).
std::string_view number_body(std::string_view text, Blanks blanks);
}  // namespace number_text_detail

template <typename T>
requires std::integral<T> &&
    (!std::same_as<T, bool>)std::optional<T> whole_from_text(std::string_view text, Blanks blanks) {
  const std::string_view s = number_text_detail::number_body(text, blanks);
  if (s.empty()) return std::nullopt;
  T v{};
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace velmora
