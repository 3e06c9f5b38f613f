// The key file: the key points of one extract as text, written by the
// key-point generator (velmora-keys) as "anim.key" and kept in the data
// folder as SiftLib/<cell>; read by the key-point comparison.
//
//   412 128                            the number of keys, the descriptor length
//   103.25 87.5 2.0312 -1.4708         per key: row, column, scale, orientation
//   0 0 12 ... (20 values)             then its 128 descriptor values 0..255 over
//   ... five more lines of 20 values   seven lines: six of 20 and one of 8
//   ... (8 values)
//
// Numbers are separated by blanks (spaces or tabs); lines end in "\n" or
// "\r\n". The reader is strict, since a damaged key file would otherwise
// give an extract silently fewer or wrong keys: every line must hold exactly
// the numbers the layout puts there, descriptor values are whole numbers
// 0..255, locations finite reals that fit a float, scales positive; after the
// last key only blank lines may follow. A file announcing more than kMaxKeys
// keys is read as its first kMaxKeys (the rest is not looked at). Every
// refusal names the file and the line.
#pragma once

#include <string>
#include <string_view>

#include "libs/bristane/key_list.h"
#include "workstation/common/status.h"

namespace velmora::bristane {

// Largest key file read: 1000 keys take about 500 kB; a file many times
// that size is not a key file.
inline constexpr std::size_t kMaxKeyFileBytes = 32u << 20;

// Reads key text; `label` (the file's path) starts every message. *keys is
// left empty on failure.
Status parse_key_text(std::string_view text, const std::string& label, KeyList* keys);

// Reads the key file at `path`. NotFound when it does not exist, IOError
// when it cannot be read, Corruption when it is not a key file.
Status read_key_file(const std::string& path, KeyList* keys);

// The text of `keys` in the layout above (the count written is the number
// of keys held, not `announced`). Locations are written as the shortest
// text that reads back as the same float.
std::string key_file_text(const KeyList& keys);

}  // namespace velmora::bristane
