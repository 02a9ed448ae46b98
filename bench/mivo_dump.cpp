// Prints what the MIVO codec makes of a set of inputs, one line per case, so
// that two builds of the codec can be compared line by line (see
// mivo_same_output.sh). Uses only the codec's public interface.
//
//   mivo_dump random FIRST COUNT   seeded random images and parameter sets
//   mivo_dump tests                the images of the codec's round-trip tests
//   mivo_dump page FILE W H        a raw CMYK page with the compression
//                                  filter's settings (colour, lead pixels,
//                                  monochrome)
//
// Per case: a hash of every code stream and its length (or the encoder's
// exception), then, for the intact streams, for streams cut short and for
// streams with bytes changed, a hash of the decoded bytes with the number of
// lines and the decoder's exception.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mivocore.h"
#include "mivotestutil.h"

namespace {

uint64_t Fnv(const std::string& s) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ULL;
  return h;
}

struct Source {
  const std::string* data;
  size_t pos;
  std::mt19937* chunks;  // null: deliver what is asked
};

size_t ReadSource(void* ctx, unsigned char* buf, size_t n) {
  auto* s = static_cast<Source*>(ctx);
  size_t k = std::min(n, s->data->size() - s->pos);
  if (s->chunks && k > 1) k = 1 + (*s->chunks)() % k;
  std::memcpy(buf, s->data->data() + s->pos, k);
  s->pos += k;
  return k;
}

size_t Append(void* ctx, const unsigned char* buf, size_t n) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
  return n;
}

struct LinePlan {
  int marker = mivo::MARKER_NONE;
  int data = 0;
  std::string text;  // inserted before the line when not empty
};

// Encodes height lines of image; returns the exception text or "".
std::string Encode(const mivo::Info& info, const std::string& image, const std::vector<LinePlan>& plan,
                   std::string streams[mivo::MAX_STREAMS]) {
  mivo::Info e = info;
  Source src{&image, 0, nullptr};
  e.callback_in = ReadSource;
  e.in_context[0] = &src;
  e.callback_out = Append;
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) e.out_context[i] = &streams[i];
  try {
    mivo::CoreEnc enc(e);
    for (int y = 0; y < info.height; ++y) {
      const LinePlan& p = plan[static_cast<size_t>(y)];
      if (!p.text.empty())
        enc.insert_marker(mivo::MARKER_TEXT, reinterpret_cast<const unsigned char*>(p.text.data()), p.text.size());
      enc.encode_line(p.marker, p.data);
    }
    enc.terminate(mivo::MARKER_EOI);
  } catch (const mivo::Exception& ex) {
    return ex.what();
  }
  return "";
}

size_t AppendText(void* ctx, const unsigned char* buf, size_t n) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
  return n;
}

// Decodes lines lines; the result line names the hash of the output, the
// lines written, the bytes consumed and the exception.
std::string Decode(const mivo::Info& info, const std::string streams[mivo::MAX_STREAMS], int lines, uint32_t seed) {
  mivo::Info d = info;
  std::mt19937 chunks(seed);
  Source src[mivo::MAX_STREAMS];
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
    src[i] = Source{&streams[i], 0, seed ? &chunks : nullptr};
    d.in_context[i] = &src[i];
  }
  std::string out, texts;
  d.callback_in = ReadSource;
  d.callback_out = Append;
  d.out_context[0] = &out;
  d.callback_text = [](void* ctx, const unsigned char* t, size_t n) { AppendText(ctx, t, n); };
  d.text_context = &texts;
  std::string error;
  int done = 0;
  uint64_t consumed = 0;
  try {
    mivo::CoreDec dec(d);
    for (; done < lines; ++done) dec.decode_line();
    consumed = dec.terminate();
  } catch (const mivo::Exception& ex) {
    error = ex.what();
  }
  char line[160];
  std::snprintf(line, sizeof line, "%016llx/%d/%llu/%016llx", static_cast<unsigned long long>(Fnv(out)), done,
                static_cast<unsigned long long>(consumed), static_cast<unsigned long long>(Fnv(texts)));
  return std::string(line) + (error.empty() ? "" : " [" + error + "]");
}

