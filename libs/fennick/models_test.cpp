// The model definition files shipped with the library: each reads with the
// strict reader, and its special points are the ones the fitting window
// expects, in order.
//
// ModelRecord's doubles are packed: the checks read them by value (unary +)
// rather than let GoogleTest bind a misaligned reference.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "libs/fennick/model_file.h"

namespace velmora::fennick {
namespace {

const std::string kModels = FENNICK_MODELS_DIR;

struct Shipped {
  std::string file;
  int kind;
  double table_degrees;  // theta of the dorsal midline
  std::vector<std::string> labels;
};

const std::vector<Shipped>& shipped() {
  static const std::vector<Shipped> all = {
      {"seal_flank.dat",
       1,
       0,
       {"tail base", "sternum", "left shoulder", "right shoulder", "left hip", "right hip",
        "left mid", "right mid"}},
      {"head_water.dat",
       2,
       180,
       {"back of neck", "chin", "left eye", "right eye", "left ear", "right ear", "nose", "crown"}},
      {"head_land.dat",
       2,
       180,
       {"back of neck", "chin", "left eye", "right eye", "left ear", "right ear", "nose", "crown"}},
      {"head_pv.dat",
       2,
       180,
       {"back of neck", "chin", "left eye", "right eye", "left ear", "right ear", "nose", "crown"}},
  };
  return all;
}

TEST(ShippedModels, ReadStrictlyWithTheirSpecialPoints) {
  for (const Shipped& s : shipped()) {
    SCOPED_TRACE(s.file);
    auto model = std::make_unique<ModelRecord>();
    MarkedPoints marks{};
    FitParams params{};
    ModelDefinition def;
    const Status st =
        read_model_definition_file(kModels + s.file, {model.get(), &marks, &params}, &def);
    ASSERT_TRUE(st.ok()) << st.message();
    EXPECT_EQ(def.kind, s.kind);
    EXPECT_NEAR(+model->table_angle, s.table_degrees * 3.14159265358979 / 180, 1e-12);
    EXPECT_EQ(+model->first_position, 0);  // picked points take Y from 0
    ASSERT_EQ(def.special_names.size(), s.labels.size());
    for (std::size_t i = 0; i < s.labels.size(); ++i) {
      const std::string& name = def.special_names[i];
      // The window's label: the name without its first and last characters.
      ASSERT_GE(name.size(), 2u);
      EXPECT_EQ(name.substr(1, name.size() - 2), s.labels[i]) << i;
      EXPECT_GT(marks.weights[i], 0) << i;
      EXPECT_GE(+model->special_y[i], +model->first_position) << i;
      EXPECT_LE(+model->special_y[i], +model->last_position) << i;
    }
    // Point 0 lies towards the tail, point 1 towards the head: the window
    // takes the animal's facing from their order on the picture.
    EXPECT_LT(+model->special_y[0], +model->special_y[1]);
    // Group 1's starting girth went to FitParams after group 0's slots.
    const int k0 = model->groups[0].count;
    for (int i = 0; i < model->groups[1].count - 1; ++i) EXPECT_EQ(params.v[k0 + 6 + i], 1.0);
  }
}

}  // namespace
}  // namespace velmora::fennick
