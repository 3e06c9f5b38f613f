// The feature file: written and read back for every kind of aspect, its byte
// layout checked field by field against the documented offsets, the block
// image against a plain block mean, and damage refused naming the file.
#include "workstation/extract/feature_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

std::vector<std::uint8_t> random_source(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> image(kExtractPixels);
  for (auto& v : image) v = static_cast<std::uint8_t>(rng() % 255);  // 255 only where put below
  image[SharedExtract::index(6, 7)] = 255;                           // block (2, 2)
  return image;
}

SpotList random_spots(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> pos(1.0f, 255.0f), score(0.0f, 250.0f);
  const float kinds[] = {1.0f, 2.0f, 3.0f, 1.5f, 2.5f};
  SpotList spots;
  for (int k = 0; k < n; ++k) spots.push_back({score(rng), pos(rng), pos(rng), kinds[k % 5]});
  return spots;
}

TEST(FeatureFile, RoundTripAndLayoutForEveryAspectKind) {
  struct Case {
    const char* pattern;
    bool all_green;
    bool kinds;
  };
  const Case cases[] = {{"black_dot", false, false},   {"white_dot", true, false},
                        {"black_stripe", false, true}, {"white_stripe", false, true},
                        {"black_stripe", true, false}, {"stripes", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + (c.all_green ? " all green" : ""));
    ASSERT_EQ(feature_file_has_kinds(c.pattern, c.all_green), c.kinds);
    SpotList spots = random_spots(7, 60);
    SeedResult seeds;
    ASSERT_TRUE(place_seeds(spots, {50, 60, 12, "2000", 0.2f}, &seeds).ok());
    ASSERT_GT(seeds.sets.count, 1);
    FeatureFile built;
    int clamped = 0;
    const std::vector<std::uint8_t> source = random_source(3);
    ASSERT_TRUE(build_feature_file(source, &spots, 50, seeds, c.kinds, &built, &clamped).ok());
    EXPECT_EQ(clamped, 0);
    const std::string bytes = feature_file_bytes(built);

    // The layout, field by field from the documented offsets.
    const std::size_t w = c.kinds ? 4 : 3, m = seeds.sets.count;
    const std::size_t maps_at = 4096 + 1 + 50 * w + 1 + 3 * m;
    ASSERT_EQ(bytes.size(), maps_at + (c.kinds ? 2 : 1) * 10952);
    auto at = [&](std::size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]));
    };
    EXPECT_EQ(at(64 + 1), 255u);  // block row 2, column 2
    EXPECT_EQ(at(4096), 50u);
    for (std::size_t k = 0; k < 50; ++k) {
      const Spot& s = spots[k];
      EXPECT_EQ(at(4097 + k * w), std::nearbyint(s.score));
      EXPECT_EQ(at(4097 + k * w + 1), std::nearbyint(s.row));
      EXPECT_EQ(at(4097 + k * w + 2), std::nearbyint(s.column));
      if (c.kinds) {
        EXPECT_EQ(at(4097 + k * w + 3), std::nearbyint(s.kind));
      }
    }
    EXPECT_EQ(at(4097 + 50 * w), m);
    for (std::size_t s = 0; s < m; ++s)
      for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(at(4098 + 50 * w + 3 * s + i), static_cast<unsigned>(seeds.sets.sets[s][i]));
    // Little-endian words of bits: pixel n is bit n % 8 of map byte n / 8.
    for (std::size_t n = 0; n < kSpotMapPixels; ++n) {
      ASSERT_EQ((at(maps_at + n / 8) >> (n % 8)) & 1u, seeds.top.black[n]) << n;
      if (c.kinds) {
        ASSERT_EQ((at(maps_at + 10952 + n / 8) >> (n % 8)) & 1u, seeds.bottom.black[n]);
      }
    }

    FeatureFile read;
    const Status s = parse_feature_file(bytes, c.kinds, "f", &read);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(read, built);
    EXPECT_EQ(unpack_spot_map(read.top_map), seeds.top);
    EXPECT_EQ(feature_file_bytes(read), bytes);
  }
}

TEST(FeatureFile, BlockImageIsTheRoundedMeanOrBlank) {
  std::vector<std::uint8_t> source = random_source(11);
  source[SharedExtract::index(256, 256)] = 255;  // last block
  // Two blocks whose means lie halfway: 10.5 and 11.5.
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 8; ++j) source[SharedExtract::index(i, j)] = j <= 4 ? 10 : 11;
  source[SharedExtract::index(1, 1)] = 18;
  source[SharedExtract::index(1, 5)] = 19;
  const std::vector<std::uint8_t> blocks = block_image(source);
  for (int a = 0; a < 64; ++a) {
    for (int b = 0; b < 64; ++b) {
      int sum = 0;
      bool blank = false;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          const int v = source[(4 * a + i) * 256 + 4 * b + j];
          sum += v;
          blank = blank || v == 255;
        }
      int mean = sum / 16;
      if (sum % 16 > 8 || (sum % 16 == 8 && mean % 2 == 1)) ++mean;
      ASSERT_EQ(blocks[a * 64 + b], blank ? 255 : mean) << a << "," << b;
    }
  }
  EXPECT_EQ(blocks[0], 10);
  EXPECT_EQ(blocks[1], 12);
  EXPECT_EQ(blocks[64 + 1], 255);
  EXPECT_EQ(blocks[4095], 255);
}

