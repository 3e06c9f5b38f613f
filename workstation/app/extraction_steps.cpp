#include "workstation/app/extraction_steps.h"

#include <memory>

#include "workstation/app/key_maker.h"
#include "workstation/db/auto_match.h"
#include "workstation/runs/real_time.h"

namespace velmora::app {

extract::ProcessingSetup processing_setup(const runs::RunContext& ctx) {
  extract::ProcessingSetup setup;
  setup.aspect = ctx.extraction.current_image_row.text("aspect");
  setup.aspect_settings = ctx.aspect_settings;
  setup.settings = ctx.settings;
  setup.letters = ctx.algorithm_letters;
  setup.folders = ctx.folders.data_folder;
  setup.working_folder = ctx.working_folder;
  setup.margin = ctx.extraction.margin;
  // The runner hands the window's events on while the generator runs.
  setup.make_keys = key_maker(std::make_shared<matching::PosixProcessRunner>(),
                              key_maker_beside_program(), ctx.working_folder, ctx.panel);
  return setup;
}

Status set_up_processing(runs::RunContext& ctx) {
  return ctx.processing.set_up(processing_setup(ctx));
}

Status extract_saved(runs::RunContext& ctx) {
  db::RecordSet& row = ctx.extraction.current_image_row;
  row.edit("AutoMatch", db::to_string(db::AutoMatch::kPending));
  Status s = row.update();
  if (!s.ok()) return s;
  ctx.panel->set_visible("cmdStart", true);
  // The extract is saved and marked whatever becomes of its comparison: a
  // failure there has been shown and has stopped the run, and is not handed
  // back, since the caller would offer the save again.
  if (ctx.options.real_time) (void)runs::identify_saved_extract(ctx);
  return Status::Ok();
}

void install_extraction_steps(runs::RunContext& ctx) {
  // The driver picks the builder by the aspect's pattern and hands over its
  // numbers; processing reads the same row, and names the aspect when it
  // refuses the settings.
  runs::KernelHooks& k = ctx.hooks.kernels;
  k.calc_dot_wavelet = [&ctx](int, int, int) { return set_up_processing(ctx); };
  k.calc_ring_wavelet = [&ctx](int, int, int, double) { return set_up_processing(ctx); };
  k.calc_stripe_wavelet = [&ctx](int, int, int, int, int, int, double, double) {
    return set_up_processing(ctx);
  };
  ctx.hooks.extraction.compute_blank_distance = [](runs::RunContext& c) {
    c.processing.compute_blank_distance(c.shared_extract);
    return Status::Ok();
  };
}

}  // namespace velmora::app
