// The command line of velmora-corpus, parsed apart from running it so that
// tests can check it without starting the program. The usage text (the
// --help output) lists the commands, their options and the defaults.
#pragma once

#include <ostream>
#include <string>

#include "tools/corpus/corpus_writer.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/library_stats.h"
#include "tools/corpus/synthetic_extract.h"
#include "tools/corpus/synthetic_photo.h"

namespace velmora::corpus {

extern const char kCorpusUsage[];

struct CorpusCommandLine {
  std::string command;            // "make", "rank", "data", "extracts", "photos", "stats" or
                                  // "candidates"
  std::string folder;             // DIR of make, rank, extracts and photos, DATA of data, stats
                                  // and candidates
  std::string results;            // rank: RESULTS, by default DIR/testresults.txt
  std::string database;           // stats, candidates: DATABASE, by default DATA/seals.sqlite
  CorpusOptions corpus;           // make
  DataFolderOptions data;         // data
  ExtractCorpusOptions extracts;  // extracts
  PhotoCorpusOptions photos;      // photos
  LibraryStatsOptions stats;      // stats (its folder and database as above)
  int show = 5;                   // candidates: pending extracts shown
  int top = 5;                    // candidates: candidates per extract
};

// Parses argv into *line; the options of make, data, extracts and photos are checked as the
// corpus writers would check them. Returns -1 when the command is to run;
// otherwise the program's exit code after the text is printed: 0 after
// --help or the command help (the usage on `out`), 2 for a wrong command line
// (the complaint and the usage on `err`).
int parse_corpus_command_line(int argc, const char* const* argv, CorpusCommandLine* line,
                              std::ostream& out, std::ostream& err);

}  // namespace velmora::corpus
