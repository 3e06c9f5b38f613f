// tarvikx's entry logic (see tarvikx.h). Arguments are used whole whatever
// their length.
#include "compare/tarvikx.h"

#include <cstdlib>

#include <filesystem>

#include "compare/compare_pass.h"
#include "compare/run_file.h"
#include "compare/vector_path.h"

namespace tarvik {
namespace {

constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

void with_separator(std::string& dir) {
  if (dir.empty() || dir.back() != kSeparator) dir.push_back(kSeparator);
}

void print(std::FILE* console, const char* format, const std::string& text) {
  std::fprintf(console, format, text.c_str());
}

}  // namespace

int tarvikx_main(const std::vector<std::string>& args, std::FILE* console) {
  std::string value[7] = {std::string("pending") + kSeparator,
                          "pending.txt",
                          std::string("library") + kSeparator,
                          "library.txt",
                          "testresults.txt",
                          "tarvik.ini",
                          "true"};
  const std::size_t given = args.empty() ? 0 : args.size() - 1;
  for (std::size_t i = 0; i < given && i < 7; ++i) value[i] = args[i + 1];
  with_separator(value[0]);
  with_separator(value[2]);
  if (given >= 1) print(console, "pend_dir='%s'\n", value[0]);
  if (given >= 2) print(console, "pend_files='%s'\n", value[1]);

  RunFile run;
  if (!read_run_file(value[5], run)) {
    print(console, "Can't open ini file '%s'\n", value[5]);
    std::fputs(kUsage, console);
    return kExitCannotOpenInput;
  }
  FileList pending{value[0], {}};
  if (!read_file_list(value[1], pending)) {
    print(console, "Can't open list of pending files '%s'\n", value[1]);
    std::fputs(kUsage, console);
    return kExitCannotOpenInput;
  }
  FileList library{value[2], {}};
  if (!read_file_list(value[3], library)) {
    print(console, "Can't open list of library files '%s'\n", value[3]);
    std::fputs(kUsage, console);
    return kExitCannotOpenInput;
  }

  const char* path = std::getenv(kVectorPathVariable);
  if (path != nullptr && std::string(path) == "baseline") {
    set_default_vector_path(VectorPath::kBaseline);
  }

  PassSettings settings = pass_settings(run);
  settings.results_path = value[4];
  // How far the run is, for the program that started it and asked for it:
  // one console line "progress <pass> <passes> <done> <total>" whenever the
  // whole percent of a pass changes.
  const int passes = value[6] == "true" ? 3 : 2;
  int pass_no = 0;
  int last_percent = -1;
  PassOptions options;
  const char* wanted = std::getenv(kProgressVariable);
  if (wanted != nullptr && std::string(wanted) == "1") {
    options.progress = [&](std::size_t done, std::size_t total) {
      const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
      if (percent == last_percent) return;
      last_percent = percent;
      std::fprintf(console, "progress %d %d %zu %zu\n", pass_no, passes, done, total);
      std::fflush(console);
    };
  }
  // True when the pass's results reached the file. A failure is named on the
  // console and ends the run: the next pass would meet the same full disk or
  // missing folder, and its caller must see that results are missing.
  auto pass = [&](const FileList& first, const FileList& second, const char* first_label,
                  const char* second_label) {
    settings.first_label = first_label;
    settings.second_label = second_label;
    ++pass_no;
    last_percent = -1;
    const PassOutcome outcome = run_comparison_pass(first, second, settings, options);
    if (!outcome.written()) {
      std::fputs(results_failure_message(settings.results_path, outcome).c_str(), console);
    }
    return outcome.written();
  };
  const bool written = (value[6] != "true" || pass(pending, pending, "pending", "pending")) &&
                       pass(pending, library, "pending", "library") &&
                       pass(library, pending, "library", "pending");
  std::fflush(console);
  return written ? kExitDone : kExitResultsNotWritten;
}

}  // namespace tarvik
