// The save step's key-point generator (see key_maker.h).
#include "workstation/app/key_maker.h"

#include <utility>

#include "workstation/config/folder_file.h"

namespace velmora::app {

std::string key_maker_beside_program() {
  return config::normalise_folder(config::default_program_folder()) + kKeyMakerName;
}

extract::KeyMaker key_maker(std::shared_ptr<matching::ProcessRunner> runner, std::string program,
                            std::string working_folder, ControlPanel* panel) {
  return [runner = std::move(runner), program = std::move(program),
          working_folder = std::move(working_folder), panel]() {
    matching::ProcessCommand command;
    command.program = program;
    command.working_folder = working_folder;
    const matching::ProcessOutcome outcome = runner->start_and_wait(command, panel);
    if (outcome.succeeded()) return Status::Ok();
    if (outcome.stopped) {
      return Status::Cancelled("The key-point generator was stopped: extract not saved.");
    }
    std::string message = "The key-point generator failed: " + outcome.describe() + ".";
    const std::string tail = outcome.output_tail();
    if (!tail.empty()) message += "\nIt printed:\n" + tail;
    message += "\nCommand: " + command.text() + "\nExtract not saved.";
    return Status::IOError(message);
  };
}

}  // namespace velmora::app
