// Reading the run file and the list files (see run_file.h).
#include "compare/run_file.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>

#include "compare/line_reader.h"

namespace tarvik {
namespace {

// Up to four reals scanned as "%f%f%f%f"; the scan stops at the first text
// that is not a number and the rest stay 0.
void scan_floats(const std::string& line, float out[4]) {
  const char* p = line.c_str();
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    const float v = std::strtof(p, &end);
    if (end == p) return;
    out[i] = v;
    p = end;
  }
}

double scan_double(const std::string& line) {
  return std::strtod(line.c_str(), nullptr);  // 0 when there is no number
}

int scan_int(const std::string& line) {
  const long long v = std::strtoll(line.c_str(), nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

}  // namespace

bool read_run_file(const std::string& path, RunFile& run) {
  FileSource in(path);
  if (!in.is_open()) return false;
  run = RunFile();
  float* four[8] = {run.row_model.a, run.row_model.b, run.row_model.c, run.col_model.a,
                    run.col_model.b, run.col_model.c, run.row_tol,     run.col_tol};
  std::string line;
  for (float* values : four) {
    if (!next_data_line(in, line)) return true;
    scan_floats(line, values);
  }
  if (!next_data_line(in, line)) return true;
  run.threshold = scan_double(line);
  if (!next_data_line(in, line)) return true;
  run.peaks_per_subcell = scan_int(line);
  if (!next_data_line(in, line)) return true;
  run.margin = scan_int(line);
  return true;
}

PassSettings pass_settings(const RunFile& run) {
  PassSettings settings;
  settings.row_model = run.row_model;
  settings.col_model = run.col_model;
  std::copy(std::begin(run.row_tol), std::end(run.row_tol), settings.row_tol.begin());
  std::copy(std::begin(run.col_tol), std::end(run.col_tol), settings.col_tol.begin());
  settings.threshold = run.threshold;
  settings.peaks_per_subcell = run.peaks_per_subcell;
  settings.margin = run.margin;
  return settings;
}

bool read_file_list(const std::string& path, FileList& list) {
  FileSource in(path);
  if (!in.is_open()) return false;
  list.names.clear();
  std::string line;
  while (next_data_line(in, line)) list.names.push_back(line);
  return true;
}

}  // namespace tarvik
