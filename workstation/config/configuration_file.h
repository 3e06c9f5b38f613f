// orlain.ini: the key=value configuration file of a data files folder.
//
// The file is read as text items, not as lines:
//   - an item ends at a line end (LF, CR LF or a lone CR) or at a comma;
//   - leading blanks (spaces, tabs) are skipped;
//   - an item that begins with a double quote runs to the next double quote,
//     line ends and commas included, and the quotes are dropped; anything
//     after the closing quote up to the item's end is dropped too;
//   - the first item of the file is a header and is ignored;
//   - every later item is split at its first "=" into key and value, with no
//     trimming, and handed to config_assign.
// So "library_name=a,b" assigns "a" and leaves "b" as an item of its own, and
// "MultiAspect =True" names the key "MultiAspect " and assigns nothing.
//
// Typical files are a few hundred bytes; a file over kMaxConfigurationBytes
// is refused as not being a configuration file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/config/config_faults.h"
#include "workstation/config/settings.h"

namespace velmora::config {

inline constexpr const char* kConfigurationFileName = "orlain.ini";
inline constexpr size_t kMaxConfigurationBytes = 1 << 20;

struct ConfigItem {
  std::string text;               // the item, quotes dropped
  int line = 0;                   // line (from 1) where the item begins
  bool unclosed_quote = false;    // began with a quote that the file never closes
  bool text_after_quote = false;  // something other than blanks followed the closing quote
};

// Splits file text into its items, header included, in file order. An empty
// item (a blank line, or ",,") is kept as an empty text.
std::vector<ConfigItem> split_config_items(std::string_view text);

// Applies the items of `text` (the header first) to *settings; `file` names
// the file in the fault messages. Items without "=", values that do not
// convert and damaged quotes add one fault each (the first 20, then one
// fault with the count of the rest); empty items and unknown keys are passed
// over quietly.
void apply_configuration_text(std::string_view text, const std::string& file, Settings* settings,
                              Faults* faults);

// Reads data_folder + "orlain.ini" (no separator added: the folder is given
// with its final "/") and applies it. A missing, unreadable or oversized
// file adds one fault and leaves *settings as it was.
void read_configuration(const std::string& data_folder, Settings* settings, Faults* faults);

}  // namespace velmora::config