TEST(FeatureFile, BytesRoundHalfToEvenAndClampWithACount) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double v;
    int byte, clamped;
  } cases[] = {{2.5, 2, 0},     {3.5, 4, 0},     {-0.4, 0, 0},  {-0.6, 0, 1}, {254.5, 254, 0},
               {255.4, 255, 0}, {255.5, 255, 1}, {1e9, 255, 1}, {nan, 0, 1}};
  for (const auto& c : cases) {
    int clamped = 0;
    EXPECT_EQ(to_byte(c.v, &clamped), c.byte) << c.v;
    EXPECT_EQ(clamped, c.clamped) << c.v;
  }
  // In the list itself: negatives become 0, too large is clamped and counted.
  SpotList spots = {{-3.0f, 10.0f, -0.5f, 2.5f}, {300.0f, 12.5f, 256.0f, 1.5f}, {1, 1, 1, 3.4f}};
  SeedResult seeds;
  FeatureFile f;
  int clamped = 0;
  ASSERT_TRUE(build_feature_file(random_source(1), &spots, 3, seeds, true, &f, &clamped).ok());
  EXPECT_EQ(spots[0].score, 0.0f);
  EXPECT_EQ(spots[0].column, 0.0f);
  EXPECT_EQ(clamped, 2);
  const std::vector<FeatureSpot> expected = {{0, 10, 0, 2}, {255, 12, 255, 2}, {1, 1, 1, 3}};
  EXPECT_EQ(f.spots, expected);
}

TEST(FeatureFile, WriterRefusesWhatTheReaderWouldRefuse) {
  struct Case {
    const char* says;
    int limit;
    SeedSets sets;
    float kind;
  };
  const Case cases[] = {
      {"names spot 4, outside spots 1..3; place the seeds again", 3, {{{{1, 2, 4}}}, 1}, 2.0f},
      {"names spot 2 twice", 3, {{{{2, 1, 2}}}, 1}, 2.0f},
      {"10 seed sets", 3, {{}, 10}, 2.0f},
      {"spot 1 has kind 0.4", 3, {}, 0.4f},
      {"4 spots in use", 4, {}, 2.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    SpotList spots = random_spots(2, 3);
    spots[0].kind = c.kind;
    SeedResult seeds;
    seeds.sets = c.sets;
    FeatureFile f;
    f.spots.resize(1);
    const Status s =
        build_feature_file(random_source(1), &spots, c.limit, seeds, true, &f, nullptr);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_EQ(f.spots.size(), 1u);
  }
}

TEST(FeatureFile, ReaderRefusesDamageNamingTheFile) {
  // A good stripes file: 3 spots of 4 bytes, 1 set, two maps.
  SpotList spots = {{10, 20, 30, 1}, {11, 21, 31, 2}, {12, 22, 32, 3}};
  SeedResult seeds;
  seeds.sets.count = 1;
  seeds.sets.sets[0] = {1, 2, 3};
  FeatureFile f;
  ASSERT_TRUE(build_feature_file(random_source(1), &spots, 3, seeds, true, &f, nullptr).ok());
  const std::string good = feature_file_bytes(f);
  const std::size_t kind1 = 4097 + 3, m_at = 4097 + 12, seed3 = m_at + 3;
  auto with = [&good](std::size_t at, int value) {
    std::string b = good;
    b[at] = static_cast<char>(value);
    return b;
  };
  const struct {
    const char* name;
    std::string bytes;
    bool kinds;
    const char* says;
  } cases[] = {
      {"empty", "", true, "0 bytes, too short"},
      {"block image only", good.substr(0, 4096), true, "too short"},
      {"ends in the spots", good.substr(0, 4100), true, "ends inside the 3 spots"},
      {"one byte short", good.substr(0, good.size() - 1), true, "expected 26017"},
      {"one byte long", good + '\0', true, "26018 bytes, expected 26017"},
      {"read as dots", good, false, "22 seed sets"},
      {"ten sets", with(m_at, 10), true, "10 seed sets, at most 9"},
      {"seed 0", with(seed3, 0), true, "names spot 0, outside spots 1..3"},
      {"seed 4", with(seed3, 4), true, "names spot 4, outside"},
      {"seed twice", with(seed3, 1), true, "names spot 1 twice"},
      {"kind 0", with(kind1, 0), true, "spot 1 has kind 0"},
      {"kind 4", with(kind1 + 8, 4), true, "spot 3 has kind 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FeatureFile read;
    read.spots.resize(7);
    const Status s = parse_feature_file(c.bytes, c.kinds, "lib/GS0001_01", &read);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.message().rfind("lib/GS0001_01: ", 0), 0u) << s.message();
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_EQ(read.spots.size(), 7u);
  }
  FeatureFile read;
  EXPECT_TRUE(parse_feature_file(good, true, "f", &read).ok());
}

}  // namespace
}  // namespace velmora::extract
