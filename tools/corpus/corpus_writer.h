// A synthetic identification corpus on disk, laid out as the comparison reads it.
//
// Folder DIR:
//   oldlib/<cell>       one fingerprint file per sighting, written by save_fprint
//   pending.txt         the cells of sighting 1 of every animal (the pending side)
//   library.txt         the cells of all other sightings (the library side)
//   tarvik.ini          run file for this geometry (run_file.h)
//   corpus.txt          manifest: one line "cell animal role" per sighting,
//                       role "pending" or "library"; lines starting with ";"
//                       are comments
// The list and run file names are the comparison program's defaults, so
//   cd DIR && tarvikx oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false
// compares every pending sighting with every library sighting, in both roles.
//
// Cell names: "GS" + animal number (4 digits, from 1) + "_" + sighting
// number (2 digits, from 1) + the aspect letter (two characters), e.g.
// "GS0007_02BL"; the animal's ID is "GS" + its number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/corpus/synthetic_pelt.h"
#include "workstation/common/status.h"

namespace velmora::corpus {

struct CorpusOptions {
  int animals = 100;
  int sightings = 3;  // per animal; at least 2 (one pending, one in the library)
  uint64_t seed = 1;
  std::string aspect_letter = "BL";  // the two characters that end every cell name
  SightingModel model;
};

struct CorpusSighting {
  std::string cell;
  std::string animal;
  int animal_number = 0;  // 1-based
  int sighting = 0;       // 1-based
  bool pending = false;
};

inline constexpr int kMaxAnimals = 9999;
inline constexpr int kMaxSightings = 99;

// Empty when the options can make a corpus, else the reason.
std::string check_options(const CorpusOptions& o);

// All sightings in order: animal by animal, sighting by sighting.
std::vector<CorpusSighting> plan_corpus(const CorpusOptions& o);

// The fingerprint image of one sighting (64 x 64, row-major); a pure
// function of the seed, the animal and the sighting number.
std::vector<uint8_t> sighting_image(const CorpusOptions& o, int animal_number, int sighting);
// The same with the animal's pelt made once by the caller (animal_pelt).
std::vector<uint8_t> sighting_image(const CorpusOptions& o, const PeltPattern& pelt,
                                    int animal_number, int sighting);
PeltPattern animal_pelt(const CorpusOptions& o, int animal_number);

// Makes the corpus in `dir`, which must be absent or empty. The path of every
// fingerprint file must stay under 80 characters (the writer's limit).
Status write_corpus(const std::string& dir, const CorpusOptions& o);

// Reads DIR/corpus.txt.
Status read_manifest(const std::string& path, std::vector<CorpusSighting>* sightings);

// `value` in decimal, padded with leading zeros to `digits` characters.
std::string zero_padded(int value, int digits);

// Checks that `dir` is absent or an empty folder and that its fingerprint
// folder `dir`/oldlib/ leaves room in the writer's buffer for a cell name of
// `longest_cell` characters; gives that folder (ending in '/') in *oldlib.
// Nothing is created.
Status check_new_corpus_folder(const std::string& dir, size_t longest_cell, std::string* oldlib);

// Writes the fingerprint file folder + cell (folder ends in '/') of a 64 x 64
// image through save_fprint, called as the workstation calls it when it saves
// an extract. The path must stay under the writer's 80-byte buffer.
Status save_sighting_fingerprint(const std::string& folder, const std::string& cell,
                                 const std::vector<uint8_t>& image);

}  // namespace velmora::corpus
