// Test support of the review (see confirm_test_support.h).
#include "workstation/confirm/confirm_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/files.h"
#include "workstation/model/fit_file.h"

namespace velmora::confirm::test_support {

std::string jpeg_bytes(int width, int height, int marker) {
  std::string b = {'\xFF', '\xD8'};
  auto put = [&b](std::initializer_list<int> bytes) {
    for (int x : bytes) b += static_cast<char>(x);
  };
  // JFIF segment.
  put({0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  // A quantisation table of 64 ones.
  put({0xFF, 0xDB, 0x00, 0x43, 0x00});
  for (int i = 0; i < 64; ++i) put({1});
  // Fill bytes before the frame marker are allowed.
  put({0xFF, 0xFF, marker, 0x00, 0x11, 8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 3,
       1,    0x22, 0,      2,    0x11, 1, 3,           0x11,          1});
  put({0xFF, 0xD9});
  return b;
}

void write_jpeg(const std::string& path, int width, int height) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ASSERT_TRUE(velmora::testing::write_file(path, jpeg_bytes(width, height))) << path;
}

void write_fit(const std::string& data_folder, const std::string& cell,
               const model::CropRecord& crop) {
  model::FitRecord record;
  record.crop = crop;
  std::filesystem::create_directories(data_folder + "savedraw");
  std::string path;
  ASSERT_TRUE(model::fit_file_path(data_folder, cell, &path).ok());
  ASSERT_TRUE(velmora::testing::write_file(path, model::fit_file_bytes(record))) << path;
}

model::CropRecord crop_of(int x, int y, int width, int height) {
  model::CropRecord c;
  c.destination_width = 900;
  c.destination_height = 600;
  c.source_x = static_cast<std::int16_t>(x);
  c.source_y = static_cast<std::int16_t>(y);
  c.source_width = static_cast<std::int16_t>(width);
  c.source_height = static_cast<std::int16_t>(height);
  return c;
}

}  // namespace velmora::confirm::test_support
