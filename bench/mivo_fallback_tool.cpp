// Helper of the fallback benchmark in mivo_bench.sh.
//   mivo_fallback_tool wrap RAW WIDTH HEIGHT X0 Y0 CW CH OUT
//       one ZT raster page of the CW x CH crop at (X0, Y0) of a raw CMYK
//       image of WIDTH x HEIGHT four-byte pixels
//   mivo_fallback_tool psnr PAGE CODED
//       decodes the first coded page of CODED with the codec library and
//       compares its image pixels (lead pixels and fill excluded) with the
//       first page of PAGE: prints coded bytes, CMYK PSNR in dB, the largest
//       error and the share of changed pixels
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mivocore.h"
#include "ztraster.h"

namespace {

int Wrap(char** argv) {
  const long width = std::atol(argv[1]), height = std::atol(argv[2]);
  const long x0 = std::atol(argv[3]), y0 = std::atol(argv[4]), cw = std::atol(argv[5]), ch = std::atol(argv[6]);
  if (width <= 0 || height <= 0 || x0 < 0 || y0 < 0 || cw <= 0 || ch <= 0 || x0 + cw > width || y0 + ch > height) {
    std::fprintf(stderr, "ERROR: bad crop\n");
    return 1;
  }
  FILE* in = std::fopen(argv[0], "rb");
  FILE* out = std::fopen(argv[7], "wb");
  if (!in || !out) {
    std::fprintf(stderr, "ERROR: cannot open files\n");
    return 1;
  }
  ZTRasterHeader h{};
  h.width = static_cast<int32_t>(cw);
  h.height = static_cast<int32_t>(ch);
  h.bitsPerPixel = 32;
  h.bytesPerLine = static_cast<int32_t>(cw * 4);
  h.pageBytes = static_cast<int32_t>(cw * 4 * ch);
  h.resolutionX = h.resolutionY = 600;
  h.colorSpace = ZT_CS_CMYK;
  h.copies = 1;
  h.pageWidth = 595;
  h.pageHeight = 842;
  bool ok = std::fwrite(&h, sizeof h, 1, out) == 1;
  std::vector<unsigned char> line(static_cast<size_t>(width) * 4);
  for (long y = 0; ok && y < y0 + ch; ++y) {
    ok = std::fread(line.data(), 1, line.size(), in) == line.size();
    if (ok && y >= y0) ok = std::fwrite(line.data() + x0 * 4, 1, static_cast<size_t>(cw) * 4, out) == static_cast<size_t>(cw) * 4;
  }
  ok = std::fclose(out) == 0 && ok;
  std::fclose(in);
  if (!ok) std::fprintf(stderr, "ERROR: short raw image or write failure\n");
  return ok ? 0 : 1;
}

struct Stream {
  std::vector<unsigned char> bytes;
  size_t pos = 0;
};

size_t ReadStream(void* context, unsigned char* buffer, size_t n) {
  auto* s = static_cast<Stream*>(context);
  size_t k = std::min(n, s->bytes.size() - s->pos);
  std::memcpy(buffer, s->bytes.data() + s->pos, k);
  s->pos += k;
  return k;
}

struct Compare {
  FILE* page;
  int width;
  int first;  // first image pixel of a coded line
  std::vector<unsigned char> source;
  double squares = 0;
  uint64_t samples = 0, pixels = 0, changed = 0;
  int largest = 0;
  bool ok = true;
};

size_t TakeLine(void* context, const unsigned char* line, size_t n) {
  auto* c = static_cast<Compare*>(context);
  if (std::fread(c->source.data(), 1, c->source.size(), c->page) != c->source.size()) c->ok = false;
  const unsigned char* coded = line + static_cast<size_t>(c->first) * 4;
  for (size_t i = 0; c->ok && i < c->source.size(); i += 4) {
    bool differs = false;
    for (size_t k = i; k < i + 4; ++k) {
      const int d = std::abs(static_cast<int>(coded[k]) - c->source[k]);
      c->squares += static_cast<double>(d) * d;
      differs = differs || d != 0;
      c->largest = std::max(c->largest, d);
    }
    c->changed += differs;
  }
  c->samples += c->source.size();
  c->pixels += c->source.size() / 4;
  return n;
}

int Psnr(char** argv) {
  FILE* page = std::fopen(argv[0], "rb");
  FILE* coded = std::fopen(argv[1], "rb");
  ZTRasterHeader in{}, out{};
  if (!page || !coded || std::fread(&in, sizeof in, 1, page) != 1 || std::fread(&out, sizeof out, 1, coded) != 1) {
    std::fprintf(stderr, "ERROR: cannot read the pages\n");
    return 1;
  }
  uint32_t words[4];
  if (out.colorSpace != ZT_CS_CMYK || out.pageBytes < 16 || std::fread(words, sizeof words, 1, coded) != 1) {
    std::fprintf(stderr, "ERROR: not a coded colour page\n");
    return 1;
  }
  Stream streams[mivo::MAX_STREAMS];
  const int order[mivo::MAX_STREAMS] = {0, 4, 1, 2, 3};
  uint64_t left = static_cast<uint64_t>(out.pageBytes) - 16;
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
    uint64_t n = i < 4 ? words[i] : left;
    if (n > left) return 1;
    left -= n;
    streams[order[i]].bytes.resize(n);
    if (std::fread(streams[order[i]].bytes.data(), 1, n, coded) != n) return 1;
  }
  const bool lead = out.encoding == ZT_ENC_MIVO_MONO;
  mivo::Info info;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.multi_stream = true;
  info.ihdr_level = mivo::IHDR_LEVEL_MAX;
  info.width = in.width / 8 * 8 + 8 + (lead ? mivo::LEAD_PIXEL_COUNT : 0);
  info.height = in.height;
  info.image_bit = 32;
  info.initial_component = 255;
  info.callback_in = ReadStream;
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) info.in_context[i] = &streams[i];
  Compare c{page, in.width, lead ? mivo::LEAD_PIXEL_COUNT : 0, std::vector<unsigned char>(in.width * 4u)};
  info.callback_out = TakeLine;
  info.out_context[0] = &c;
  try {
    mivo::CoreDec dec(info);
    for (int y = 0; y < in.height; ++y) dec.decode_line();
    dec.terminate();
  } catch (const mivo::Exception& e) {
    std::fprintf(stderr, "ERROR: %s\n", e.what());
    return 1;
  }
  if (!c.ok) return 1;
  const double mse = c.squares / static_cast<double>(c.samples);
  const double psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
  std::printf("%llu %.2f %d %.1f\n", static_cast<unsigned long long>(out.pageBytes) - 16, psnr, c.largest,
              100.0 * static_cast<double>(c.changed) / static_cast<double>(c.pixels));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 10 && std::string(argv[1]) == "wrap") return Wrap(argv + 2);
  if (argc == 4 && std::string(argv[1]) == "psnr") return Psnr(argv + 2);
  std::fprintf(stderr,
               "usage: mivo_fallback_tool wrap RAW WIDTH HEIGHT X0 Y0 CW CH OUT\n"
               "       mivo_fallback_tool psnr PAGE CODED\n");
  return 2;
}
