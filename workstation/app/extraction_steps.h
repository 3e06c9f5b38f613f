// The extraction steps of a workstation run, handed to the Start driver:
// the kernel bank of the aspect being extracted, the distance-to-blank map
// of a blanked extract, and the set-up of extract processing for each
// extract. The window's own part (showing the extract, the operator's spot
// step, "Save extract") is installed by the workstation's main, which owns
// the window.
#pragma once

#include "workstation/extract/pipeline.h"
#include "workstation/runs/run_context.h"

namespace velmora::app {

// Extract processing's settings for the extract at the run's current image
// row: its aspect, the aspect's row, the configuration, the algorithm
// letters, the data folder, the working folder, and the key-point
// generator the save runs (velmora-keys beside the program).
extract::ProcessingSetup processing_setup(const runs::RunContext& ctx);

// Sets up ctx.processing for the current extract: the kernel bank is built
// again only when the aspect's kernel settings differ from the last ones.
Status set_up_processing(runs::RunContext& ctx);

// After extract processing saved the current extract: the row becomes
// pending (AutoMatch P) and Start is shown for the next photograph. In
// real-time identification the extract is then compared at once, moved to
// V and its review opened (runs::identify_saved_extract); that step shows
// its own failures to the operator and stops the run.
Status extract_saved(runs::RunContext& ctx);

// Fills the kernel and blank-distance hooks of ctx.hooks.
void install_extraction_steps(runs::RunContext& ctx);

}  // namespace velmora::app
