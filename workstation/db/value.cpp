// Value conversions of the database layer (see value.h).
//
// Every number read from or written as text goes through number_text.h, so
// the conversions do not follow the process's locale: the window runs under
// the operator's, and a comma decimal mark there must not turn 0.5 into
// "0,5" in a text column or make "0.5" read as 0.
#include "workstation/db/value.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <optional>

#include "workstation/common/number_text.h"

namespace velmora::db {

namespace {

// A number as a value holds it: integers and finite reals as they are, text
// when the whole of it (blanks around allowed) is a decimal number.
bool numeric_value(const Value& v, double* out) {
  if (auto p = std::get_if<int64_t>(&v)) {
    *out = static_cast<double>(*p);
    return true;
  }
  if (auto p = std::get_if<double>(&v)) {
    *out = *p;
    return std::isfinite(*p);
  }
  if (auto p = std::get_if<std::string>(&v)) {
    const std::optional<double> d = real_from_text(*p);
    if (!d) return false;
    *out = *d;
    return true;
  }
  return false;
}

bool is_date_text(const std::string& t) {
  auto digits = [&](size_t at, size_t n) {
    if (at + n > t.size()) return false;
    for (size_t i = at; i < at + n; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    return true;
  };
  if (!(digits(0, 4) && t.size() >= 10 && t[4] == '-' && digits(5, 2) && t[7] == '-' &&
        digits(8, 2))) {
    return false;
  }
  if (t.size() == 10) return true;
  if (!(t.size() >= 16 && t[10] == ' ' && digits(11, 2) && t[13] == ':' && digits(14, 2))) {
    return false;
  }
  if (t.size() == 16) return true;
  return t.size() == 19 && t[16] == ':' && digits(17, 2);
}

}  // namespace

float to_single_precision(double v) {
  constexpr double kLargest = std::numeric_limits<float>::max();
  if (v > kLargest) return std::numeric_limits<float>::max();
  if (v < -kLargest) return -std::numeric_limits<float>::max();
  return static_cast<float>(v);
}

bool is_null(const Value& v) {
  return std::holds_alternative<std::monostate>(v);
}

int64_t as_integer(const Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  if (auto p = std::get_if<double>(&v)) {
    // Round half to even, as the workstation's own conversions do; values
    // beyond the 64-bit range saturate instead of being undefined.
    double r = std::nearbyint(*p);
    if (std::isnan(r)) return 0;
    if (r >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (r <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
  }
  if (auto p = std::get_if<std::string>(&v)) {
    // Whole digits first, so that integers beyond 2^53 keep every digit.
    if (const std::optional<int64_t> i = whole_from_text<int64_t>(*p)) return *i;
    if (const std::optional<double> d = real_from_text(*p)) return as_integer(Value(*d));
    return 0;
  }
  return 0;
}

double as_double(const Value& v) {
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto p = std::get_if<std::string>(&v)) return real_from_text(*p).value_or(0.0);
  return 0.0;
}

std::string as_text(const Value& v) {
  if (auto p = std::get_if<std::string>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return std::to_string(*p);
  if (auto p = std::get_if<double>(&v)) return real_to_text(*p);
  return "";
}

Status convert_parameter(const std::string& param, ParamType type, const Value& v, Value* out) {
  if (is_null(v) || type == ParamType::kAny) {
    *out = v;
    return Status::Ok();
  }
  auto refuse = [&](const std::string& expected) {
    return Status::InvalidArgument("parameter " + param + " expects " + expected + ", not '" +
                                   as_text(v) + "'.");
  };
  double d = 0;
  switch (type) {
    case ParamType::kString:
      *out = as_text(v);
      return Status::Ok();
    case ParamType::kLong:
    case ParamType::kByte: {
      if (!numeric_value(v, &d)) return refuse("a whole number");
      double r = std::nearbyint(d);
      double lo = type == ParamType::kByte ? 0.0 : -2147483648.0;
      double hi = type == ParamType::kByte ? 255.0 : 2147483647.0;
      if (r < lo || r > hi) {
        return refuse(type == ParamType::kByte ? "a whole number from 0 to 255"
                                               : "a 32-bit whole number");
      }
      *out = static_cast<int64_t>(r);
      return Status::Ok();
    }
    case ParamType::kSingle:
      if (!numeric_value(v, &d) || std::fabs(d) > std::numeric_limits<float>::max()) {
        return refuse("a single-precision number");
      }
      *out = static_cast<double>(static_cast<float>(d));
      return Status::Ok();
    case ParamType::kDouble:
      if (!numeric_value(v, &d)) return refuse("a number");
      *out = d;
      return Status::Ok();
    case ParamType::kLogical: {
      if (auto p = std::get_if<std::string>(&v)) {
        if (equal_nocase(*p, "true")) {
          *out = int64_t{1};
          return Status::Ok();
        }
        if (equal_nocase(*p, "false")) {
          *out = int64_t{0};
          return Status::Ok();
        }
      }
      if (!numeric_value(v, &d)) return refuse("true or false");
      *out = int64_t{d != 0.0 ? 1 : 0};
      return Status::Ok();
    }
    case ParamType::kDate: {
      auto p = std::get_if<std::string>(&v);
      if (p == nullptr || !is_date_text(*p)) {
        return refuse("a date written YYYY-MM-DD HH:MM:SS");
      }
      *out = *p;
      return Status::Ok();
    }
    case ParamType::kAny:
      break;
  }
  *out = v;
  return Status::Ok();
}

bool equal_nocase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace velmora::db
