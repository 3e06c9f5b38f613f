// The key-point generator's work, without its program: the key input
// "anim.pgm" read back, and the key points of a grey picture.
//
// The save step writes the extract's work image as "anim.pgm" (a binary
// grey map "P5 256 256 255 " and 65536 bytes, row by row) and runs the
// generator (velmora-keys, key_points_main.cpp) in the working folder; the
// generator writes "anim.key" (libs/bristane/key_file.h), which the save
// step moves to SiftLib/<cell>.
//
// Key points are scale-invariant feature points: extrema of a
// difference-of-Gaussians pyramid, each with the dominant gradient
// direction of its neighbourhood and a 128-value histogram of gradients
// around it. Locations are in pixels from the top left corner (0-based,
// sub-pixel), the scale is the key's Gaussian sigma in pixels, the
// orientation in radians in (-pi, pi], measured from the column axis
// towards the row axis. Keys are listed strongest first, so that the cut of
// a long list to its first 1000 keys keeps the best ones.
//
// The picture library stays inside key_points.cpp: this header takes and
// gives plain buffers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "libs/bristane/key_list.h"
#include "workstation/common/status.h"

namespace velmora::extract {

struct GreyPicture {
  int rows = 0, columns = 0;
  std::vector<std::uint8_t> pixels;  // row by row
};

// A binary grey map ("P5", blanks between the header's fields, largest
// value 255, exactly rows x columns bytes after the one blank that ends the
// header), or a raw extract image (a file whose name ends in ".raw" and
// that holds 65536 bytes: 256 x 256). Fails naming the file.
Status read_key_input(const std::string& path, GreyPicture* picture);

// The key points of `picture` (at least 16 x 16 pixels).
Status make_key_points(const GreyPicture& picture, bristane::KeyList* keys);

}  // namespace velmora::extract