// Encodes, then decodes intact, cut and changed streams; prints one line.
void RunCase(const std::string& name, const mivo::Info& info, const std::string& image,
             const std::vector<LinePlan>& plan, uint32_t seed) {
  std::string streams[mivo::MAX_STREAMS];
  std::string error = Encode(info, image, plan, streams);
  std::printf("%s enc", name.c_str());
  for (const auto& s : streams) std::printf(" %zu:%016llx", s.size(), static_cast<unsigned long long>(Fnv(s)));
  if (!error.empty()) {
    std::printf(" [%s]\n", error.c_str());
    return;
  }
  std::printf(" dec %s", Decode(info, streams, info.height, 0).c_str());
  std::printf(" chunked %s", Decode(info, streams, info.height, seed | 1).c_str());
  std::mt19937 rng(seed ^ 0x9e3779b9u);
  for (int variant = 0; variant < 2; ++variant) {
    std::string bad[mivo::MAX_STREAMS];
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
      bad[i] = streams[i];
      if (bad[i].empty()) continue;
      if (variant == 0) {
        bad[i].resize(rng() % bad[i].size());
      } else {
        for (int k = 0; k < 3; ++k) bad[i][rng() % bad[i].size()] = static_cast<char>(rng());
      }
    }
    std::printf(" %s %s", variant == 0 ? "cut" : "changed", Decode(info, bad, info.height, rng()).c_str());
  }
  std::printf("\n");
}

// ---- Seeded random cases ----------------------------------------------------

// Image bytes with runs, repeats of the line above, few colours and noise.
std::string RandomImage(std::mt19937& rng, size_t bpl, int height, int comps) {
  std::string img(bpl * static_cast<size_t>(height), '\0');
  const int style = static_cast<int>(rng() % 5);
  std::vector<unsigned char> palette(4 * static_cast<size_t>(comps));
  for (auto& c : palette) c = static_cast<unsigned char>(rng() % 4 == 0 ? 255 : rng());
  for (int y = 0; y < height; ++y) {
    char* line = &img[static_cast<size_t>(y) * bpl];
    if (y > 0 && rng() % 4 == 0) {
      std::memcpy(line, line - bpl, bpl);
      if (rng() % 2) line[rng() % bpl] = static_cast<char>(rng());
      continue;
    }
    for (size_t i = 0; i < bpl;) {
      const size_t pixel = static_cast<size_t>(comps);
      const size_t len = std::min(bpl - i, pixel * (1 + rng() % (style == 0 ? 2 : 40)));
      const int kind = style == 4 ? 0 : static_cast<int>(rng() % 4);
      for (size_t k = 0; k < len; ++k) {
        unsigned char b;
        if (kind == 0) {
          b = static_cast<unsigned char>(rng());
        } else if (kind == 1 && y > 0) {
          b = static_cast<unsigned char>(line[i + k - bpl] + static_cast<int>(rng() % 3) - 1);
        } else {
          b = palette[(kind % 4) * pixel + (i + k) % pixel];
        }
        line[i + k] = static_cast<char>(b);
      }
      i += len;
    }
  }
  return img;
}

// The parameter set the compression filter codes a page of `width` source
// pixels with.
mivo::Info FilterInfo(int width, int height, bool colour, bool lead) {
  mivo::Info info;
  info.run_table = 1;
  info.error_table = 1;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.multi_stream = true;
  info.ihdr_level = 195;
  info.width = width / 8 * 8 + 8 + (lead ? 8 : 0);
  info.height = height;
  info.image_bit = colour ? 32 : 8;
  info.initial_component = colour ? 255 : 0;
  const int differ[5] = {1, 129, 128, 130, colour ? 131 : 8};
  std::copy(differ, differ + 5, info.differ);
  info.intake.source_width = width;
  info.intake.lead_pixels = lead;
  return info;
}

int Pick(std::mt19937& rng, std::initializer_list<int> values) {
  return *(values.begin() + rng() % values.size());
}

