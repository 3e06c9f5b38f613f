// velmora-keys: the key-point generator the save step runs in the working
// folder (see key_points.h).
//
//   velmora-keys [INPUT [OUTPUT]]     defaults: anim.pgm, anim.key
//
// The key file is written whole or not at all. Exit status 0 when it was
// written, 1 when the input could not be read or the file written, 2 for a
// wrong command line.
#include <iostream>
#include <string>

#include "libs/bristane/key_file.h"
#include "workstation/common/atomic_file.h"
#include "workstation/extract/key_points.h"

int main(int argc, char** argv) {
  using namespace velmora;
  if (argc > 3 ||
      (argc > 1 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
    std::cerr << "usage: velmora-keys [INPUT [OUTPUT]]\n"
                 "Writes the key points of INPUT (a binary grey map, default anim.pgm, or a\n"
                 "256 x 256 .raw extract image) to the key file OUTPUT (default anim.key).\n";
    return argc > 3 ? 2 : 0;
  }
  const std::string input = argc > 1 ? argv[1] : "anim.pgm";
  const std::string output = argc > 2 ? argv[2] : "anim.key";
  extract::GreyPicture picture;
  bristane::KeyList keys;
  Status s = extract::read_key_input(input, &picture);
  if (s.ok()) s = extract::make_key_points(picture, &keys);
  if (s.ok()) s = write_file_atomically(output, bristane::key_file_text(keys));
  if (!s.ok()) {
    std::cerr << "velmora-keys: " << s.message() << "\n";
    return 1;
  }
  return 0;
}
