// QtProcessRunner: ProcessRunner on QProcess, for the windowed workstation.
//
// The program is started with its arguments as a list (no shell), standard
// input closed and standard output and error merged; then, until it ends,
// the runner waits at most 100 ms for it (QProcess::waitForFinished) and lets
// the panel's window events run. Needs only Qt Core; a QCoreApplication is
// not required. GUI thread only, like every runner.
#pragma once

#include "workstation/matching/process_runner.h"

namespace velmora::matching {

class QtProcessRunner : public ProcessRunner {
 public:
  explicit QtProcessRunner(int poll_ms = 100) : poll_ms_(poll_ms) {}
  ProcessOutcome start_and_wait(const ProcessCommand& command, ControlPanel* panel) override;

 private:
  int poll_ms_;
};

}  // namespace velmora::matching
