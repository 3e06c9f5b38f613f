// The key-file reader and writer (see key_file.h).
//
// A key file of 300 keys is about 150 kB and is read once per extract and
// batch of a comparison, so the reader walks the text once, line by line,
// with no allocation beyond the two output arrays. Descriptor values are
// parsed by hand (one to three digits each); locations go through the
// locale-free number reader, since the operator's locale may write a comma.
#include "libs/bristane/key_file.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "workstation/common/number_text.h"

namespace velmora::bristane {
namespace {

// The descriptor's seven lines: six of 20 values and one of 8.
constexpr int kDescriptorLineValues[] = {20, 20, 20, 20, 20, 20, 8};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  // The next line without its end; false at the end of the text.
  bool next(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    ++number_;
    const size_t end = text_.find('\n', pos_);
    ended_ = end != std::string_view::npos;
    const size_t stop = end == std::string_view::npos ? text_.size() : end;
    *line = text_.substr(pos_, stop - pos_);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    return true;
  }
  int number() const { return number_; }
  // Whether the last line read had its line end (a file cut short has not).
  bool ended() const { return ended_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  int number_ = 0;
  bool ended_ = false;
};

// Splits a line at blanks into at most `max` tokens; returns how many there
// were (max + 1 when there were more).
int tokens(std::string_view line, std::string_view* out, int max) {
  int n = 0;
  size_t i = 0;
  while (true) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) return n;
    const size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (n == max) return max + 1;
    out[n++] = line.substr(start, i - start);
  }
}

std::string quoted(std::string_view token) {
  return "\"" + std::string(token.substr(0, 40)) + "\"";
}

// A descriptor line: exactly `expected` values 0..255 appended to *out.
// Returns "" or what is wrong.
std::string descriptor_values(std::string_view line, int expected, std::uint8_t* out) {
  int n = 0;
  size_t i = 0;
  while (true) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) break;
    if (n == expected) return "more than " + std::to_string(expected) + " descriptor values";
    unsigned value = 0;
    const size_t start = i;
    while (i < line.size() && !is_blank(line[i])) {
      const char c = line[i];
      if (c < '0' || c > '9') {
        size_t end = i;
        while (end < line.size() && !is_blank(line[end])) ++end;
        return "descriptor value " + quoted(line.substr(start, end - start)) +
               " is not a whole number 0..255";
      }
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 255) return "descriptor value above 255";
      ++i;
    }
    out[n++] = static_cast<std::uint8_t>(value);
  }
  if (n != expected) {
    return std::to_string(n) + " descriptor values where " + std::to_string(expected) + " belong";
  }
  return "";
}

}  // namespace

Status parse_key_text(std::string_view text, const std::string& label, KeyList* keys) {
  *keys = KeyList{};
  Lines lines(text);
  auto fail = [&](const std::string& what) {
    *keys = KeyList{};
    return Status::Corruption(label + " line " + std::to_string(lines.number()) + ": " + what);
  };
  std::string_view line;
  if (!lines.next(&line)) return Status::Corruption(label + ": empty file, not a key file");
  // Every line of the layout ends in a line end: a file cut short inside
  // its last number would otherwise read as a different number.
  auto cut_short = [&] { return fail("the file ends inside this line (cut short?)"); };
  if (!lines.ended()) return cut_short();
  std::string_view head[2];
  if (tokens(line, head, 2) != 2) {
    return fail("the first line must hold the number of keys and the descriptor length 128");
  }
  const std::optional<int> count = whole_from_text<int>(head[0], Blanks::kRefuse);
  if (!count || *count < 0) return fail("the number of keys " + quoted(head[0]) + " is not valid");
  const std::optional<int> length = whole_from_text<int>(head[1], Blanks::kRefuse);
  if (!length || *length != kDescriptorLength) {
    return fail("descriptor length " + quoted(head[1]) + ", not 128");
  }
  const int used = std::min(*count, kMaxKeys);
  keys->announced = *count;
  keys->locations.resize(static_cast<size_t>(used) * kLocationValues);
  keys->descriptors.resize(static_cast<size_t>(used) * kDescriptorLength);

  for (int k = 0; k < used; ++k) {
    const std::string key = "key " + std::to_string(k + 1) + " of " + std::to_string(*count);
    if (!lines.next(&line)) return fail("the file ends before " + key);
    std::string_view loc[kLocationValues];
    if (tokens(line, loc, kLocationValues) != kLocationValues) {
      return fail(key + ": its location line must hold row, column, scale and orientation");
    }
    if (!lines.ended()) return cut_short();
    float* out = &keys->locations[static_cast<size_t>(k) * kLocationValues];
    for (int v = 0; v < kLocationValues; ++v) {
      const std::optional<double> x = real_from_text(loc[v], Blanks::kRefuse);
      if (!x || std::fabs(*x) > FLT_MAX) {
        return fail(key + ": " + quoted(loc[v]) + " is not a number that fits a float");
      }
      out[v] = static_cast<float>(*x);
    }
    if (!(out[2] > 0.0f)) return fail(key + ": its scale must be positive");
    std::uint8_t* d = &keys->descriptors[static_cast<size_t>(k) * kDescriptorLength];
    for (int values : kDescriptorLineValues) {
      if (!lines.next(&line)) return fail("the file ends inside the descriptor of " + key);
      const std::string problem = descriptor_values(line, values, d);
      if (!problem.empty()) return fail(key + ": " + problem);
      if (!lines.ended()) return cut_short();
      d += values;
    }
  }
  if (*count <= kMaxKeys) {
    while (lines.next(&line)) {
      for (char c : line) {
        if (!is_blank(c)) {
          return fail("text after the last of the " + std::to_string(*count) +
                      " keys the file announces");
        }
      }
    }
  }
  return Status::Ok();
}

Status read_key_file(const std::string& path, KeyList* keys) {
  *keys = KeyList{};
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return Status::NotFound(path + ": no key file");
  if (std::filesystem::is_directory(path, ec)) {
    return Status::IOError(path + ": a folder, not a key file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return Status::IOError(path + ": cannot open the key file (" + std::strerror(errno) + ")");
  }
  std::string text;
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxKeyFileBytes) {
      return Status::Corruption(path + ": larger than " + std::to_string(kMaxKeyFileBytes >> 20) +
                                " MB, not a key file");
    }
  }
  if (in.bad()) return Status::IOError(path + ": the key file cannot be read");
  return parse_key_text(text, path, keys);
}

std::string key_file_text(const KeyList& keys) {
  const int n = keys.count();
  std::string out;
  out.reserve(64 + static_cast<size_t>(n) * (48 + kDescriptorLength * 4));
  out += std::to_string(n) + " " + std::to_string(kDescriptorLength) + "\n";
  for (int k = 0; k < n; ++k) {
    const float* loc = &keys.locations[static_cast<size_t>(k) * kLocationValues];
    for (int v = 0; v < kLocationValues; ++v) {
      if (v > 0) out += ' ';
      out += single_to_text(loc[v]);
    }
    out += '\n';
    const std::uint8_t* d = &keys.descriptors[static_cast<size_t>(k) * kDescriptorLength];
    for (int values : kDescriptorLineValues) {
      for (int i = 0; i < values; ++i) {
        if (i > 0) out += ' ';
        out += std::to_string(d[i]);
      }
      out += '\n';
      d += values;
    }
  }
  return out;
}

}  // namespace velmora::bristane
