// FillArraysSift: the key lists of a batch of extracts, loaded from their
// key files (data folder + "SiftLib/" + cell, libs/bristane/key_file.h) for
// the key-point comparison.
//
// A batch keeps every list in one block, extract after extract, so that the
// pair loop streams through memory: `read_featarray` holds 128 descriptor
// bytes per key and `read_featloc` four floats per key (row, column, scale,
// orientation); extract k's keys start at key `first_key[k]` and number
// `read_nfeat[k]` (at most 1000: a longer list is cut to its first 1000
// keys). A batch is reused from one load to the next, so that loading the
// library batch after batch allocates only while the largest batch grows.
//
// An extract whose key file is missing, cut short or damaged is left out of
// the batch and reported by name with the reader's message; it does not use
// up a place, and the rest of the batch goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "libs/bristane/list_matches.h"

namespace velmora::matching {

// Library extracts loaded at a time; the pending batch is limited by the
// operator's batch size instead.
inline constexpr int kSiftLibraryBatch = 200;

struct SiftBatch {
  std::vector<std::string> filename;         // cell names, in load order
  std::vector<std::int32_t> read_nfeat;      // keys of each extract
  std::vector<std::size_t> first_key;        // index of each extract's first key
  std::vector<float> read_featloc;           // 4 per key
  std::vector<std::uint8_t> read_featarray;  // 128 per key

  int size() const { return static_cast<int>(filename.size()); }
  bristane::KeyListView view(int k) const {
    const std::size_t first = first_key[static_cast<std::size_t>(k)];
    return {read_nfeat[static_cast<std::size_t>(k)],
            read_featarray.data() + first * bristane::kDescriptorLength,
            read_featloc.data() + first * bristane::kLocationValues};
  }
  // Empties the batch, keeping its memory.
  void clear();
};

// An extract left out of a batch, and why.
struct KeyFileProblem {
  std::string cell;
  std::string message;  // the reader's, naming the file
};

// Loads extracts from cells[*next] on into `batch` (emptied first) until
// `limit` extracts are loaded or the names end; *next is left at the first
// name not looked at. Extracts whose key file cannot be used are appended
// to *problems and skipped.
void FillArraysSift(std::span<const std::string> cells, std::size_t* next,
                    const std::string& data_folder, int limit, SiftBatch* batch,
                    std::vector<KeyFileProblem>* problems);

}  // namespace velmora::matching
