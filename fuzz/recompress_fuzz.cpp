// Fuzz harness of the fallback recompressor: the first bytes choose a page
// size, lead pixels and a threshold (a share of the page's coded size), the
// rest fills the page's CMYK pixels. The page is coded as the compression
// filter codes it, then recompressed with the filter's sequence of passes
// (first pass, the selected level, one step, the strongest setting). The new
// streams must decode with the same parameter set; a pass that reports a fit
// must have written at most the threshold; every sample may move by no more
// than the largest tolerance the pass used, and lead pixels and the fill
// after the image not at all.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_capture.h"
#include "mivorecompressor.h"

#define main ZTFuzzMain_ztmivo5
#include "../mivo/ztmivo5.cpp"
#undef main

namespace {

struct Source {
  const std::string* data;
  size_t pos;
};

size_t ReadSource(void* ctx, unsigned char* buf, size_t n) {
  auto* s = static_cast<Source*>(ctx);
  const size_t k = std::min(n, s->data->size() - s->pos);
  memcpy(buf, s->data->data() + s->pos, k);
  s->pos += k;
  return k;
}

size_t Append(void* ctx, const unsigned char* buf, size_t n) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
  return n;
}

using Streams = std::string[mivo::MAX_STREAMS];

// The decoded page in the coded layout; aborts when the streams do not decode.
std::string Decode(const mivo::Info& info, const Streams& streams) {
  std::string out;
  Source src[mivo::MAX_STREAMS];
  mivo::Info d = info;
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
    src[i] = Source{&streams[i], 0};
    d.in_context[i] = &src[i];
  }
  d.callback_in = ReadSource;
  d.callback_out = Append;
  d.out_context[0] = &out;
  try {
    mivo::CoreDec dec(d);
    for (int y = 0; y < info.height; ++y) dec.decode_line();
    dec.terminate();
  } catch (const mivo::Exception& e) {
    fprintf(stderr, "decoding failed: %s\n", e.what());
    abort();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int width = 1 + data[0] % 64;
  const int height = 1 + data[1] % 40;
  const bool lead = data[3] & 1;
  const uint8_t* body = data + 4;
  const size_t bodySize = size - 4;

  // The page as the filter reads it: width four-byte pixels per line.
  std::string page(static_cast<size_t>(width) * 4 * static_cast<size_t>(height), '\0');
  for (size_t i = 0; i < page.size() && bodySize > 0; ++i)
    page[i] = static_cast<char>(data[3] & 2 ? body[i % bodySize] : body[(i / 4) % bodySize] >> (i % 4));

  const mivo::Info info = MakePageInfo(width, height, 32, true, lead);
  Streams original;
  {
    mivo::Info e = info;
    Source src{&page, 0};
    e.callback_in = ReadSource;
    e.in_context[0] = &src;
    e.callback_out = Append;
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) e.out_context[i] = &original[i];
    mivo::CoreEnc enc(e);
    for (int y = 0; y < height; ++y) enc.encode_line();
    enc.terminate(mivo::MARKER_EOI);
  }
  uint64_t total = 0;
  for (const auto& s : original) total += s.size();
  const uint64_t threshold = std::max<uint64_t>(1, total * (data[2] + 1u) / 256u);
  const std::string reference = Decode(info, original);

  const int first = lead ? mivo::LEAD_PIXEL_COUNT : 0;
  mivo::Recompressor r(info, first, width, threshold);
  Source in[mivo::MAX_STREAMS];
  void* inContexts[mivo::MAX_STREAMS];
  auto rewind = [&]() {
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
      in[i] = Source{&original[i], 0};
      inContexts[i] = &in[i];
    }
  };
  rewind();
  const int level = r.first_pass(ReadSource, inContexts);
  if (level < 0 || level >= mivo::RECOMPRESS_LEVELS) abort();  // the page has image pixels
  r.apply_level(level);

  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt == 1) r.step();
    if (attempt == 2) r.set_strongest();
    Streams fresh;
    void* outContexts[mivo::MAX_STREAMS];
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) outContexts[i] = &fresh[i];
    rewind();
    const int result = r.pass(ReadSource, inContexts, Append, outContexts);
    if (result != 0 && result != mivo::RECOMPRESS_TOO_LARGE) abort();
    uint64_t written = 0;
    for (const auto& s : fresh) written += s.size();
    if (written != r.last_size()) abort();
    if (result == 0 && written > threshold) abort();

    const std::string decoded = Decode(info, fresh);
    if (decoded.size() != reference.size()) abort();
    const size_t line = reference.size() / static_cast<size_t>(height);
    for (size_t i = 0; i < decoded.size(); ++i) {
      const int column = static_cast<int>(i % line / 4);
      const int diff = std::abs(static_cast<unsigned char>(decoded[i]) - static_cast<unsigned char>(reference[i]));
      const bool image = column >= first && column < first + width;
      if (diff > (image ? r.largest_tolerance() : 0)) abort();
    }
    if (result == 0) break;
  }
  return 0;
}

// Seeds: flat, striped and noisy pages, with and without lead pixels, under
// thresholds from a small share of the coded size to all of it.
int ZTFuzzWriteSeeds(const char* dir) {
  for (int n = 0; n < 12; ++n) {
    std::string s;
    s += static_cast<char>(7 + n * 5);
    s += static_cast<char>(3 + n * 3);
    s += static_cast<char>(n * 23);
    s += static_cast<char>(n % 4);
    for (int i = 0; i < 40 + n * 20; ++i)
      s += static_cast<char>(n % 3 == 0 ? (i / 9) * 40 : n % 3 == 1 ? i * 89 + n : (i % 5 < 2 ? 255 : i));
    const std::string path = std::string(dir) + "/seed-" + std::to_string(n);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 1;
    fwrite(s.data(), 1, s.size(), f);
    fclose(f);
  }
  return 0;
}
