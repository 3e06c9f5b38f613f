#include "workstation/extract/feature_file.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "workstation/common/number_text.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

constexpr int kBlockSide = kExtractRows / kBlockImageSide;  // 4
constexpr int kSpotWidthWithKind = 4;
constexpr int kSpotWidthWithoutKind = 3;

std::string count_text(std::size_t n) {
  return std::to_string(n);
}

// Why a seed set cannot go with n spots; empty when all of them can.
std::string seeds_problem(const SeedSets& seeds, int n) {
  if (seeds.count < 0 || seeds.count > kMaxSeedSets) {
    return std::to_string(seeds.count) + " seed sets, expected 0 to " +
           std::to_string(kMaxSeedSets);
  }
  for (int s = 0; s < seeds.count; ++s) {
    const SeedTriple& t = seeds.sets[s];
    for (int i = 0; i < 3; ++i) {
      if (t[i] < 1 || t[i] > n) {
        return "seed set " + std::to_string(s + 1) + " names spot " + std::to_string(t[i]) +
               ", outside spots 1.." + std::to_string(n);
      }
      for (int j = 0; j < i; ++j) {
        if (t[j] == t[i]) {
          return "seed set " + std::to_string(s + 1) + " names spot " + std::to_string(t[i]) +
                 " twice";
        }
      }
    }
  }
  return {};
}

bool kind_fits(double kind) {
  const double k = round_half_even(kind);
  return k >= 1.0 && k <= 3.0;
}

std::string kind_problem(std::size_t index, const std::string& kind) {
  return "spot " + count_text(index + 1) + " has kind " + kind + ", expected 1, 2 or 3";
}

void append_words(std::string* out, const std::vector<std::uint32_t>& words) {
  for (std::uint32_t w : words) {
    for (int shift = 0; shift < 32; shift += 8)
      out->push_back(static_cast<char>((w >> shift) & 0xFF));
  }
}

std::vector<std::uint32_t> read_words(std::string_view bytes, std::size_t pos) {
  std::vector<std::uint32_t> words(kSpotMapWords);
  for (std::size_t i = 0; i < kSpotMapWords; ++i) {
    std::uint32_t w = 0;
    for (int b = 0; b < 4; ++b) {
      w |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[pos + 4 * i + b]))
           << (8 * b);
    }
    words[i] = w;
  }
  return words;
}

}  // namespace

std::uint8_t to_byte(double v, int* clamped) {
  const double r = round_half_even(v);
  if (!(r >= 0.0)) {  // below 0, or not a number
    if (clamped != nullptr) ++*clamped;
    return 0;
  }
  if (r > 255.0) {
    if (clamped != nullptr) ++*clamped;
    return 255;
  }
  return static_cast<std::uint8_t>(r);
}

bool feature_file_has_kinds(std::string_view pattern, bool all_green) {
  return (pattern == "black_stripe" || pattern == "white_stripe") && !all_green;
}

std::vector<std::uint32_t> pack_spot_map(const SpotMap& map) {
  std::vector<std::uint32_t> words(kSpotMapWords, 0);
  for (std::size_t n = 0; n < kSpotMapPixels && n < map.black.size(); ++n) {
    if (map.black[n] != 0) words[n / 32] |= std::uint32_t{1} << (n % 32);
  }
  return words;
}

SpotMap unpack_spot_map(std::span<const std::uint32_t> words) {
  SpotMap map;
  for (std::size_t n = 0; n < kSpotMapPixels && n / 32 < words.size(); ++n) {
    map.black[n] = static_cast<std::uint8_t>((words[n / 32] >> (n % 32)) & 1u);
  }
  return map;
}

std::vector<std::uint8_t> block_image(std::span<const std::uint8_t> marked_source) {
  std::vector<std::uint8_t> blocks(kBlockImageBytes, 0);
  if (marked_source.size() != kExtractPixels) return blocks;
  for (int a = 1; a <= kBlockImageSide; ++a) {
    for (int b = 1; b <= kBlockImageSide; ++b) {
      int sum = 0;
      bool blank = false;
      for (int i = kBlockSide * a - (kBlockSide - 1); i <= kBlockSide * a; ++i) {
        for (int j = kBlockSide * b - (kBlockSide - 1); j <= kBlockSide * b; ++j) {
          const std::uint8_t v = marked_source[SharedExtract::index(i, j)];
          blank = blank || v == kBlankBlock;
          sum += v;
        }
      }
      blocks[static_cast<std::size_t>(a - 1) * kBlockImageSide + (b - 1)] =
          blank ? kBlankBlock
                : static_cast<std::uint8_t>(round_half_even(sum / double(kBlockSide * kBlockSide)));
    }
  }
  return blocks;
}

