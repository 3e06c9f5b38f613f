// Faults found while reading configuration, collected for the operator.
//
// Reading the folder file, orlain.ini or table aspects never stops at the
// first problem: each one becomes a Status whose message names the file, the
// line and the key, the reading goes on, and the records keep usable values.
// The caller shows the collected messages (one message box, joined by line
// ends) once the reading is over.
#pragma once

#include <string>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::config {

using Faults = std::vector<Status>;

// The messages of `faults`, one per line, for a single message box.
inline std::string fault_text(const Faults& faults) {
  std::string text;
  for (const Status& s : faults) {
    if (!text.empty()) text += '\n';
    text += s.message();
  }
  return text;
}

}  // namespace velmora::config
