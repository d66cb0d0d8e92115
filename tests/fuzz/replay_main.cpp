// Replays fuzz inputs without libFuzzer: every file named on the command
// line, and every file in a directory named there, goes once through the
// target. A finding aborts, so the run fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[4096];
  for (std::size_t n; file != nullptr && (n = std::fread(chunk, 1, sizeof chunk, file)) != 0;) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  if (file == nullptr || std::ferror(file)) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    std::exit(2);
  }
  std::fclose(file);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int k = 1; k < argc; ++k) {
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_directory(argv[k])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[k])) {
        if (entry.is_regular_file()) paths.push_back(entry.path());
      }
      std::sort(paths.begin(), paths.end());
    } else {
      paths.emplace_back(argv[k]);
    }
    for (const auto& path : paths) replay(path);
    count += paths.size();
  }
  std::printf("%zu inputs replayed\n", count);
  return count != 0 ? 0 : 1;
}
