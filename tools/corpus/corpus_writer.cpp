// Writing the corpus folder (layout in the header) and reading its manifest.
// Text files are built in memory and written whole or not at all; the
// fingerprints go through save_fprint exactly as the workstation calls it.
#include "tools/corpus/corpus_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "libs/dunmarra/save_fprint.h"
#include "tools/corpus/random.h"
#include "tools/corpus/run_file.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/safe_path.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;

// Stream purposes under the corpus seed.
constexpr uint64_t kPeltStream = 1;
constexpr uint64_t kPoseStream = 2;
constexpr uint64_t kNoiseStream = 3;

Status write_text(const fs::path& path, const std::string& text) {
  return write_file_atomically(path.string(), text);
}

}  // namespace

std::string zero_padded(int value, int digits) {
  std::string s = std::to_string(value);
  return std::string(static_cast<size_t>(std::max(0, digits - static_cast<int>(s.size()))), '0') +
         s;
}

Status save_sighting_fingerprint(const std::string& folder, const std::string& cell,
                                 const std::vector<uint8_t>& image) {
  if (image.size() != static_cast<size_t>(kImageSize) * kImageSize)
    return Status::InvalidArgument("a fingerprint image is 64 x 64 pixels");
  std::string path;
  if (Status s = join_safe(folder, cell, &path); !s.ok()) return s;
  if (path.size() >= static_cast<size_t>(dunmarra::kTextBufferSize))
    return Status::InvalidArgument("fingerprint path " + path + " is too long for the writer");
  char cell_buf[dunmarra::kTextBufferSize] = {};
  char path_buf[dunmarra::kTextBufferSize] = {};
  std::memcpy(cell_buf, cell.data(), cell.size());
  std::memcpy(path_buf, path.data(), path.size());
  // The writer takes a 256-byte row stride; only the first 64 bytes of the
  // first 64 rows carry the image.
  std::vector<uint8_t> buffer(static_cast<size_t>(dunmarra::kImageStride) * kImageSize, 0);
  for (int r = 0; r < kImageSize; ++r)
    std::memcpy(&buffer[static_cast<size_t>(r) * dunmarra::kImageStride],
                &image[static_cast<size_t>(r) * kImageSize], kImageSize);
  const int32_t geometry[8] = {64, 64, 17, 17, 16, 16, 2, 2};
  const double reals[6] = {0, 0, 0, 0, 0, 0};
  const int32_t code = save_fprint(geometry, reals, cell_buf, path_buf, buffer.data());
  if (code != dunmarra::kSaveFprintOk)
    return Status::IOError("fingerprint " + path + " not saved, error " + std::to_string(code));
  return Status::Ok();
}

std::string check_options(const CorpusOptions& o) {
  if (o.animals < 2 || o.animals > kMaxAnimals)
    return "the number of animals must be from 2 to " + std::to_string(kMaxAnimals);
  if (o.sightings < 2 || o.sightings > kMaxSightings)
    return "the number of sightings per animal must be from 2 to " + std::to_string(kMaxSightings);
  // Beyond these a sighting leaves the comparison's search window or drowns
  // the pattern: the corpus would measure nothing.
  if (!(o.model.noise >= 0 && o.model.noise <= 30))
    return "the noise must be from 0 to 30 grey levels";
  if (!(o.model.max_quadrant_shift >= 0 && o.model.max_quadrant_shift <= 6))
    return "the quadrant shift must be from 0 to 6 pixels";
  if (!(o.model.max_rotation >= 0 && o.model.max_rotation <= 20))
    return "the rotation must be from 0 to 20 degrees";
  if (o.aspect_letter.size() != 2 || !is_safe_file_name(o.aspect_letter))
    return "the aspect letter must be two characters usable in a file name";
  for (char ch : o.aspect_letter)
    if (ch == '.' || ch == ' ' || ch == ';' || ch == '@' || ch == '[' || ch == ']' || ch == '#')
      return "the aspect letter must not hold '.', blanks, comment or bracket characters or '#'";
  return {};
}

std::vector<CorpusSighting> plan_corpus(const CorpusOptions& o) {
  std::vector<CorpusSighting> plan;
  for (int a = 1; a <= o.animals; ++a)
    for (int s = 1; s <= o.sightings; ++s) {
      CorpusSighting c;
      c.animal = "GS" + zero_padded(a, 4);
      c.cell = c.animal + "_" + zero_padded(s, 2) + o.aspect_letter;
      c.animal_number = a;
      c.sighting = s;
      c.pending = s == 1;
      plan.push_back(c);
    }
  return plan;
}

