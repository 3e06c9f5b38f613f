// The run state's small helpers (see run_state.h).
#include "workstation/session/run_state.h"

namespace velmora::session {

db::Statement* RunState::statement(const std::string& name) {
  return statements ? statements->get(name) : nullptr;
}

bool RunState::ready_to_compare() const {
  if (!session.is_open() || !statements) return false;
  for (const std::string& s : side_letters) {
    if (s.empty()) return false;
  }
  return true;
}

db::StatementOptions statement_options(const RunOptions& o, const config::Settings& settings) {
  db::StatementOptions options;
  options.multi_aspect = settings.MultiAspect;
  options.test_mode = o.test_mode;
  options.combine = o.combine;
  options.show_crop = o.show_crop;
  options.limit_to_site = o.limit_to_site;
  options.limit_to_landscape = o.limit_to_landscape;
  options.limit_search = settings.LimitSearch;
  return options;
}

}  // namespace velmora::session
