// Reader of the model definition file (format in model_file.h).
//
// The file is split into its lines once; a cursor then hands out either the
// next data line (comments skipped, tokens split) or the next line as it
// comes. Everything is written into copies of the three records, which
// replace the caller's only when the whole file has been read.
#include "libs/fennick/model_file.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <optional>

#include "workstation/common/number_text.h"

namespace velmora::fennick {
namespace {

// Lines as the workstation's line reader cuts them: up to a CR or a zero
// byte, the byte after it dropped; at the end, what is left.
std::vector<std::string_view> split_lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\0') ++end;
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end < bytes.size() ? end + 2 : end;
  }
  return lines;
}

// The text of a line or token for a message: at most 40 characters, bytes
// that are not printable written as \xNN.
std::string shown(std::string_view text) {
  std::string out;
  const std::size_t limit = 40;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

// Tokens of a data or knot line: bracketed spans removed, split at single
// spaces, empty tokens and leftovers of brackets dropped.
std::vector<std::string> data_tokens(std::string_view line) {
  std::string text(line);
  for (std::size_t open = text.find('['); open != std::string::npos; open = text.find('[')) {
    const std::size_t close = text.find(']', open);
    if (close == std::string::npos) break;
    text.erase(open, close - open + 1);
  }
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string token = text.substr(pos, end - pos);
    if (!token.empty() && token.front() != '[' && token.back() != ']')
      tokens.push_back(std::move(token));
    pos = end + 1;
  }
  return tokens;
}

