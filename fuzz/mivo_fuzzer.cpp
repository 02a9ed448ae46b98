// Fuzz harness of the MIVO codec. The first bytes of an input choose a
// parameter set and a geometry (small, or large enough that the streams fill
// several blocks); the rest is used twice:
//   1. as image data: encoded and decoded again, which must give it back
//      exactly (an abort otherwise);
//   2. as hostile code streams: decoding them must end normally or with
//      mivo::Exception, never with a crash, a hang or a stray access.
// Built with libFuzzer (clang, see run.sh) or, without it, with
// replay_main.cpp as a replay program for saved inputs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "mivocore.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

size_t ReadBytes(void* ctx, unsigned char* buf, size_t n) {
  auto* r = static_cast<Reader*>(ctx);
  size_t k = n < r->size - r->pos ? n : r->size - r->pos;
  if (k > 5) k = k / 2 + 1;  // short deliveries exercise the refills
  std::memcpy(buf, r->data + r->pos, k);
  r->pos += k;
  return k;
}

size_t AppendBytes(void* ctx, const unsigned char* buf, size_t n) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
  return n;
}

mivo::Info ChooseInfo(const uint8_t* p) {
  static const int kBits[] = {1, 2, 4, 8, 16, 24, 32, 32};
  static const int kDiffer[] = {1, 2, 5, 8, 32, 128, 129, 130, 131, 240, 241, 255};
  mivo::Info info;
  info.image_bit = kBits[p[0] & 7];
  info.tag_bits = (p[0] >> 3) & 3;
  info.tag_position = (p[0] >> 5) & 1;
  info.multi_stream = (p[0] >> 6) & 1;
  info.error_method = 1 + p[1] % 3;
  info.tag_method = 1 + (p[1] / 3) % 3;
  info.error_table = 1 + (p[1] / 9) % 4;
  info.run_table = 1 + (p[1] >> 7);
  info.marker_table = 5 + (p[2] & 1);
  info.max_run = (p[2] >> 1) & 1 ? 1 + p[3] % 40 : 0;
  info.width = 1 + p[4] % 48;
  info.height = p[5] % 24;
  if ((p[2] & 0xe0) == 0xe0) {
    // Images whose streams outgrow the codec's stream blocks, so that the
    // coding loops meet full blocks and refills.
    info.width += 256;
    info.height += 100;
  }
  info.initial_component = p[6];
  info.initial_tag = p[6] & 7;
  bool ruc = false;
  for (int i = 0; i < 5; ++i) {
    int d = kDiffer[p[7 + i] % 12];
    if (d == 240 && ruc) d = 129;
    ruc = ruc || d == 240;
    info.differ[i] = d;
  }
  if (info.differ[0] == 255) info.differ[0] = 1;
  int valid = 0;
  while (valid < 5 && info.differ[valid] != 255) ++valid;
  info.selected_differ = p[12] % valid;
  return info;
}

constexpr size_t kHeader = 13;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  mivo::Info info = ChooseInfo(data);
  const uint8_t* body = data + kHeader;
  const size_t bodySize = size - kHeader;

  // 1. Round trip of the body as image data (repeated to fill the image).
  mivo::Info n = info;
  n.normalize_mivo_info();
  std::string image(n.bytes_per_line * static_cast<size_t>(n.height), '\0');
  for (size_t i = 0; i < image.size() && bodySize > 0; ++i) image[i] = static_cast<char>(body[i % bodySize]);
  if (info.tag_bits) {
    const size_t comps = static_cast<size_t>(n.components);
    const size_t at = info.tag_position == 1 ? 0 : comps - 1;
    for (size_t i = at; i < image.size(); i += comps) image[i] = static_cast<char>(image[i] & ((1 << info.tag_bits) - 1));
  }
  std::string streams[mivo::MAX_STREAMS];
  {
    mivo::Info e = info;
    Reader src{reinterpret_cast<const uint8_t*>(image.data()), image.size(), 0};
    e.callback_in = ReadBytes;
    e.in_context[0] = &src;
    e.callback_out = AppendBytes;
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) e.out_context[i] = &streams[i];
    mivo::CoreEnc enc(e);
    for (int y = 0; y < info.height; ++y) enc.encode_line((data[2] & 4) && y % 5 == 4 && info.marker_table == 6 ? 3 : -1);
    enc.terminate();
  }
  {
    std::string out;
    mivo::Info d = info;
    Reader src[mivo::MAX_STREAMS];
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
      src[i] = Reader{reinterpret_cast<const uint8_t*>(streams[i].data()), streams[i].size(), 0};
      d.in_context[i] = &src[i];
    }
    d.callback_in = ReadBytes;
    d.callback_out = AppendBytes;
    d.out_context[0] = &out;
    mivo::CoreDec dec(d);
    for (int y = 0; y < info.height; ++y) dec.decode_line();
    dec.terminate();
    if (out != image) std::abort();
  }

  // 2. The body as hostile streams: split into the streams at fixed places.
  {
    std::string sink;
    mivo::Info d = info;
    Reader src[mivo::MAX_STREAMS];
    const size_t part = info.multi_stream ? bodySize / 5 : bodySize;
    for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
      size_t start = info.multi_stream ? part * static_cast<size_t>(i) : 0;
      size_t len = info.multi_stream ? (i == 4 ? bodySize - start : part) : (i == 0 ? bodySize : 0);
      src[i] = Reader{body + start, len, 0};
      d.in_context[i] = &src[i];
    }
    d.callback_in = ReadBytes;
    d.callback_out = AppendBytes;
    d.out_context[0] = &sink;
    try {
      mivo::CoreDec dec(d);
      for (int y = 0; y < info.height; ++y) dec.decode_line();
      dec.terminate();
    } catch (const mivo::Exception&) {
    }
  }
  return 0;
}

// Seeds: each choice byte pattern with a few kinds of body.
int ZTFuzzWriteSeeds(const char* dir) {
  std::mt19937 rng(2024);
  for (int i = 0; i < 48; ++i) {
    std::string s(13, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    s[0] = static_cast<char>(i % 8 | (i & 8 ? 64 : 0) | (i % 3 == 0 ? 8 : 0));
    size_t n = 20 + rng() % 300;
    for (size_t k = 0; k < n; ++k) s += static_cast<char>(i % 4 == 0 ? rng() : i % 4 == 1 ? (k / 7) * 3 : i % 4 == 2 ? 0 : k % 5);
    char name[64];
    std::snprintf(name, sizeof name, "%s/seed-%02d", dir, i);
    std::ofstream(name, std::ios::binary) << s;
  }
  return 0;
}
