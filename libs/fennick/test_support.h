// Test helpers of the fennick tests: a shipped model read into fresh
// records, and the controls the window passes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "libs/fennick/body_model.h"
#include "libs/fennick/fennick.h"
#include "libs/fennick/model_file.h"
#include "libs/fennick/model_state.h"

namespace velmora::fennick::testing {

struct LoadedModel {
  std::unique_ptr<ModelRecord> model = std::make_unique<ModelRecord>();
  std::unique_ptr<MarkedPoints> marks = std::make_unique<MarkedPoints>();
  FitControl control{};
  FitParams params{};
  ModelDefinition definition;
};

// The shipped model `file` (models/), read and reset with the angles given.
inline std::unique_ptr<LoadedModel> load_model(const std::string& file, double p0 = 0,
                                               double p1 = 0, double p2 = 0) {
  auto m = std::make_unique<LoadedModel>();
  const Status s =
      read_model_definition_file(std::string(FENNICK_MODELS_DIR) + file,
                                 {m->model.get(), m->marks.get(), &m->params}, &m->definition);
  EXPECT_TRUE(s.ok()) << s.message();
  m->params.v[0] = p0;
  m->params.v[1] = p1;
  m->params.v[2] = p2;
  EXPECT_EQ(reset_model_parameters(*m->model, *m->marks, m->control, 1, 0, m->params, 0),
            kFennickOk)
      << fennick_last_message();
  return m;
}

// Puts the model of `m` at a pose, and at a shape when one is given.
inline void place(LoadedModel& m, const Pose& pose, const Shape* shape = nullptr) {
  Body body;
  ASSERT_TRUE(Body::build(*m.model, &body).ok());
  ModelState s;
  load_state(*m.model, body, &s);
  s.pose = pose;
  if (shape) s.shape = *shape;
  store_state(s, m.model.get());
}

}  // namespace velmora::fennick::testing
