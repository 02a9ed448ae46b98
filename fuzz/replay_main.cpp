// Runs a fuzz harness over saved inputs without libFuzzer, for ctest: every
// file named on the command line, or every file of a named folder. With
// --write-seeds DIR it writes the harness's seed corpus instead.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
int ZTFuzzWriteSeeds(const char* dir);

int main(int argc, char* argv[]) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") return ZTFuzzWriteSeeds(argv[2]);
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& e : std::filesystem::directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.emplace_back(argv[i]);
    }
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      if (!in) {
        fprintf(stderr, "cannot read %s\n", f.c_str());
        return 1;
      }
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++runs;
    }
  }
  // Standard output may belong to the harness: the count goes to stderr.
  fprintf(stderr, "%d inputs replayed\n", runs);
  return runs > 0 ? 0 : 1;
}
