// Sample fits for the tests of the fit and blank files and of Retrieve.
#pragma once

#include "libs/fennick/fennick_records.h"
#include "workstation/model/fit_file.h"

namespace velmora::model {

// Marks of a 300 x 200 work picture: tail base (10, 100) left of the sternum
// (250, 90), points 2 to 4 placed, the others not; 3 midline, 12 top and 9
// bottom points; every value distinct, so that a field read from the wrong
// place shows.
inline fennick::MarkedPoints sample_marks() {
  fennick::MarkedPoints m{};
  const int placed[][2] = {{10, 100}, {250, 90}, {60, 40}, {120, 160}, {201, 33}};
  for (int i = 0; i < 5; ++i) {
    m.special[2 * i] = placed[i][0];
    m.special[2 * i + 1] = placed[i][1];
    m.placed[i] = 1;
  }
  m.midline.count = 3;
  m.top.count = 12;
  m.bottom.count = 9;
  for (int k = 0; k < 100; ++k) {
    m.midline.x[k] = 20 + 7 * k;
    m.midline.y[k] = 101 + k % 5;
    m.top.x[k] = 15 + 20 * k;
    m.top.y[k] = 30 + k % 7;
    m.bottom.x[k] = 13 + 25 * k;
    m.bottom.y[k] = 170 - k % 11;
  }
  for (int i = 0; i < 11; ++i) m.weights[i] = 500 + 125 * i;
  const int trailing[] = {1000, 1000, 1000, 640, 1000};
  for (int i = 0; i < 5; ++i) m.trailing[i] = trailing[i];
  return m;
}

inline CropRecord sample_crop() {
  CropRecord c;
  c.destination_width = 300;
  c.destination_height = 200;
  c.source_x = 412;
  c.source_y = 230;
  c.source_width = 1500;
  c.source_height = 1000;
  c.width_limited = -1;
  return c;
}

inline PickedPoints sample_picks() {
  return {412.5, 388.25, -1.125, 0.75};
}

}  // namespace velmora::model
