// The save step's key-point generator run as a program: velmora-keys on a
// saved pelt's anim.pgm in the working folder, and the outcomes that stop
// the save.
#include "workstation/app/key_maker.h"

#include <gtest/gtest.h>

#include "libs/bristane/key_file.h"
#include "testing/programs.h"
#include "testing/temp_dir.h"
#include "workstation/extract/save_extract.h"
#include "workstation/extract/testing/test_extracts.h"

namespace velmora::app {
namespace {

TEST(KeyMaker, RunsTheGeneratorInTheWorkingFolder) {
  velmora::testing::TempDir dir("key maker");
  const extract::SharedExtract pelt = extract::testing::test_extract({});
  int clamped = 0;
  ASSERT_TRUE(dir.write(
      "anim.pgm", extract::anim_pgm_bytes(extract::raw_image_bytes(pelt.intensity, &clamped))));
  auto runner = std::make_shared<matching::PosixProcessRunner>(5);
  const std::string program = velmora::testing::built_program(kKeyMakerName);
  ASSERT_FALSE(program.empty());
  ASSERT_TRUE(key_maker(runner, program, dir.dir(), nullptr)().ok());
  bristane::KeyList keys;
  const Status s = bristane::read_key_file(dir.path("anim.key"), &keys);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_GT(keys.count(), 10);

  struct Case {
    const char* what;
    std::string program;
    std::string folder;
    const char* message;
  };
  const Case cases[] = {
      {"no anim.pgm", program, dir.dir() + "none/", "exit code 1"},
      {"a failing program", "/bin/false", dir.dir(), "exit code 1"},
      {"no program", dir.path("velmora-keys"), dir.dir(), "could not be started"},
  };
  ASSERT_TRUE(dir.write("none/.keep", ""));
  for (const Case& c : cases) {
    const Status f = key_maker(runner, c.program, c.folder, nullptr)();
    EXPECT_EQ(f.code(), Status::Code::kIOError) << c.what;
    EXPECT_NE(f.message().find(c.message), std::string::npos) << c.what << ": " << f.message();
    EXPECT_NE(f.message().find("Extract not saved."), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace velmora::app
