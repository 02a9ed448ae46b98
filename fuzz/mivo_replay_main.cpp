// Replays saved fuzz inputs through the harness without libFuzzer: every
// file named on the command line, or every file of a named directory.
// With --write-seeds DIR it writes a small seed corpus instead.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

// Seeds: each choice byte pattern with a few kinds of body.
int WriteSeeds(const std::string& dir) {
  std::mt19937 rng(2024);
  for (int i = 0; i < 48; ++i) {
    std::string s(13, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    s[0] = static_cast<char>(i % 8 | (i & 8 ? 64 : 0) | (i % 3 == 0 ? 8 : 0));
    size_t n = 20 + rng() % 300;
    for (size_t k = 0; k < n; ++k) s += static_cast<char>(i % 4 == 0 ? rng() : i % 4 == 1 ? (k / 7) * 3 : i % 4 == 2 ? 0 : k % 5);
    char name[64];
    std::snprintf(name, sizeof name, "%s/seed-%02d", dir.c_str(), i);
    std::ofstream(name, std::ios::binary) << s;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") return WriteSeeds(argv[2]);
  int failures = 0, files = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (stat(argv[i], &st) == 0 && S_ISDIR(st.st_mode)) {
      DIR* d = opendir(argv[i]);
      if (!d) return 1;
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        failures += RunFile(std::string(argv[i]) + "/" + e->d_name);
        ++files;
      }
      closedir(d);
    } else {
      failures += RunFile(argv[i]);
      ++files;
    }
  }
  std::printf("replayed %d inputs\n", files);
  return failures || files == 0 ? 1 : 0;
}
