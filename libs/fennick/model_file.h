// The model definition file: the body model of one aspect as text, read into
// the ModelRecord, the special-point weights of MarkedPoints and the starting
// shape values of FitParams.
//
// The file is read in binary. A line ends at a carriage return or a zero
// byte, and the byte after that end is dropped (the line feed of CR LF); a
// file whose lines end in a line feed alone is one long line and is refused
// with a message that says so. Lines that begin with "@" and empty lines are
// comments; elsewhere "[...]" spans are comments, tokens are separated by
// single spaces. The data lines, in order:
//
//   kind                      one integer, kept
//   a1 b1 c1 d1               range 1: Y from a1 to b1, theta c1 to d1 degrees
//   a2 b2 c2 d2               range 2, the same way
//   n m                       then n lines "position,x1,...,xm" (profile rows)
//   k p1 .. p(k-2)            knot group 0: k knots, the inner ones at
//                             percentages of the profile's length; then the
//                             lines of groups 1, 2, 3 and one line ignored
//   q angle                   then q lines of one number (the table), angle
//                             in degrees
//   v1 .. v(k1-1)             starting values of knot group 1's free knots
//   s                         then per special point a name line and a line
//                             "Y theta weight"
//
// The lines that follow "n m", the knot group 0 line, "q angle" and "s" are
// taken as they come, without skipping comments. The reader is strict: every
// count within the record's capacity, every number a number, exactly the
// numbers a line should hold, row positions and knot percentages
// increasing, nothing after the last special point. A refusal names the
// file, the line and what was expected there, and leaves every record as it
// was. A file without any data line (a missing file the workstation created
// empty) is read as empty and changes nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "libs/fennick/fennick_records.h"
#include "workstation/common/status.h"

namespace velmora::fennick {

// A box on the body's surface: Y from y_from to y_to, theta (radians) from
// theta_from to theta_to.
struct SurfaceRange {
  double y_from = 0;
  double y_to = 0;
  double theta_from = 0;
  double theta_to = 0;
};

// What the file holds besides what goes into the records.
struct ModelDefinition {
  bool empty = true;  // no data line at all: nothing was changed
  int32_t kind = 0;
  SurfaceRange range1;
  SurfaceRange range2;
  // Each special point's name line whole, as the window's dots carry it; the
  // labels show it without its first and last characters.
  std::vector<std::string> special_names;
};

// The records a model definition file fills. None may be null.
struct ModelTargets {
  ModelRecord* model;
  MarkedPoints* marks;  // special-point weights
  FitParams* params;    // element 5 and the starting values of knot group 1
};

// Reads the file's bytes; `file` names it in messages. On success the
// records hold the file's values (fields the file does not set keep theirs)
// and `definition` the rest; on failure nothing is changed.
Status read_model_definition(std::string_view bytes, const std::string& file,
                             const ModelTargets& targets, ModelDefinition* definition);

// The same from a file on disk; a file that cannot be read is an IOError.
Status read_model_definition_file(const std::filesystem::path& path, const ModelTargets& targets,
                                  ModelDefinition* definition);

// Special point i's name as the ModelRecord holds it (up to 80 bytes).
std::string special_point_name(const ModelRecord& model, int i);

}  // namespace velmora::fennick
