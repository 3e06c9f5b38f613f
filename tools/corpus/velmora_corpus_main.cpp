// velmora-corpus: makes a synthetic identification corpus and rates a
// comparison run over it. The work is in the velmora_corpus library.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/corpus/corpus_writer.h"
#include "tools/corpus/identification_rates.h"

namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  velmora-corpus make DIR [--animals N] [--sightings K] [--seed S] [--aspect XY]\n"
    "      writes N synthetic animals (default 100) with K sightings each (default 3)\n"
    "      into the new or empty folder DIR: fingerprints in DIR/oldlib/, sighting 1\n"
    "      of each animal in DIR/pending.txt, the others in DIR/library.txt, the run\n"
    "      file DIR/tarvik.ini and the manifest DIR/corpus.txt. Then, in DIR:\n"
    "        tarvikx oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false\n"
    "  velmora-corpus rank DIR [RESULTS]\n"
    "      prints the rank-1 and rank-10 identification rates of the pending\n"
    "      sightings from the results file (default DIR/testresults.txt)\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "velmora-corpus: %s\n%s", message.c_str(), kUsage);
  return 2;
}

template <typename T>
bool parse_whole(std::string_view text, T* value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

int make(const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return usage_error("make needs a folder");
  velmora::corpus::CorpusOptions options;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& key = args[i];
    if (i + 1 >= args.size()) return usage_error(key + " needs a value");
    const std::string& value = args[i + 1];
    bool ok = false;
    if (key == "--animals") {
      ok = parse_whole(value, &options.animals);
    } else if (key == "--sightings") {
      ok = parse_whole(value, &options.sightings);
    } else if (key == "--seed") {
      ok = parse_whole(value, &options.seed);
    } else if (key == "--aspect") {
      options.aspect_letter = value;
      ok = true;
    } else {
      return usage_error("unknown option " + key);
    }
    if (!ok) return usage_error("bad value '" + value + "' for " + key);
  }
  if (std::string why = velmora::corpus::check_options(options); !why.empty())
    return usage_error(why);
  const velmora::Status s = velmora::corpus::write_corpus(args[0], options);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
    return 1;
  }
  std::printf("%d animals x %d sightings written to %s (seed %llu)\n", options.animals,
              options.sightings, args[0].c_str(), static_cast<unsigned long long>(options.seed));
  return 0;
}

int rank(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2)
    return usage_error("rank needs a folder and at most a results file");
  const std::string dir = args[0];
  const std::string results_path = args.size() > 1 ? args[1] : dir + "/testresults.txt";
  std::vector<velmora::corpus::CorpusSighting> manifest;
  velmora::Status s = velmora::corpus::read_manifest(dir + "/corpus.txt", &manifest);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
    return 1;
  }
  std::ifstream results(results_path, std::ios::binary);
  if (!results) {
    std::fprintf(stderr, "velmora-corpus: cannot open the results file %s\n", results_path.c_str());
    return 1;
  }
  velmora::corpus::RankSummary summary;
  s = velmora::corpus::rank_results(manifest, results, &summary);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-corpus: %s\n", s.message().c_str());
    return 1;
  }
  std::fputs(velmora::corpus::format_summary(summary).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage_error("no command");
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "make") return make(args);
  if (command == "rank") return rank(args);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return usage_error("unknown command " + command);
}
