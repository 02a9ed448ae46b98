// Speed and size of the MIVO codec on A4 600 dpi CMYK pages (4960 x 7016,
// four bytes per pixel), coded as the compression filter codes them; every
// output is decoded and compared with the page. Built and run by
// mivo_bench.sh.
//   mivo_codec_bench                    synthetic pages, beside zlib level 1
//                                       and lz4 on the same bytes
//   mivo_codec_bench --real NAME FILE   a raw CMYK page file, MIVO only
//   mivo_codec_bench --write-page KIND|FILE OUT
//                                       one page as a ZT raster stream: a
//                                       synthetic kind or a raw CMYK file
#include <lz4.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mivocore.h"
#include "ztraster.h"

namespace {

constexpr int kWidth = 4960;
constexpr int kHeight = 7016;
constexpr size_t kLine = kWidth * 4;

// Mostly white with rows of small black marks (CMYK white is 0).
void TextPage(std::vector<unsigned char>& p) {
  std::mt19937 rng(1);
  std::fill(p.begin(), p.end(), 0);
  for (int y = 300; y < kHeight - 300; ++y) {
    if ((y / 50) % 2) continue;  // a text row of 50 lines, then a gap
    if ((y % 50) < 8 || (y % 50) > 42) continue;
    for (int x = 300; x < kWidth - 300; ++x) {
      if (rng() % 9 == 0) {
        int len = 2 + rng() % 6;
        for (int k = 0; k < len; ++k) p[static_cast<size_t>(y) * kLine + (x + k) * 4 + 3] = 255;
        x += len + rng() % 10;
      }
    }
  }
}

// Large flat areas of a few colours.
void FlatPage(std::vector<unsigned char>& p) {
  std::fill(p.begin(), p.end(), 0);
  const unsigned char colours[4][4] = {{200, 0, 0, 0}, {0, 180, 40, 0}, {30, 30, 200, 10}, {0, 0, 0, 255}};
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      std::memcpy(&p[static_cast<size_t>(y) * kLine + x * 4], colours[(x / 1200 + y / 1700) % 4], 4);
}

// Smooth gradients with noise, like a photo.
void PhotoPage(std::vector<unsigned char>& p) {
  std::mt19937 rng(3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 4; ++c) {
        int v = (x * (c + 1) / 40 + y / (30 + 10 * c)) % 256 + static_cast<int>(rng() % 7) - 3;
        p[static_cast<size_t>(y) * kLine + x * 4 + c] = static_cast<unsigned char>(std::clamp(v, 0, 255));
      }
}

struct Memory {
  const unsigned char* data;
  size_t size;
  size_t pos;
};

size_t ReadMemory(void* ctx, unsigned char* buf, size_t n) {
  auto* m = static_cast<Memory*>(ctx);
  size_t k = std::min(n, m->size - m->pos);
  std::memcpy(buf, m->data + m->pos, k);
  m->pos += k;
  return k;
}

size_t AppendVector(void* ctx, const unsigned char* buf, size_t n) {
  auto* v = static_cast<std::vector<unsigned char>*>(ctx);
  v->insert(v->end(), buf, buf + n);
  return n;
}

// Compares decoded lines with the page (coded lines are wider than the
// page's lines: the padding pixels are skipped).
struct Check {
  const unsigned char* page;
  size_t line;
  size_t lines;
  bool same;
};

size_t CheckLine(void* ctx, const unsigned char* buf, size_t n) {
  auto* c = static_cast<Check*>(ctx);
  if (std::memcmp(buf, c->page + c->line * c->lines, kLine) != 0) c->same = false;
  ++c->lines;
  return n;
}

// The compression filter's parameter set for a colour page.
mivo::Info FilterInfo() {
  mivo::Info info;
  info.run_table = 1;
  info.error_table = 1;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.multi_stream = true;
  info.ihdr_level = 195;
  info.width = (kWidth / 8) * 8 + 8;
  info.height = kHeight;
  info.image_bit = 32;
  info.initial_component = 255;
  int differ[5] = {1, 129, 128, 130, 131};
  std::copy(differ, differ + 5, info.differ);
  info.intake.source_width = kWidth;
  return info;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Each codec runs this many times per page; the best time counts, because
// the machine is shared and a single run picks up other load.
constexpr int kRepeats = 3;

struct Result {
  double encode = 1e30;  // best seconds
  double decode = 1e30;
  size_t coded = 0;
  bool same = true;      // the decoded bytes equal the page
};

Result RunMivo(const std::vector<unsigned char>& page) {
  Result res;
  std::vector<unsigned char> streams[5];
  for (int rep = 0; rep < kRepeats; ++rep) {
    mivo::Info info = FilterInfo();
    Memory in{page.data(), page.size(), 0};
    info.callback_in = ReadMemory;
    info.in_context[0] = &in;
    info.callback_out = AppendVector;
    for (int i = 0; i < 5; ++i) {
      streams[i].clear();
      info.out_context[i] = &streams[i];
    }
    auto t0 = std::chrono::steady_clock::now();
    {
      mivo::CoreEnc enc(info);
      for (int y = 0; y < kHeight; ++y) enc.encode_line();
      enc.terminate(mivo::MARKER_EOI);
    }
    res.encode = std::min(res.encode, Seconds(t0));
  }
  for (auto& s : streams) res.coded += s.size();

  for (int rep = 0; rep < kRepeats; ++rep) {
    mivo::Info dinfo = FilterInfo();
    Memory sin[5];
    for (int i = 0; i < 5; ++i) {
      sin[i] = Memory{streams[i].data(), streams[i].size(), 0};
      dinfo.in_context[i] = &sin[i];
    }
    Check check{page.data(), kLine, 0, true};
    dinfo.callback_in = ReadMemory;
    dinfo.callback_out = CheckLine;
    dinfo.out_context[0] = &check;
    auto t0 = std::chrono::steady_clock::now();
    {
      mivo::CoreDec dec(dinfo);
      for (int y = 0; y < kHeight; ++y) dec.decode_line();
      dec.terminate();
    }
    res.decode = std::min(res.decode, Seconds(t0));
    res.same = res.same && check.same && check.lines == kHeight;
  }
  return res;
}

// zlib level 1 on the page as one buffer (compress2 / uncompress).
Result RunZlib(const std::vector<unsigned char>& page, std::vector<unsigned char>& back) {
  Result res;
  std::vector<unsigned char> z(compressBound(page.size()));
  uLongf zlen = 0;
  for (int rep = 0; rep < kRepeats; ++rep) {
    zlen = z.size();
    auto t0 = std::chrono::steady_clock::now();
    if (compress2(z.data(), &zlen, page.data(), page.size(), 1) != Z_OK) res.same = false;
    res.encode = std::min(res.encode, Seconds(t0));
  }
  res.coded = zlen;
  for (int rep = 0; rep < kRepeats; ++rep) {
    uLongf blen = back.size();
    auto t0 = std::chrono::steady_clock::now();
    if (uncompress(back.data(), &blen, z.data(), zlen) != Z_OK || blen != page.size()) res.same = false;
    res.decode = std::min(res.decode, Seconds(t0));
  }
  res.same = res.same && back == page;
  return res;
}

// lz4 (default acceleration) on the page as one buffer. The page is below
// LZ4_MAX_INPUT_SIZE, so one block call codes it.
Result RunLz4(const std::vector<unsigned char>& page, std::vector<unsigned char>& back) {
  Result res;
  const int n = static_cast<int>(page.size());
  std::vector<char> z(static_cast<size_t>(LZ4_compressBound(n)));
  int zlen = 0;
  for (int rep = 0; rep < kRepeats; ++rep) {
    auto t0 = std::chrono::steady_clock::now();
    zlen = LZ4_compress_default(reinterpret_cast<const char*>(page.data()), z.data(), n, static_cast<int>(z.size()));
    res.encode = std::min(res.encode, Seconds(t0));
  }
  if (zlen <= 0) res.same = false;
  res.coded = zlen > 0 ? static_cast<size_t>(zlen) : 0;
  for (int rep = 0; rep < kRepeats; ++rep) {
    auto t0 = std::chrono::steady_clock::now();
    const int got = LZ4_decompress_safe(z.data(), reinterpret_cast<char*>(back.data()), zlen, n);
    res.decode = std::min(res.decode, Seconds(t0));
    if (got != n) res.same = false;
  }
  res.same = res.same && back == page;
  return res;
}

void Print(const char* page, const char* codec, const Result& r, size_t size) {
  const double mb = static_cast<double>(size) / 1e6;
  std::printf("%-8s %-7s %8.3f %9.0f %8.3f %9.0f %12zu %8.1f%s\n", page, codec, r.encode, mb / r.encode, r.decode,
              mb / r.decode, r.coded, r.coded ? static_cast<double>(size) / r.coded : 0.0,
              r.same ? "" : "  DECODED PAGE DIFFERS");
}

void Run(const char* name, const std::vector<unsigned char>& page, std::vector<unsigned char>& back) {
  Print(name, "MIVO", RunMivo(page), page.size());
  Print(name, "zlib-1", RunZlib(page, back), page.size());
  Print(name, "lz4", RunLz4(page, back), page.size());
}

}  // namespace

// Reads a raw CMYK page of kWidth x kHeight pixels.
bool LoadPage(const char* path, std::vector<unsigned char>& page) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  bool ok = std::fread(page.data(), 1, page.size(), f) == page.size();
  std::fclose(f);
  return ok;
}

