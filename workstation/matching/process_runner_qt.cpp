// QProcess behind ProcessRunner (see process_runner_qt.h).
#include "workstation/matching/process_runner_qt.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "workstation/common/control_panel.h"

namespace velmora::matching {
namespace {

void keep(QProcess& p, ProcessOutcome* out, const ProcessCommand& command) {
  const QByteArray bytes = p.readAll();
  if (bytes.isEmpty()) return;
  out->keep_output(bytes.constData(), static_cast<size_t>(bytes.size()));
  if (command.on_output) {
    command.on_output(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  }
}

}  // namespace

ProcessOutcome QtProcessRunner::start_and_wait(const ProcessCommand& command, ControlPanel* panel) {
  ProcessOutcome out;
  if (command.program.empty()) {
    out.start_error = "no program was given";
    return out;
  }
  if (!command.working_folder.empty() &&
      !QFileInfo(QString::fromStdString(command.working_folder)).isDir()) {
    out.start_error = "the working folder '" + command.working_folder + "' does not exist";
    return out;
  }
  // The child changes folder before it starts, so a relative program path
  // is taken against the caller's folder, as the POSIX runner does.
  const QString program = QFileInfo(QString::fromStdString(command.program)).absoluteFilePath();
  QStringList arguments;
  for (const std::string& a : command.arguments) arguments << QString::fromStdString(a);

  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  if (!command.working_folder.empty()) {
    process.setWorkingDirectory(QString::fromStdString(command.working_folder));
  }
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  if (!command.environment.empty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const std::string& e : command.environment) {
      const size_t eq = e.find('=');
      if (eq == std::string::npos) continue;
      env.insert(QString::fromStdString(e.substr(0, eq)), QString::fromStdString(e.substr(eq + 1)));
    }
    process.setProcessEnvironment(env);
  }
  // The child dies with this thread, however it ends (see process_runner.h).
  const pid_t parent = getpid();
  process.setChildProcessModifier([parent] {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
  });
  process.start();
  if (!process.waitForStarted(-1)) {
    out.start_error = "'" + program.toStdString() + "': " + process.errorString().toStdString();
    return out;
  }
  out.started = true;
  while (process.state() != QProcess::NotRunning) {
    if (process.waitForFinished(poll_ms_)) break;
    keep(process, &out, command);
    if (panel != nullptr) panel->process_events();
    if (panel != nullptr && panel->stop_requested() && !out.stopped) {
      out.stopped = true;
      process.kill();
    }
  }
  keep(process, &out, command);
  if (process.exitStatus() == QProcess::NormalExit) {
    out.exited = true;
    out.exit_code = process.exitCode();
  } else {
    out.crashed = true;  // QProcess does not tell which signal
  }
  return out;
}

}  // namespace velmora::matching
