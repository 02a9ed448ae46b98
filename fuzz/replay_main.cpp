// Runs a fuzz harness over saved inputs without libFuzzer, for ctest: every
// file named on the command line, or every file of a named folder. With
// --prefixes every prefix of each input runs too, as truncated files are the
// common damage. With --write-seeds DIR it writes the harness's seed corpus
// instead (a harness that has one defines ZTFuzzWriteSeeds).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
__attribute__((weak)) int ZTFuzzWriteSeeds(const char* dir);

int main(int argc, char* argv[]) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
    if (ZTFuzzWriteSeeds) return ZTFuzzWriteSeeds(argv[2]);
    fprintf(stderr, "ERROR: this harness has no seed corpus\n");
    return 1;
  }
  int first = 1;
  const bool prefixes = argc > 1 && std::string(argv[1]) == "--prefixes";
  if (prefixes) ++first;
  int runs = 0;
  for (int i = first; i < argc; ++i) {
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
        fprintf(stderr, "ERROR: cannot read %s\n", f.c_str());
        return 1;
      }
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (prefixes)
        for (size_t len = 0; len < bytes.size(); len += 1 + len / 16) LLVMFuzzerTestOneInput(bytes.data(), len);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++runs;
    }
  }
  // Standard output may belong to the harness: the count goes to stderr.
  fprintf(stderr, "%d inputs replayed\n", runs);
  return runs > 0 ? 0 : 1;
}
