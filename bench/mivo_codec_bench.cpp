// Speed and size of the MIVO codec on synthetic A4 600 dpi CMYK pages
// (4960 x 7016, four bytes per pixel), coded as the compression filter codes
// them, beside zlib level 1 on the same bytes. Built and run by mivo_bench.sh.
#include <zlib.h>

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

void Run(const char* name, const std::vector<unsigned char>& page) {
  const double mb = static_cast<double>(page.size()) / 1e6;
  mivo::Info info = FilterInfo();
  Memory in{page.data(), page.size(), 0};
  std::vector<unsigned char> streams[5];
  info.callback_in = ReadMemory;
  info.in_context[0] = &in;
  info.callback_out = AppendVector;
  for (int i = 0; i < 5; ++i) info.out_context[i] = &streams[i];
  auto t0 = std::chrono::steady_clock::now();
  {
    mivo::CoreEnc enc(info);
    for (int y = 0; y < kHeight; ++y) enc.encode_line();
    enc.terminate(mivo::MARKER_EOI);
  }
  double enc = Seconds(t0);
  size_t coded = 0;
  for (auto& s : streams) coded += s.size();

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
  t0 = std::chrono::steady_clock::now();
  {
    mivo::CoreDec dec(dinfo);
    for (int y = 0; y < kHeight; ++y) dec.decode_line();
    dec.terminate();
  }
  double dec = Seconds(t0);

  uLongf zlen = compressBound(page.size());
  std::vector<unsigned char> z(zlen);
  t0 = std::chrono::steady_clock::now();
  compress2(z.data(), &zlen, page.data(), page.size(), 1);
  double zt = Seconds(t0);

  if (!check.same || check.lines != kHeight) std::printf("%s: DECODED PAGE DIFFERS\n", name);
  std::printf("%-6s  encode %6.3f s %7.0f MB/s  decode %6.3f s %7.0f MB/s  coded %10zu ratio %7.1f | zlib-1 %6.3f s %6.0f MB/s ratio %7.1f\n",
              name, enc, mb / enc, dec, mb / dec, coded, static_cast<double>(page.size()) / coded, zt, mb / zt,
              static_cast<double>(page.size()) / zlen);
}

}  // namespace

// Writes one page as a ZT raster stream for the filter benchmark.
int WritePage(const std::string& kind, const char* path) {
  std::vector<unsigned char> page(kLine * kHeight);
  if (kind == "text") {
    TextPage(page);
  } else if (kind == "photo") {
    PhotoPage(page);
  } else {
    FlatPage(page);
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
  std::printf("MIVO codec, A4 600 dpi CMYK page (%d x %d, %.0f MB), the compression filter's settings\n", kWidth,
              kHeight, page.size() / 1e6);
  TextPage(page);
  Run("text", page);
  FlatPage(page);
  Run("flat", page);
  PhotoPage(page);
  Run("photo", page);
  return 0;
}
