// Field and parameter values of the database layer and their conversions.
//
// A Value is what the engine holds in a field: NULL, integer, real or text.
// Reading a field as a number or as text, and converting a value to a
// statement parameter's declared type, happen here, through the workstation's
// locale-free number text (workstation/common/number_text.h): a real is
// stored and shown as "0.5" and text "0.5" reads as 0.5 whatever locale the
// window runs under.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "workstation/common/status.h"

namespace velmora::db {

// A field value as the engine holds it: NULL, integer, real or text.
using Value = std::variant<std::monostate, int64_t, double, std::string>;

bool is_null(const Value& v);
// Conversions used when reading fields: NULL gives 0 / "". Text gives the
// number it holds as a whole (blanks around it allowed, see number_text.h),
// or 0 when it holds none ("12abc", "inf"). A real becomes an integer by
// rounding half to even, saturating beyond the 64-bit range.
int64_t as_integer(const Value& v);
double as_double(const Value& v);
// Text of a value: integers in decimal, reals in the shortest text that reads
// back as the same double ("0.1", "1e+21").
std::string as_text(const Value& v);

// `v` rounded to the nearest single-precision number, for the scores the
// workstation keeps in single precision. A number beyond the largest single,
// and an infinity, becomes the largest single of its sign: a plain conversion
// would overflow to infinity (undefined in C++, and a text "inf" that a REAL
// column refuses). NaN stays NaN.
float to_single_precision(double v);

// Declared type of a statement parameter. A value set on a typed parameter is
// converted to that type first, or refused with a message when it does not
// convert ("abc" for a double, 300 for a byte), so that a wrong value never
// reaches the tables silently.
//   kString  text; numbers become their decimal text
//   kLong    32-bit integer (reals round half to even)
//   kSingle  number rounded to 32-bit float precision
//   kDouble  64-bit real
//   kByte    integer 0 to 255
//   kLogical 1 (true: non-zero, "True") or 0 (false: 0, "False")
//   kDate    text "YYYY-MM-DD", optionally followed by " HH:MM" or " HH:MM:SS"
// NULL stays NULL for every type.
enum class ParamType { kAny, kString, kLong, kSingle, kDouble, kByte, kLogical, kDate };

// Converts `v` to `type` as set() does; the failure message names `param`.
Status convert_parameter(const std::string& param, ParamType type, const Value& v, Value* out);

// True when a and b are equal but for ASCII letter case, as the engine
// compares names of columns and parameters.
bool equal_nocase(const std::string& a, const std::string& b);

}  // namespace velmora::db
