// The QProcess runner against the shared runner cases.
#include "workstation/matching/process_runner_qt.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "workstation/matching/process_runner_conformance.h"

namespace velmora::matching {
namespace conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ProcessRunnerConformance, QtProcessRunner);
}  // namespace conformance

namespace {

// The window asks for one program at a time; a request for more must not
// quietly become one after another.
TEST(QtProcessRunner, StartsNothingWhenAskedForChildrenSideBySide) {
  velmora::testing::TempDir temp("velmora_qt_runner");
  std::vector<ProcessCommand> commands(2, conformance::shell("echo made >> made"));
  for (ProcessCommand& c : commands) c.working_folder = temp.dir();
  QtProcessRunner runner;
  RecordingControlPanel panel;
  EXPECT_FALSE(runner.runs_side_by_side());
  for (const ProcessOutcome& o : runner.start_all_and_wait(commands, 2, &panel)) {
    EXPECT_NE(o.describe().find("starts one program at a time"), std::string::npos);
  }
  EXPECT_FALSE(temp.exists("made"));
  for (const ProcessOutcome& o : runner.start_all_and_wait(commands, 1, &panel)) {
    EXPECT_TRUE(o.succeeded()) << o.describe();
  }
  EXPECT_EQ(temp.read("made"), "made\nmade\n");
}

// QProcess watches its pipes through the application's event machinery, as
// it does in the workstation.
class CoreApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "batch_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = new QCoreApplication(argc, argv);
  }
  void TearDown() override { delete app_; }

 private:
  QCoreApplication* app_ = nullptr;
};
const ::testing::Environment* const kApp = ::testing::AddGlobalTestEnvironment(new CoreApplication);

}  // namespace
}  // namespace velmora::matching
