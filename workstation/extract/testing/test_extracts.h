// Extracts for the tests of extract processing: a pelt of dark (or light)
// round marks on a grey that brightens slowly across the extract, with a
// little noise and, on request, a blanked patch at the top left, and the
// processing set-up that goes with it. Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <string>

#include "workstation/extract/pipeline.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract::testing {

struct Mark {
  double row = 0, column = 0, radius = 0;
};

struct TestPelt {
  std::uint64_t seed = 1;
  int marks = 25;
  bool light_marks = false;
  bool stripes = false;       // bands instead of round marks
  bool blank_corner = false;  // blanks rows and columns 1..40 (a 40 x 40 patch)
};

// The extract and, in *marks, where its marks were drawn.
SharedExtract test_extract(const TestPelt& pelt, std::vector<Mark>* marks = nullptr);

// A set-up for `pattern` with dot kernels of radius 3..9 (step 2) or stripe
// kernels of radius 8..16 x 12 angles, spot and tarvik letters, 20 spots
// shown, files into `folders`.
ProcessingSetup test_setup(const std::string& pattern, const std::string& folders);

}  // namespace velmora::extract::testing
