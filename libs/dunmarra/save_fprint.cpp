// save_fprint: argument checks, then the file written through a temporary
// file and a rename (see the header for the contract).
#include "libs/dunmarra/save_fprint.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "libs/dunmarra/fingerprint_file.h"
#include "libs/dunmarra/fingerprint_normalisation.h"

namespace velmora::dunmarra {
namespace {

// The text of an 80-byte buffer, or false when no terminator lies inside it.
bool buffer_text(const char* buffer, std::string_view* text) {
  const void* end = std::memchr(buffer, '\0', kTextBufferSize);
  if (end == nullptr) return false;
  *text = std::string_view(buffer, static_cast<size_t>(static_cast<const char*>(end) - buffer));
  return true;
}

bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes `bytes` to `path` so that the path afterwards holds either its old
// content or all of `bytes`. The temporary file lies in the same folder, so the
// rename never crosses file systems.
bool replace_file(const std::string& path, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace
}  // namespace velmora::dunmarra

extern "C" int32_t save_fprint(const int32_t* geometry, const double* reals, const char* cell,
                               const char* path, const uint8_t* image) {
  using namespace velmora::dunmarra;
  if (geometry == nullptr || reals == nullptr || image == nullptr) return kSaveFprintBadGeometry;
  if (cell == nullptr || path == nullptr) return kSaveFprintBadText;

  FingerprintGeometry g;
  g.rows = geometry[0];
  g.cols = geometry[1];
  g.row_origin = geometry[2];
  g.col_origin = geometry[3];
  g.subrows = geometry[4];
  g.subcols = geometry[5];
  g.across = geometry[6];
  g.down = geometry[7];
  if (!check_geometry(g).empty()) return kSaveFprintBadGeometry;

  std::string_view cell_text;
  std::string_view path_text;
  if (!buffer_text(cell, &cell_text) || !buffer_text(path, &path_text) || path_text.empty())
    return kSaveFprintBadText;

  std::array<double, 6> given;
  for (size_t i = 0; i < given.size(); ++i) {
    if (!std::isfinite(reals[i])) return kSaveFprintBadReal;
    given[i] = reals[i];
  }

  std::vector<uint8_t> packed(static_cast<size_t>(g.rows) * g.cols);
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.cols; ++c) {
      const uint8_t p = image[static_cast<size_t>(r) * kImageStride + c];
      if (p > kMaskedPixel) return kSaveFprintBadPixel;
      packed[static_cast<size_t>(r) * g.cols + c] = p;
    }

  const Normalisation norm = compute_normalisation(g, packed);
  const std::string bytes = format_fingerprint(g, norm, packed, cell_text, given);
  if (!replace_file(std::string(path_text), bytes)) return kSaveFprintNotWritable;
  return kSaveFprintOk;
}