void RandomCase(uint32_t seed) {
  std::mt19937 rng(seed);
  mivo::Info info;
  const bool filter = rng() % 3 == 0;  // the compression filter's settings
  const bool big = rng() % 12 == 0;    // streams longer than the codec's blocks
  const int width8 = 8 * static_cast<int>(1 + rng() % (big ? 80 : 10));
  int width = width8 + Pick(rng, {-1, 0, 1, 3, 7});
  if (width < 1) width = 1;
  const int height = big ? 40 + static_cast<int>(rng() % 60) : static_cast<int>(rng() % 24);
  if (filter) {
    const bool colour = rng() % 3 != 0;
    const bool lead = rng() % 2 == 0;
    info = FilterInfo(width, height, colour, lead);
    std::string image = RandomImage(rng, static_cast<size_t>(width) * 4, height, 4);
    RunCase("seed" + std::to_string(seed) + (colour ? "-colour" : "-mono") + (lead ? "-lead" : ""), info, image,
            std::vector<LinePlan>(static_cast<size_t>(height)), seed);
    return;
  }
  static const int kDiffer[] = {1, 2, 3, 5, 8, 32, 128, 129, 130, 131, 240, 241, 255};
  info.image_bit = Pick(rng, {1, 2, 4, 8, 8, 16, 24, 32, 32, 32});
  info.tag_bits = rng() % 3 == 0 ? static_cast<int>(rng() % 4) : 0;
  info.tag_position = static_cast<int>(rng() % 2);
  info.tag_method = 1 + static_cast<int>(rng() % 3);
  info.error_method = 1 + static_cast<int>(rng() % 3);
  info.error_table = 1 + static_cast<int>(rng() % 4);
  info.run_table = 1 + static_cast<int>(rng() % 2);
  info.marker_table = 5 + static_cast<int>(rng() % 2);
  info.max_run = rng() % 3 == 0 ? 1 + static_cast<int>(rng() % 50) : 0;
  info.multi_stream = rng() % 2 == 0;
  info.width = width;
  info.height = height;
  info.initial_component = static_cast<uint8_t>(rng() % 2 ? 255 : rng());
  info.initial_tag = static_cast<uint8_t>(rng() % 8);
  bool ruc = false;
  for (int i = 0; i < 5; ++i) {
    int d = kDiffer[rng() % (sizeof kDiffer / sizeof kDiffer[0])];
    if (d == 240 && ruc) d = 129;
    ruc = ruc || d == 240;
    info.differ[i] = d;
  }
  if (info.differ[0] == 255) info.differ[0] = 129;
  int valid = 0;
  while (valid < 5 && info.differ[valid] != 255) ++valid;
  info.selected_differ = static_cast<int>(rng() % static_cast<unsigned>(valid));
  if (info.image_bit == 24 && rng() % 4 == 0) info.color_transform = 1 + static_cast<int>(rng() % 2);
  if (info.color_transform) info.chroma_mode = 1;

  mivo::Info n = info;
  try {
    n.normalize_mivo_info();
  } catch (const mivo::Exception& e) {
    std::printf("seed%u info [%s]\n", seed, e.what());
    return;
  }
  std::string image = RandomImage(rng, n.bytes_per_line, height, n.components);
  if (info.tag_bits) {
    const size_t comps = static_cast<size_t>(n.components);
    const size_t at = info.tag_position == 1 ? 0 : comps - 1;
    for (size_t i = at; i < image.size(); i += comps) image[i] = static_cast<char>(image[i] & ((1 << info.tag_bits) - 1));
  }
  std::vector<LinePlan> plan(static_cast<size_t>(height));
  if (info.marker_table == mivo::MARKER_TABLE_6) {
    for (int y = 0; y < height; ++y) {
      LinePlan& p = plan[static_cast<size_t>(y)];
      const unsigned r = rng() % 16;
      if (r == 0) p.marker = mivo::MARKER_RAW;
      if (r == 1) p.marker = mivo::MARKER_RUN_BREAK;
      if (r == 2) p.marker = mivo::MARKER_EOB;
      if (r == 3) p.text = "t" + std::to_string(y);
    }
  }
  RunCase("seed" + std::to_string(seed), info, image, plan, seed);
}

// ---- The round-trip tests' images ------------------------------------------

struct Config {
  const char* name;
  int image_bit, tag_bits, tag_position, tag_method, error_method, error_table, run_table, marker_table;
  bool multi;
  int differ[5];
  int selected, max_run, initial, width, height;
};

