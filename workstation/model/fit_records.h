// The two small records a fit keeps besides the marks: how the photograph
// was cropped onto the work picture, and the surface points picked after an
// extraction. The fitting session fills them; the fit file stores them.
#pragma once

#include <cstdint>

namespace velmora::model {

// The crop of the photograph onto the work picture (nine int16 in the fit
// file, in this order).
struct CropRecord {
  std::int16_t destination_x = 0;
  std::int16_t destination_y = 0;
  std::int16_t destination_width = 0;  // the work picture's size
  std::int16_t destination_height = 0;
  std::int16_t source_x = 0;  // photograph pixels
  std::int16_t source_y = 0;
  std::int16_t source_width = 0;
  std::int16_t source_height = 0;
  std::int16_t width_limited = 0;  // -1 when the crop's width was kept, else 0
  friend bool operator==(const CropRecord&, const CropRecord&) = default;
};

// The surface points picked after an extraction; zero until picked.
struct PickedPoints {
  double y1 = 0.0;
  double y2 = 0.0;
  double theta1 = 0.0;
  double theta2 = 0.0;
  friend bool operator==(const PickedPoints&, const PickedPoints&) = default;
};

}  // namespace velmora::model
