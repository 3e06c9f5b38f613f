// AutoMatch: the status of one extract, stored as one letter in
// cells.AutoMatch (view column SYSTEM_ImageLinks.AutoMatch).
//
// Life cycle: E (photograph waiting for extraction) -> P (extract saved,
// waiting to be compared) -> V (compared, waiting for the visual check; also
// a library extract for other pending extracts) -> L (library) or R (not
// added). S and G end an extraction without a pattern; T parks a real pending
// extract during a test run. The comparison statements look only at P on the
// pending side and at L or V on the library side.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::db {

enum class AutoMatch : char {
  kExtract = 'E',     // set for pattern extraction; taken in cell order
  kPending = 'P',     // saved, waiting to be compared
  kVisual = 'V',      // compared, waiting for the visual check
  kLibrary = 'L',     // extract of an identified animal, a comparison target
  kRejected = 'R',    // reviewed; the operator chose not to add it to the library
  kScrapped = 'S',    // scrapped in the extraction window
  kTaken = 'G',       // taken while its cell name contains "#"
  kTestParked = 'T',  // real pending extract parked during a test run
};

inline constexpr std::array<AutoMatch, 8> kAllAutoMatch = {
    AutoMatch::kExtract,  AutoMatch::kPending,  AutoMatch::kVisual, AutoMatch::kLibrary,
    AutoMatch::kRejected, AutoMatch::kScrapped, AutoMatch::kTaken,  AutoMatch::kTestParked};

inline constexpr char letter(AutoMatch a) {
  return static_cast<char>(a);
}

// The letter as the one-character text stored in the database ("P").
inline std::string to_string(AutoMatch a) {
  return std::string(1, letter(a));
}

// The status for a letter; the database compares without letter case, so "p"
// is P. Anything else (another letter, empty, longer text) gives nullopt.
inline std::optional<AutoMatch> auto_match_from_letter(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (AutoMatch a : kAllAutoMatch) {
    if (letter(a) == c) return a;
  }
  return std::nullopt;
}

inline std::optional<AutoMatch> auto_match_from_text(std::string_view text) {
  if (text.size() != 1) return std::nullopt;
  return auto_match_from_letter(text[0]);
}

}  // namespace velmora::db
