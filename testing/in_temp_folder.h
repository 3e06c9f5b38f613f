// A GoogleTest fixture whose test runs in a temporary folder of its own, the
// current folder while the test runs, so that the test can use short
// relative paths (fingerprint paths must fit an 80-byte buffer).
#pragma once

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

namespace velmora::testing {

class InTempFolder : public ::testing::Test {
 protected:
  TempDir temp_;

 private:
  CurrentFolder here_{temp_.root()};
};

}  // namespace velmora::testing