std::vector<std::string> split_commas(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (true) {
    const std::size_t end = line.find(',', pos);
    fields.emplace_back(line.substr(pos, end == std::string_view::npos ? end : end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return fields;
}

class Reader {
 public:
  Reader(std::string_view bytes, const std::string& file)
      : lines_(split_lines(bytes)), file_(file) {}

  // The next data line's tokens; false at the end of the file.
  bool next_data_line(std::vector<std::string>* tokens) {
    while (next_ < lines_.size()) {
      const std::string_view line = lines_[next_++];
      if (line.empty() || line.front() == '@') continue;
      *tokens = data_tokens(line);
      if (!tokens->empty()) return true;
    }
    return false;
  }

  // The next line as it comes; false at the end of the file.
  bool next_line(std::string_view* line) {
    if (next_ >= lines_.size()) return false;
    *line = lines_[next_++];
    return true;
  }

  Status error(const std::string& what) const {
    return Status::Corruption(file_ + " line " + std::to_string(next_) + ": " + what);
  }
  Status ended(const std::string& expected) const {
    return Status::Corruption(file_ + ": the file ends after line " +
                              std::to_string(lines_.size()) + ", expected " + expected);
  }
  Status bad_token(const std::string& expected, std::string_view token) const {
    return error("expected " + expected + ", found '" + shown(token) + "'");
  }

  // A line feed left inside a line was not preceded by a CR: the file's
  // lines end in LF alone, and read as the format says it would be one long
  // line (even one long comment), so it is refused at once.
  Status check_line_ends() const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
      if (lines_[i].find('\n') != std::string_view::npos)
        return Status::Corruption(file_ + " line " + std::to_string(i + 1) +
                                  ": a line feed without a carriage return" +
                                  " (lines of a model definition file end in CR LF)");
    return Status::Ok();
  }

 private:
  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;
  std::string file_;
};

std::string count_text(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Reads the whole file into the copies; the caller commits them.
class DefinitionParser {
 public:
  DefinitionParser(std::string_view bytes, const std::string& file, ModelRecord* model,
                   MarkedPoints* marks, FitParams* params, ModelDefinition* definition)
      : in_(bytes, file), model_(model), marks_(marks), params_(params), def_(definition) {}

  Status parse() {
    if (Status s = in_.check_line_ends(); !s.ok()) return s;
    std::vector<std::string> t;
    if (!in_.next_data_line(&t)) return Status::Ok();  // empty: nothing changes
    def_->empty = false;
    if (Status s = kind(t); !s.ok()) return s;
    if (Status s = range(&def_->range1, "range 1"); !s.ok()) return s;
    if (Status s = range(&def_->range2, "range 2"); !s.ok()) return s;
    if (Status s = profile(); !s.ok()) return s;
    if (Status s = knots(); !s.ok()) return s;
    if (Status s = table(); !s.ok()) return s;
    if (Status s = group1_values(); !s.ok()) return s;
    if (Status s = special_points(); !s.ok()) return s;
    if (in_.next_data_line(&t))
      return in_.error("expected nothing after the last special point, found '" + shown(t.front()) +
                       "'");
    return Status::Ok();
  }

 private:
  Status data_line(std::vector<std::string>* t, const std::string& expected) {
    if (!in_.next_data_line(t)) return in_.ended(expected);
    return Status::Ok();
  }

  Status count_of(const std::vector<std::string>& t, std::size_t want,
                  const std::string& expected) const {
    if (t.size() == want) return Status::Ok();
    return in_.error("expected " + expected + ", found " + count_text(t.size(), "value", "values"));
  }

  Status whole(std::string_view token, const std::string& what, int32_t low, int32_t high,
               int32_t* out) const {
    const auto v = whole_from_text<int32_t>(token, Blanks::kRefuse);
    if (!v) return in_.bad_token(what + " (a whole number)", token);
    if (*v < low || *v > high)
      return in_.error(what + " is " + std::to_string(*v) + ", expected " + std::to_string(low) +
                       " to " + std::to_string(high));
    *out = *v;
    return Status::Ok();
  }

  Status real(std::string_view token, const std::string& what, Blanks blanks, double* out) const {
    const auto v = real_from_text(token, blanks);
    if (!v) return in_.bad_token(what + " (a number)", token);
    *out = *v;
    return Status::Ok();
  }

  Status kind(const std::vector<std::string>& t) {
    if (Status s = count_of(t, 1, "the model kind (one whole number)"); !s.ok()) return s;
    return whole(t[0], "the model kind", INT32_MIN, INT32_MAX, &def_->kind);
  }

  Status range(SurfaceRange* r, const std::string& what) {
    std::vector<std::string> t;
    const std::string expected = what + " (Y from, Y to, theta from, theta to in degrees)";
    if (Status s = data_line(&t, expected); !s.ok()) return s;
    if (Status s = count_of(t, 4, "4 numbers for " + expected); !s.ok()) return s;
    double v[4];
    static const char* kNames[] = {"Y from", "Y to", "theta from", "theta to"};
    for (int i = 0; i < 4; ++i)
      if (Status s = real(t[i], what + " " + kNames[i], Blanks::kRefuse, &v[i]); !s.ok()) return s;
    const double to_radians = std::numbers::pi / 180.0;
    *r = SurfaceRange{v[0], v[1], v[2] * to_radians, v[3] * to_radians};
    return Status::Ok();
  }

  Status profile() {
    std::vector<std::string> t;
    const std::string expected = "the profile's row count and values per row (n m)";
    if (Status s = data_line(&t, expected); !s.ok()) return s;
    if (Status s = count_of(t, 2, "2 whole numbers for " + expected); !s.ok()) return s;
    if (Status s = whole(t[0], "the profile's row count", 2, kMaxProfileRows, &rows_); !s.ok())
      return s;
    int32_t m = 0;
    if (Status s = whole(t[1], "the values per profile row", 1, kMaxProfileValues, &m); !s.ok())
      return s;
    for (int e = 0; e < rows_; ++e) {
      const std::string what = "profile row " + std::to_string(e + 1) + " of " +
                               std::to_string(rows_) + " (position and " + std::to_string(m) +
                               " values separated by commas)";
      std::string_view line;
      if (!in_.next_line(&line)) return in_.ended(what);
      const auto fields = split_commas(line);
      if (fields.size() != static_cast<std::size_t>(m) + 1)
        return in_.error("expected " + what + ", found " +
                         count_text(fields.size(), "field", "fields"));
      double position = 0;
      if (Status s = real(fields[0], "the position of profile row " + std::to_string(e + 1),
                          Blanks::kTrim, &position);
          !s.ok())
        return s;
      if (e > 0 && !(position > model_->profile[e - 1].position))
        return in_.error("profile row " + std::to_string(e + 1) + " is at " + shown(fields[0]) +
                         ", expected a position beyond the row before");
      model_->profile[e].position = position;
      for (int i = 0; i < m; ++i) {
        double v = 0;
        if (Status s =
                real(fields[i + 1],
                     "value " + std::to_string(i + 1) + " of profile row " + std::to_string(e + 1),
                     Blanks::kTrim, &v);
            !s.ok())
          return s;
        model_->profile[e].values[i] = v;
      }
    }
    model_->row_count = rows_;
    model_->values_per_row = m;
    first_ = model_->profile[0].position;
    last_ = model_->profile[rows_ - 1].position;
    model_->first_position = first_;
    model_->last_position = last_;
    return Status::Ok();
  }

  // One knot line: count k, then k - 2 increasing percentages.
  Status knot_group(int g, const std::vector<std::string>& t) {
    const std::string group = "knot group " + std::to_string(g);
    if (t.empty()) return in_.error("expected the knot count of " + group + ", found nothing");
    int32_t k = 0;
    if (Status s = whole(t[0], "the knot count of " + group, 2, kMaxKnots, &k); !s.ok()) return s;
    if (t.size() != static_cast<std::size_t>(k) - 1)
      return in_.error("expected " + group + "'s count " + std::to_string(k) + " and " +
                       count_text(k - 2, "percentage", "percentages") + ", found " +
                       count_text(t.size() - 1, "percentage", "percentages"));
    KnotGroup& kg = model_->groups[g];
    kg.knots[0] = first_;
    double previous = 0;
    for (int i = 1; i <= k - 2; ++i) {
      double p = 0;
      if (Status s =
              real(t[i], "percentage " + std::to_string(i) + " of " + group, Blanks::kRefuse, &p);
          !s.ok())
        return s;
      if (!(p > previous && p < 100))
        return in_.error("percentage " + std::to_string(i) + " of " + group + " is " + shown(t[i]) +
                         ", expected more than " + real_to_text(previous) + " and less than 100");
      previous = p;
      kg.knots[2 * i] = first_ + p * 0.01 * (last_ - first_);
    }
    kg.knots[2 * (k - 1)] = last_;
    kg.count = k;
    return Status::Ok();
  }

  Status knots() {
    std::vector<std::string> t;
    if (Status s = data_line(&t, "the line of knot group 0"); !s.ok()) return s;
    if (Status s = knot_group(0, t); !s.ok()) return s;
    for (int g = 1; g < kKnotGroups; ++g) {
      std::string_view line;
      if (!in_.next_line(&line)) return in_.ended("the line of knot group " + std::to_string(g));
      if (Status s = knot_group(g, data_tokens(line)); !s.ok()) return s;
    }
    std::string_view ignored;
    if (!in_.next_line(&ignored)) return in_.ended("the line after the knot groups");
    return Status::Ok();
  }

  Status table() {
    std::vector<std::string> t;
    const std::string expected = "the table's row count and angle (q angle)";
    if (Status s = data_line(&t, expected); !s.ok()) return s;
    if (Status s = count_of(t, 2, "2 numbers for " + expected); !s.ok()) return s;
    int32_t q = 0;
    if (Status s = whole(t[0], "the table's row count", 1, kMaxTableRows, &q); !s.ok()) return s;
    double angle = 0;
    if (Status s = real(t[1], "the table's angle", Blanks::kRefuse, &angle); !s.ok()) return s;
    for (int i = 0; i < q; ++i) {
      std::string_view line;
      const std::string what = "table row " + std::to_string(i + 1) + " of " + std::to_string(q);
      if (!in_.next_line(&line)) return in_.ended(what + " (one number)");
      double v = 0;
      if (Status s = real(line, what, Blanks::kTrim, &v); !s.ok()) return s;
      model_->table[i][0] = v;
    }
    model_->table_count = q;
    model_->table_angle = angle * std::numbers::pi / 180.0;
    return Status::Ok();
  }

  Status group1_values() {
    const int k0 = model_->groups[0].count;
    const int k1 = model_->groups[1].count;
    std::vector<std::string> t;
    const std::string expected =
        "the " + count_text(k1 - 1, "starting value", "starting values") + " of knot group 1";
    if (Status s = data_line(&t, expected); !s.ok()) return s;
    if (Status s = count_of(t, static_cast<std::size_t>(k1) - 1, expected); !s.ok()) return s;
    for (int i = 0; i < k1 - 1; ++i) {
      double v = 0;
      if (Status s = real(t[i], "starting value " + std::to_string(i + 1) + " of knot group 1",
                          Blanks::kRefuse, &v);
          !s.ok())
        return s;
      params_->v[k0 + 6 + i] = v;
    }
    params_->v[5] = 1.0;
    return Status::Ok();
  }

  Status special_points() {
    std::vector<std::string> t;
    const std::string expected = "the number of special points";
    if (Status s = data_line(&t, expected); !s.ok()) return s;
    if (Status s = count_of(t, 1, expected + " (one whole number)"); !s.ok()) return s;
    int32_t count = 0;
    if (Status s = whole(t[0], expected, 0, kMaxSpecialPoints, &count); !s.ok()) return s;
    def_->special_names.clear();
    for (int i = 0; i < count; ++i) {
      const std::string point = "special point " + std::to_string(i);
      std::string_view name;
      if (!in_.next_line(&name)) return in_.ended("the name of " + point);
      if (name.empty()) return in_.error("expected the name of " + point + ", found an empty line");
      if (name.size() > static_cast<std::size_t>(kNameBytes))
        return in_.error("the name of " + point + " has " + std::to_string(name.size()) +
                         " characters, expected at most " + std::to_string(kNameBytes));
      std::string_view numbers;
      const std::string what = "Y, theta and weight of " + point;
      if (!in_.next_line(&numbers)) return in_.ended(what);
      const auto v = data_tokens(numbers);
      if (Status s = count_of(v, 3, "3 numbers, " + what); !s.ok()) return s;
      double y = 0, theta = 0, weight = 0;
      if (Status s = real(v[0], "Y of " + point, Blanks::kRefuse, &y); !s.ok()) return s;
      if (Status s = real(v[1], "theta of " + point, Blanks::kRefuse, &theta); !s.ok()) return s;
      if (Status s = real(v[2], "the weight of " + point, Blanks::kRefuse, &weight); !s.ok())
        return s;
      const double per_mille = std::nearbyint(weight * 1000.0);
      if (!(per_mille >= 0 && per_mille <= INT32_MAX))
        return in_.error("the weight of " + point + " is " + shown(v[2]) +
                         ", expected a number from 0 to 2147483");
      model_->special_y[i] = y;
      model_->special_theta[i] = theta;
      std::memset(model_->special_names[i], 0, kNameBytes);
      std::memcpy(model_->special_names[i], name.data(), name.size());
      marks_->weights[i] = static_cast<int32_t>(per_mille);
      def_->special_names.emplace_back(name);
    }
    model_->special_count = count;
    return Status::Ok();
  }

  Reader in_;
  ModelRecord* model_;
  MarkedPoints* marks_;
  FitParams* params_;
  ModelDefinition* def_;
  int32_t rows_ = 0;
  double first_ = 0;
  double last_ = 0;
};

}  // namespace

Status read_model_definition(std::string_view bytes, const std::string& file,
                             const ModelTargets& targets, ModelDefinition* definition) {
  if (!targets.model || !targets.marks || !targets.params || !definition)
    return Status::InvalidArgument("read_model_definition: a record is missing");
  // The model record is large; its copy lives on the heap.
  auto model = std::make_unique<ModelRecord>(*targets.model);
  MarkedPoints marks = *targets.marks;
  FitParams params = *targets.params;
  ModelDefinition read;
  DefinitionParser parser(bytes, file, model.get(), &marks, &params, &read);
  if (Status s = parser.parse(); !s.ok()) return s;
  if (read.empty) {
    *definition = ModelDefinition{};
    return Status::Ok();
  }
  *targets.model = *model;
  *targets.marks = marks;
  *targets.params = params;
  *definition = std::move(read);
  return Status::Ok();
}

Status read_model_definition_file(const std::filesystem::path& path, const ModelTargets& targets,
                                  ModelDefinition* definition) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError(path.string() + ": cannot open the model definition file");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Status::IOError(path.string() + ": cannot read the model definition file");
  return read_model_definition(bytes, path.string(), targets, definition);
}

std::string special_point_name(const ModelRecord& model, int i) {
  if (i < 0 || i >= kMaxSpecialPoints) return {};
  const char* name = model.special_names[i];
  return std::string(name, strnlen(name, kNameBytes));
}

}  // namespace velmora::fennick