PeltPattern animal_pelt(const CorpusOptions& o, int animal_number) {
  return PeltPattern::make(stream_seed(o.seed, kPeltStream, static_cast<uint64_t>(animal_number)));
}

std::vector<uint8_t> sighting_image(const CorpusOptions& o, const PeltPattern& pelt,
                                    int animal_number, int sighting) {
  const auto a = static_cast<uint64_t>(animal_number);
  const auto s = static_cast<uint64_t>(sighting);
  const SightingPose pose = make_pose(o.model, stream_seed(o.seed, kPoseStream, a, s));
  return render_sighting(pelt, pose, o.model, stream_seed(o.seed, kNoiseStream, a, s));
}

std::vector<uint8_t> sighting_image(const CorpusOptions& o, int animal_number, int sighting) {
  return sighting_image(o, animal_pelt(o, animal_number), animal_number, sighting);
}

Status check_new_corpus_folder(const std::string& dir, size_t longest_cell, std::string* oldlib) {
  std::error_code ec;
  const fs::path root(dir);
  if (fs::exists(root, ec) && !(fs::is_directory(root, ec) && fs::is_empty(root, ec)))
    return Status::InvalidArgument(dir + " exists and is not an empty folder; choose a new one");
  *oldlib = (root / "oldlib").string() + "/";
  if (oldlib->size() + longest_cell >= static_cast<size_t>(dunmarra::kTextBufferSize))
    return Status::InvalidArgument("fingerprint paths under " + *oldlib +
                                   " would be longer than the writer's 79 characters; use a "
                                   "shorter folder");
  return Status::Ok();
}

Status write_corpus(const std::string& dir, const CorpusOptions& o) {
  if (std::string why = check_options(o); !why.empty()) return Status::InvalidArgument(why);
  const std::vector<CorpusSighting> plan = plan_corpus(o);
  // All cell names have the same length: check before anything is created.
  std::string folder;
  if (Status s = check_new_corpus_folder(dir, plan.front().cell.size(), &folder); !s.ok()) return s;
  const fs::path root(dir);
  std::error_code ec;
  fs::create_directories(root / "oldlib", ec);
  if (ec)
    return Status::IOError("cannot create " + (root / "oldlib").string() + ": " + ec.message());
  std::string pending, library, manifest;
  manifest = "; Synthetic corpus: seed " + std::to_string(o.seed) + ", " +
             std::to_string(o.animals) + " animals, " + std::to_string(o.sightings) +
             " sightings each\n; cell animal role\n";

  PeltPattern pelt;
  int pelt_of = 0;  // the plan goes animal by animal: one pelt at a time
  for (const CorpusSighting& c : plan) {
    if (c.animal_number != pelt_of) {
      pelt = animal_pelt(o, c.animal_number);
      pelt_of = c.animal_number;
    }
    if (Status s = save_sighting_fingerprint(folder, c.cell,
                                             sighting_image(o, pelt, c.animal_number, c.sighting));
        !s.ok())
      return s;
    (c.pending ? pending : library) += c.cell + "\n";
    manifest += c.cell + " " + c.animal + " " + (c.pending ? "pending" : "library") + "\n";
  }
  if (Status s = write_text(root / "pending.txt", pending); !s.ok()) return s;
  if (Status s = write_text(root / "library.txt", library); !s.ok()) return s;
  if (Status s = write_text(root / "tarvik.ini", format_run_file(corpus_run_constants())); !s.ok())
    return s;
  return write_text(root / "corpus.txt", manifest);
}

Status read_manifest(const std::string& path, std::vector<CorpusSighting>* sightings) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::NotFound("cannot open the corpus manifest " + path);
  sightings->clear();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    std::istringstream fields(line);
    CorpusSighting c;
    std::string role, rest;
    if (!(fields >> c.cell >> c.animal >> role) || (fields >> rest) ||
        (role != "pending" && role != "library"))
      return Status::Corruption(path + " line " + std::to_string(number) +
                                ": expected \"cell animal pending|library\", found \"" + line +
                                "\"");
    c.pending = role == "pending";
    sightings->push_back(c);
  }
  if (sightings->empty()) return Status::Corruption(path + " lists no sightings");
  return Status::Ok();
}

}  // namespace velmora::corpus