const Config kConfigs[] = {
    {"FilterColour", 32, 0, 0, 2, 1, 1, 1, 5, true, {1, 129, 128, 130, 131}, 0, 0, 255, 45, 21},
    {"FilterMono", 8, 0, 0, 2, 1, 1, 1, 5, true, {1, 129, 128, 130, 8}, 0, 0, 0, 61, 19},
    {"GreyXorT2", 8, 0, 0, 2, 2, 2, 1, 6, false, {1, 129, 128, 130, 131}, 2, 0, 7, 33, 17},
    {"RgbRawT3", 24, 0, 0, 2, 3, 3, 2, 6, false, {129, 1, 2, 3, 130}, 1, 0, 255, 29, 15},
    {"Two16T4", 16, 0, 0, 2, 1, 4, 1, 6, true, {1, 129, 128, 130, 131}, 4, 0, 0, 27, 13},
    {"Bit1", 1, 0, 0, 2, 2, 3, 1, 6, false, {1, 129, 128, 130, 5}, 0, 0, 0, 100, 20},
    {"Bit4Tag2", 4, 2, 0, 2, 1, 2, 2, 6, false, {1, 129, 128, 130, 131}, 1, 0, 0, 30, 12},
    {"CmykTag3First", 32, 3, 1, 1, 1, 1, 1, 6, true, {1, 129, 128, 130, 131}, 0, 0, 255, 23, 14},
    {"RgbTag1Raw", 24, 1, 0, 3, 2, 1, 2, 6, true, {1, 129, 128, 130, 131}, 0, 0, 128, 19, 11},
    {"RucList", 8, 0, 0, 2, 1, 1, 1, 6, false, {240, 129, 2, 241, 255}, 1, 0, 9, 41, 16},
    {"RucCmyk", 32, 0, 0, 2, 1, 2, 1, 6, true, {1, 240, 129, 32, 131}, 2, 0, 0, 37, 12},
    {"ShortRuns", 32, 0, 0, 2, 1, 1, 2, 6, true, {1, 129, 128, 130, 131}, 0, 3, 255, 40, 12},
    {"ConstPredict", 8, 0, 0, 2, 1, 1, 1, 6, false, {241, 1, 129, 255, 255}, 0, 0, 200, 25, 9},
    {"OneColumn", 32, 0, 0, 2, 1, 1, 1, 5, true, {1, 129, 128, 130, 131}, 0, 0, 255, 1, 30},
};

void TestCases() {
  using mivotest::Pattern;
  const Pattern patterns[] = {Pattern::kNoise,  Pattern::kText,    Pattern::kFlat,       Pattern::kGradient,
                              Pattern::kRepeat, Pattern::kStripes, Pattern::kTwoColours, Pattern::kWhite};
  for (const Config& c : kConfigs) {
    mivo::Info info;
    info.width = c.width;
    info.height = c.height;
    info.image_bit = c.image_bit;
    info.tag_bits = c.tag_bits;
    info.tag_position = c.tag_position;
    info.tag_method = c.tag_method;
    info.error_method = c.error_method;
    info.error_table = c.error_table;
    info.run_table = c.run_table;
    info.marker_table = c.marker_table;
    info.multi_stream = c.multi;
    std::copy(c.differ, c.differ + 5, info.differ);
    info.selected_differ = c.selected;
    info.max_run = c.max_run;
    info.initial_component = static_cast<uint8_t>(c.initial);
    info.initial_tag = static_cast<uint8_t>(c.tag_bits ? 1 : 0);
    mivo::Info n = info;
    n.normalize_mivo_info();
    for (Pattern p : patterns) {
      std::string image = mivotest::MakeImage(p, n.bytes_per_line, c.height, n.components, 1234u + c.width);
      if (info.tag_bits) {
        const size_t comps = static_cast<size_t>(n.components);
        const size_t at = info.tag_position == 1 ? 0 : comps - 1;
        for (size_t i = at; i < image.size(); i += comps)
          image[i] = static_cast<char>(image[i] & ((1 << info.tag_bits) - 1));
      }
      RunCase(std::string(c.name) + "-" + mivotest::PatternName(p), info, image,
              std::vector<LinePlan>(static_cast<size_t>(c.height)), static_cast<uint32_t>(c.width));
    }
  }
}

// ---- A raw CMYK page with the filter's settings -----------------------------

int PageCases(const char* path, int width, int height) {
  std::string page(static_cast<size_t>(width) * 4 * static_cast<size_t>(height), '\0');
  FILE* f = std::fopen(path, "rb");
  if (!f) return 1;
  const bool ok = std::fread(&page[0], 1, page.size(), f) == page.size();
  std::fclose(f);
  if (!ok) return 1;
  for (int variant = 0; variant < 3; ++variant) {
    const bool colour = variant != 2;
    const bool lead = variant == 1;
    mivo::Info info = FilterInfo(width, height, colour, lead);
    RunCase(std::string(path) + (colour ? "-colour" : "-mono") + (lead ? "-lead" : ""), info, page,
            std::vector<LinePlan>(static_cast<size_t>(height)), 7u + static_cast<uint32_t>(variant));
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "random" && argc == 4) {
    const uint32_t first = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const uint32_t count = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    for (uint32_t s = first; s < first + count; ++s) RandomCase(s);
    return 0;
  }
  if (mode == "tests" && argc == 2) {
    TestCases();
    return 0;
  }
  if (mode == "page" && argc == 5) {
    if (PageCases(argv[2], std::atoi(argv[3]), std::atoi(argv[4])) != 0) {
      std::fprintf(stderr, "ERROR: cannot read the page %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "usage: mivo_dump random FIRST COUNT | tests | page FILE WIDTH HEIGHT\n");
  return 2;
}
