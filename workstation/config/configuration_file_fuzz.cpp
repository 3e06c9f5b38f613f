// Fuzz target: orlain.ini text of any bytes. The item reader must stay inside
// the text, number the lines in order, and never fail to apply what it read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "workstation/config/configuration_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  int last_line = 1;
  size_t total = 0;
  for (const velmora::config::ConfigItem& item : velmora::config::split_config_items(text)) {
    if (item.line < last_line) std::abort();
    last_line = item.line;
    total += item.text.size();
  }
  if (total > size) std::abort();
  velmora::config::Settings settings;
  velmora::config::Faults faults;
  velmora::config::apply_configuration_text(text, "orlain.ini", &settings, &faults);
  for (const velmora::Status& s : faults) {
    if (s.ok() || s.message().empty()) std::abort();
  }
  return 0;
}