// Writes one page as a ZT raster stream for the filter benchmark.
int WritePage(const std::string& kind, const char* path) {
  std::vector<unsigned char> page(kLine * kHeight);
  if (kind == "text") {
    TextPage(page);
  } else if (kind == "photo") {
    PhotoPage(page);
  } else if (kind == "flat") {
    FlatPage(page);
  } else if (!LoadPage(kind.c_str(), page)) {
    std::fprintf(stderr, "ERROR: cannot read the page %s\n", kind.c_str());
    return 1;
  }
  ZTRasterHeader h{};
  h.width = kWidth;
  h.height = kHeight;
  h.bitsPerPixel = 32;
  h.bytesPerLine = static_cast<int32_t>(kLine);
  h.pageBytes = static_cast<int32_t>(page.size());
  h.resolutionX = h.resolutionY = 600;
  h.colorSpace = ZT_CS_CMYK;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  FILE* f = std::fopen(path, "wb");
  if (!f) return 1;
  bool ok = std::fwrite(&h, sizeof h, 1, f) == 1 && std::fwrite(page.data(), 1, page.size(), f) == page.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}

int main(int argc, char* argv[]) {
  if (argc == 4 && std::string(argv[1]) == "--write-page") return WritePage(argv[2], argv[3]);
  std::vector<unsigned char> page(kLine * kHeight);
  if (argc == 4 && std::string(argv[1]) == "--real") {
    if (!LoadPage(argv[3], page)) {
      std::fprintf(stderr, "ERROR: cannot read the page %s\n", argv[3]);
      return 1;
    }
    Print(argv[2], "MIVO", RunMivo(page), page.size());
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--heading") {
    std::printf("%-8s %-7s %8s %9s %8s %9s %12s %8s\n", "page", "codec", "enc s", "enc MB/s", "dec s", "dec MB/s",
                "coded bytes", "ratio");
    return 0;
  }
  std::vector<unsigned char> back(kLine * kHeight);
  std::printf("A4 600 dpi CMYK page (%d x %d, %.0f MB); MIVO with the compression filter's settings,\n"
              "zlib level 1 and lz4 on the same bytes; best of %d runs; MB/s of uncoded bytes\n",
              kWidth, kHeight, page.size() / 1e6, kRepeats);
  std::printf("%-8s %-7s %8s %9s %8s %9s %12s %8s\n", "page", "codec", "enc s", "enc MB/s", "dec s", "dec MB/s",
              "coded bytes", "ratio");
  TextPage(page);
  Run("text", page, back);
  FlatPage(page);
  Run("flat", page, back);
  PhotoPage(page);
  Run("photo", page, back);
  return 0;
}
