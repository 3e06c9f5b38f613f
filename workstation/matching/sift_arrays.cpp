// FillArraysSift (see sift_arrays.h).
#include "workstation/matching/sift_arrays.h"

#include "libs/bristane/key_file.h"
#include "workstation/config/folder_file.h"

namespace velmora::matching {

void SiftBatch::clear() {
  filename.clear();
  read_nfeat.clear();
  first_key.clear();
  read_featloc.clear();
  read_featarray.clear();
}

void FillArraysSift(std::span<const std::string> cells, std::size_t* next,
                    const std::string& data_folder, int limit, SiftBatch* batch,
                    std::vector<KeyFileProblem>* problems) {
  batch->clear();
  const std::string folder = config::normalise_folder(data_folder) + "SiftLib/";
  bristane::KeyList keys;
  for (; *next < cells.size() && batch->size() < limit; ++*next) {
    const std::string& cell = cells[*next];
    const Status s = bristane::read_key_file(folder + cell, &keys);
    if (!s.ok()) {
      problems->push_back({cell, s.message()});
      continue;
    }
    batch->filename.push_back(cell);
    batch->read_nfeat.push_back(keys.count());
    batch->first_key.push_back(batch->read_featloc.size() / bristane::kLocationValues);
    batch->read_featloc.insert(batch->read_featloc.end(), keys.locations.begin(),
                               keys.locations.end());
    batch->read_featarray.insert(batch->read_featarray.end(), keys.descriptors.begin(),
                                 keys.descriptors.end());
  }
}

}  // namespace velmora::matching
