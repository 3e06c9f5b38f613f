// The fitting window's picture sizes and its extract preview, as plain
// numbers the window only has to show.
//
// Sizes: the crop picture and the work picture share one 3:2 box scaled to
// the screen the window opens on, so the same marks land on the same pelt
// whatever the screen. Preview: the 256 x 256 extract drawn the way an
// operator reads it; lateral extracts with their rows across the preview,
// the others turned a quarter, and a brush on the preview marks the extract
// pixels under it blank at OK.
#pragma once

#include <cstdint>
#include <vector>

#include "workstation/extract/shared_extract.h"

namespace velmora::model {

struct PictureSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// The work picture's design size, in twips (15 to a pixel at the design's
// 96 dots per inch): 720 x 480 pixels.
inline constexpr int kDesignPictureWidthTwips = 10800;
inline constexpr int kDesignPictureHeightTwips = 7200;

// The crop and work pictures' size in pixels on a screen of the size given
// in pixels: a screen wider than 3:2 scales the design height by
// screen height / 11520 twips, a narrower one the design width by
// screen width / 16000 twips, and the other side follows at 3:2. Screens
// too small for a picture give at least 3 x 2.
PictureSize work_picture_size(int screen_width, int screen_height);

// The extract pixel (row, column), both 1..256, that preview pixel (x, y),
// both 1..256, shows: (x, y) for lateral cell types, (y, 257 - x) for the
// others.
void preview_to_extract(int x, int y, bool lateral, int* row, int* column);

// The preview's grey levels, 256 x 256 row-major from its top-left pixel:
// each the intensity of the extract pixel it shows, rounded halves to even
// and clamped to 0..255.
std::vector<std::uint8_t> preview_grey(const extract::SharedExtract& extract, bool lateral);

// OK's reading of the brush on the preview: every preview pixel painted
// (row-major like preview_grey, 65536 entries) marks the extract pixel it
// shows blank and gives it the mean grey. Returns how many pixels it
// blanked that were not blank before.
int blank_painted_preview(const std::vector<bool>& painted, bool lateral, double mean_grey,
                          extract::SharedExtract* extract);

}  // namespace velmora::model