Status build_feature_file(std::span<const std::uint8_t> marked_source, SpotList* spots, int limit,
                          const SeedResult& seeds, bool has_kinds, FeatureFile* out, int* clamped) {
  auto refuse = [](const std::string& what) {
    return Status::InvalidArgument("feature file: " + what);
  };
  if (marked_source.size() != kExtractPixels) {
    return refuse("the source image holds " + count_text(marked_source.size()) +
                  " pixels, expected 65536");
  }
  if (seeds.top.black.size() != kSpotMapPixels ||
      (has_kinds && seeds.bottom.black.size() != kSpotMapPixels)) {
    return refuse("a spot map is not 296 x 296");
  }
  const int usable = std::min<int>(kMaxSavedSpots, static_cast<int>(spots->size()));
  if (limit < 0 || limit > usable) {
    return refuse(std::to_string(limit) + " spots in use, but the list holds " +
                  count_text(spots->size()) + " and a file at most " +
                  std::to_string(kMaxSavedSpots));
  }
  if (const std::string why = seeds_problem(seeds.sets, limit); !why.empty()) {
    return refuse(why + "; place the seeds again");
  }
  if (has_kinds) {
    for (int k = 0; k < limit; ++k) {
      const float kind = (*spots)[k].kind;
      if (!kind_fits(kind)) return refuse(kind_problem(k, single_to_text(kind)));
    }
  }

  FeatureFile f;
  f.block_image = block_image(marked_source);
  f.has_kinds = has_kinds;
  for (int k = 0; k < limit; ++k) {
    Spot& s = (*spots)[k];
    for (float* v : {&s.score, &s.row, &s.column}) *v = std::max(*v, 0.0f);
    FeatureSpot fs;
    fs.score = to_byte(s.score, clamped);
    fs.row = to_byte(s.row, clamped);
    fs.column = to_byte(s.column, clamped);
    if (has_kinds) fs.kind = static_cast<std::uint8_t>(round_half_even(s.kind));
    f.spots.push_back(fs);
  }
  f.seeds.count = seeds.sets.count;
  std::copy_n(seeds.sets.sets.begin(), seeds.sets.count, f.seeds.sets.begin());
  f.top_map = pack_spot_map(seeds.top);
  if (has_kinds) f.bottom_map = pack_spot_map(seeds.bottom);
  *out = std::move(f);
  return Status::Ok();
}

std::string feature_file_bytes(const FeatureFile& file) {
  std::string out(file.block_image.begin(), file.block_image.end());
  out.push_back(static_cast<char>(file.spots.size()));
  for (const FeatureSpot& s : file.spots) {
    out.push_back(static_cast<char>(s.score));
    out.push_back(static_cast<char>(s.row));
    out.push_back(static_cast<char>(s.column));
    if (file.has_kinds) out.push_back(static_cast<char>(s.kind));
  }
  out.push_back(static_cast<char>(file.seeds.count));
  for (int s = 0; s < file.seeds.count; ++s) {
    for (int number : file.seeds.sets[s]) out.push_back(static_cast<char>(number));
  }
  append_words(&out, file.top_map);
  if (file.has_kinds) append_words(&out, file.bottom_map);
  return out;
}

Status parse_feature_file(std::string_view bytes, bool has_kinds, const std::string& label,
                          FeatureFile* out) {
  auto refuse = [&label](const std::string& what) {
    return Status::Corruption(label + ": " + what);
  };
  auto byte_at = [&bytes](std::size_t pos) { return static_cast<unsigned char>(bytes[pos]); };
  const std::size_t size = bytes.size();
  if (size < kBlockImageBytes + 1) {
    return refuse(count_text(size) + " bytes, too short for the block image and the spot count (" +
                  count_text(kBlockImageBytes + 1) + " bytes)");
  }
  FeatureFile f;
  f.has_kinds = has_kinds;
  std::copy_n(bytes.begin(), kBlockImageBytes, f.block_image.begin());
  std::size_t pos = kBlockImageBytes;
  const std::size_t n = byte_at(pos++);
  const std::size_t width = has_kinds ? kSpotWidthWithKind : kSpotWidthWithoutKind;
  if (size < pos + n * width + 1) {
    return refuse(count_text(size) + " bytes, ends inside the " + count_text(n) +
                  " spots (they and the seed count need " + count_text(pos + n * width + 1) + ")");
  }
  for (std::size_t k = 0; k < n; ++k, pos += width) {
    FeatureSpot s;
    s.score = byte_at(pos);
    s.row = byte_at(pos + 1);
    s.column = byte_at(pos + 2);
    if (has_kinds) {
      s.kind = byte_at(pos + 3);
      if (!kind_fits(s.kind)) return refuse(kind_problem(k, std::to_string(s.kind)));
    }
    f.spots.push_back(s);
  }
  const int m = byte_at(pos++);
  if (m > kMaxSeedSets) {
    return refuse(std::to_string(m) + " seed sets, at most " + std::to_string(kMaxSeedSets));
  }
  const std::size_t maps = has_kinds ? 2 : 1;
  const std::size_t expected = pos + 3 * static_cast<std::size_t>(m) + maps * kSpotMapBytes;
  if (size != expected) {
    return refuse(count_text(size) + " bytes, expected " + count_text(expected) + " for " +
                  count_text(n) + " spots, " + std::to_string(m) + " seed sets and " +
                  (has_kinds ? "two spot maps" : "one spot map"));
  }
  f.seeds.count = m;
  for (int s = 0; s < m; ++s) {
    for (int& number : f.seeds.sets[s]) number = byte_at(pos++);
  }
  if (const std::string why = seeds_problem(f.seeds, static_cast<int>(n)); !why.empty()) {
    return refuse(why);
  }
  f.top_map = read_words(bytes, pos);
  pos += kSpotMapBytes;
  if (has_kinds) f.bottom_map = read_words(bytes, pos);
  *out = std::move(f);
  return Status::Ok();
}

}  // namespace velmora::extract
