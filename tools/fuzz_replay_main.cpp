// Replays a saved fuzz corpus through a libFuzzer entry point, so that the
// corpus runs as an ordinary test without the fuzzer. Arguments are files or
// folders; every regular file in a folder is one input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int replay_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

int main(int argc, char** argv) {
  int failures = 0, inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) failures += replay_file(entry.path()), ++inputs;
      }
    } else {
      failures += replay_file(arg), ++inputs;
    }
  }
  std::printf("replayed %d inputs\n", inputs);
  return failures == 0 && inputs > 0 ? 0 : 1;
}
