// The key-point generator of the save step: velmora-keys, found beside the
// workstation's own program, run in the working folder through a process
// runner (the window's events keep flowing while it runs), with no
// arguments, so that it reads "anim.pgm" and writes "anim.key" there.
#pragma once

#include <memory>
#include <string>

#include "workstation/common/control_panel.h"
#include "workstation/extract/save_extract.h"
#include "workstation/matching/process_runner.h"

namespace velmora::app {

inline constexpr const char* kKeyMakerName = "velmora-keys";

// velmora-keys in the running program's folder.
std::string key_maker_beside_program();

// The save step's KeyMaker: runs `program` in `working_folder` ("" = the
// current folder). A program that cannot be started or does not end with
// exit code 0 fails the save with a message giving its outcome, what it
// printed and the command. `panel` (may be null) gets the runner's event
// handling; it must outlive the maker.
extract::KeyMaker key_maker(std::shared_ptr<matching::ProcessRunner> runner, std::string program,
                            std::string working_folder, ControlPanel* panel);

}  // namespace velmora::app
