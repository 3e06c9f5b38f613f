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
