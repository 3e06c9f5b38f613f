// The tarvikx program: arguments, run and list files, the three passes.
//
//   tarvikx [pending_dir [file_of_pending_filenames [library_dir
//           [file_of_library_filenames [results_filename [ini_filename
//           [switch]]]]]]]
//
// Defaults "pending/", "pending.txt", "library/", "library.txt",
// "testresults.txt", "tarvik.ini", "true" (the directories end in the
// platform's separator, which is appended when missing). Passes: pending with
// pending (only when the switch is exactly "true"), pending with library,
// library with pending. Exit codes:
//   0  after the passes
//   1  the run file or a list file cannot be opened (after the message and
//      the usage text)
//   3  the results file could not be opened, written, flushed or closed
//      (after a console line naming it and the system's reason); the pass
//      that met the failure ended there and no later pass was run, so
//      results are missing
// When the environment variable TARVIKX_PROGRESS is "1", the console gets,
// while the passes run, a line "progress <pass> <passes> <done> <total>"
// (pass counted from 1 in this run, rounds of first-list batches times
// second names) whenever the whole percent of a pass changes, so that the
// program that started tarvikx can show how far it is. Without it the
// console holds only the lines above.
// When TARVIKX_VECTOR_PATH is "baseline", the passes run on the baseline
// code path even where the processor has AVX2 (vector_path.h): the results
// are the same byte for byte, only slower; it is there to show that.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarvik {

inline constexpr int kExitDone = 0;
inline constexpr int kExitCannotOpenInput = 1;
inline constexpr int kExitResultsNotWritten = 3;
inline constexpr const char* kProgressVariable = "TARVIKX_PROGRESS";
inline constexpr const char* kVectorPathVariable = "TARVIKX_VECTOR_PATH";

inline constexpr char kUsage[] =
    "Usage: tarvikx  pending_dir file_of_pending_filenames  library_dir "
    "file_of_library_filenames {results_filename} {ini_filename}\n";

// Runs the program on args (args[0] is the program name); console text goes
// to console. Returns the exit code.
int tarvikx_main(const std::vector<std::string>& args, std::FILE* console);

}  // namespace tarvik
