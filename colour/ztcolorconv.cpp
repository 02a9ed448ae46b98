// ztcolorconv: turns the RGB pages of a ZT raster stream into CMYK pages
// (32 bits per pixel), adjusted RGB pages or grey pages, applying the job's
// tone correction, image adjustments and the printer's colour tables.
//
// Usage: ztcolorconv job-id user title copies options [InFile] [OutFile]
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "hbploption.h"
#include "ztcolorlut.h"
#include "ztcolorsetting.h"
#include "ztdevparam.h"
#include "zterror.h"
#include "ztio.h"
#include "ztraster.h"
#include "ztrgboperation.h"

#if defined(__x86_64__) && !defined(ZT_COLORCONV_GENERIC)
#include <immintrin.h>
#define ZT_COLORCONV_AVX2 1
#endif

namespace {

constexpr size_t kChunkBytes = 1048576;  // input bytes per chunk (whole lines)

enum OutputKind { OUTPUT_CMYK, OUTPUT_RGB, OUTPUT_GREY };

// What every pixel of the job goes through; fixed at start-up.
struct Conversion {
  OutputKind kind = OUTPUT_CMYK;
  bool matching = true;           // tone correction, adjustments and tables
  bool mono = false;              // colour mode 1 or 17
  bool invertGrey = false;        // grey output in colour mode 1 (black)
  const cil_CSTParam* cst = nullptr;  // a usable block
  const cil_CSTRows* cstRows = nullptr;  // its matrix products per input value
  const uint8_t* encode = cil_SRGBEncodeTable();
  const cil_LCCParam* lcc = nullptr;   // null when no adjustment is asked for
  const ZTPreparedLut* lut = nullptr;  // CMYK: A_DLUT_PRINT; RGB: RGB table; null when none
  const struct MatchedCMYK* matchedCMYK = nullptr;  // the usual job's tables; null for other jobs
  // Last-pixel cache: kept over chunks and pages.
  uint32_t lastIn = 0xFFFFFFFFu;  // no 24-bit pixel matches at first
  uint32_t lastOut = 0;
  // Colours met before, direct-mapped by a hash of the pixel (2 MiB):
  // photographs repeat most of their colours across the page, though
  // seldom in a row. Each entry holds the pixel with bit 24 set (0 marks an
  // empty entry) in its upper half and the result in its lower half.
  uint64_t* recent = nullptr;
};

constexpr int kRecentBits = 18;
constexpr size_t kRecentEntries = size_t{1} << kRecentBits;
constexpr uint32_t kRecentHash = 0x9E3779B1u;  // multiplier spreading colours over the memo
// Memo slot of a 24-bit colour.
inline size_t RecentSlot(uint32_t pixel) { return (pixel * kRecentHash) >> (32 - kRecentBits); }
constexpr size_t kAhead = 16;  // pixels between a memo's early fetch and its use

inline uint32_t PackRGB(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (static_cast<uint32_t>(b) << 16); }

// Converts one pixel; the result holds the output bytes from the lowest
// byte up (C, M, Y, K / R, G, B / grey).
__attribute__((always_inline)) inline uint32_t ConvertPixel(const Conversion& c, uint8_t r, uint8_t g, uint8_t b) {
  // Paper white stays unprinted whatever the adjustments.
  if (r == 255 && g == 255 && b == 255) {
    switch (c.kind) {
      case OUTPUT_CMYK: return 0;
      case OUTPUT_RGB: return PackRGB(255, 255, 255);
      case OUTPUT_GREY: return c.invertGrey ? 0 : 255;
    }
  }
  if (c.matching) {
    cil_CSTPixelRows(c.cst, c.cstRows, c.encode, r, g, b);
    if (c.lcc) cil_LCC_Conv_sBGR_Pixel(c.lcc, &r, &g, &b, &r, &g, &b);
  }
  switch (c.kind) {
    case OUTPUT_CMYK: {
      if (c.mono) return static_cast<uint32_t>(255 - ((19661 * r + 38666 * g + 7209 * b) >> 16)) << 24;
      if (r == 255 && g == 255 && b == 255) return 0;
      if (c.matching && c.lut) {
        const uint64_t v = InterpolatePrepared(c.lut, r, g, b);
        return static_cast<uint32_t>((v & 0xFF) | ((v >> 8) & 0xFF00) | ((v >> 16) & 0xFF0000) |
                                     ((v >> 24) & 0xFF000000u));
      }
      const uint8_t x = r > g ? (r > b ? r : b) : (g > b ? g : b);
      return static_cast<uint32_t>(x - r) | (static_cast<uint32_t>(x - g) << 8) |
             (static_cast<uint32_t>(x - b) << 16) | (static_cast<uint32_t>(255 - x) << 24);
    }
    case OUTPUT_RGB: {
      if (c.matching && c.lut && !(r == 255 && g == 255 && b == 255)) {
        const uint64_t v = InterpolatePrepared(c.lut, r, g, b);
        return static_cast<uint32_t>((v & 0xFF) | ((v >> 8) & 0xFF00) | ((v >> 16) & 0xFF0000));
      }
      return PackRGB(r, g, b);
    }
    case OUTPUT_GREY: {
      uint8_t grey;
      cil_NTSC_Conv_Pixel(&r, &g, &b, &grey);
      return c.invertGrey ? 255u - grey : grey;
    }
  }
  return 0;
}

// Converts a run of 3-byte pixels into out; OutBytes is 4, 3 or 1.
template <int OutBytes>
void ConvertRun(Conversion& c, const uint8_t* in, size_t pixels, uint8_t* out) {
  uint32_t lastIn = c.lastIn, lastOut = c.lastOut;
  for (size_t i = 0; i < pixels; ++i, in += 3, out += OutBytes) {
    const uint32_t v = PackRGB(in[0], in[1], in[2]);
    if (v != lastIn) {
      lastIn = v;
      lastOut = ConvertPixel(c, in[0], in[1], in[2]);
    }
    if constexpr (OutBytes == 4) {
      out[0] = static_cast<uint8_t>(lastOut);
      out[1] = static_cast<uint8_t>(lastOut >> 8);
      out[2] = static_cast<uint8_t>(lastOut >> 16);
      out[3] = static_cast<uint8_t>(lastOut >> 24);
    } else if constexpr (OutBytes == 3) {
      out[0] = static_cast<uint8_t>(lastOut);
      out[1] = static_cast<uint8_t>(lastOut >> 8);
      out[2] = static_cast<uint8_t>(lastOut >> 16);
    } else {
      out[0] = static_cast<uint8_t>(lastOut);
    }
  }
  c.lastIn = lastIn;
  c.lastOut = lastOut;
}

// The usual job, CMYK output with colour matching and a table, no image
// adjustments and the tone step's plain matrix (white point 6500), prepared
// further: each channel's tone result before its limiting leads through the
// limit and the sRGB encoding straight to that channel's axis entry of the
// table.
struct MatchedCMYK {
  int32_t low[3];                     // lowest tone result of each channel
  std::unique_ptr<uint32_t[]> axis[3];  // axis entry of tone results low .. highest
  // For the eight-pixel path: the tone step's linear values and matrix
  // factors (their products wrap as the prepared terms do) and each table
  // node's C, M, Y, K bytes from the lowest byte up.
  int32_t lin[3][256];
  int32_t factor[9];
  // Per tone result as axis[], but the fraction of channel k kept alone in
  // bits 16 + 5k up: the sum of the three gives the cell and all fractions.
  std::unique_ptr<uint32_t[]> fractions[3];
  uint32_t node[DLUT_ENTRY_COUNT];
  bool wide = false;  // the processor runs the eight-pixel path
};

// The range of a channel's tone result over all pixels: the 32-bit sum of
// the three terms never wraps when the 64-bit sum of the extremes fits.
bool ToneRange(const cil_CSTRows& rows, int row, int32_t* low, int32_t* high) {
  int64_t lo = 0, hi = 0;
  for (int ch = 0; ch < 3; ++ch) {
    int64_t a = INT64_MAX, b = INT64_MIN;
    for (int v = 0; v < 256; ++v) {
      const int64_t t = static_cast<int32_t>(rows.term[ch][v][row]);
      a = std::min(a, t);
      b = std::max(b, t);
    }
    lo += a;
    hi += b;
  }
  if (lo < INT32_MIN || hi > INT32_MAX) return false;
  *low = static_cast<int32_t>(lo) >> 18;
  *high = static_cast<int32_t>(hi) >> 18;
  return true;
}

// False when the job cannot take this path (or memory is short).
bool PrepareMatchedCMYK(const Conversion& c, MatchedCMYK* m) {
  for (int k = 0; k < 3; ++k) {
    int32_t high;
    if (!ToneRange(*c.cstRows, k, &m->low[k], &high)) return false;
    const size_t count = static_cast<size_t>(high - m->low[k]) + 1;
    m->axis[k].reset(new (std::nothrow) uint32_t[count]);
    m->fractions[k].reset(new (std::nothrow) uint32_t[count]);
    if (!m->axis[k] || !m->fractions[k]) return false;
    static constexpr unsigned kStep[3] = {1, 17, 289};
    for (size_t i = 0; i < count; ++i) {
      const int32_t tone = m->low[k] + static_cast<int32_t>(i);
      const uint8_t v = c.encode[tone < 0 ? 0 : tone > 4095 ? 4095 : tone];
      m->axis[k][i] = c.lut->axis[k][v];
      m->fractions[k][i] = (v >> 4) * kStep[k] | (v == 255 ? 16u : v & 15u) << (16 + 5 * k);
    }
  }
  for (int ch = 0; ch < 3; ++ch)
    for (int v = 0; v < 256; ++v) m->lin[ch][v] = c.cst->lin[ch][v];
  for (int i = 0; i < 9; ++i) m->factor[i] = c.cst->matrix[i] >> 2;
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i) {
    const uint64_t n = c.lut->node[i];
    m->node[i] = static_cast<uint32_t>((n & 0xFF) | ((n >> 8) & 0xFF00) | ((n >> 16) & 0xFF0000) |
                                       ((n >> 24) & 0xFF000000u));
  }
#ifdef ZT_COLORCONV_AVX2
  m->wide = __builtin_cpu_supports("avx2");
#endif
  return true;
}

#ifdef ZT_COLORCONV_AVX2
// Eight pixels of the usual job at once (each 0x00BBGGRR), with the same
// arithmetic as the pixel loop below: the tone step's wrapped products, the
// axis entries, the tetrahedron of the fractions and the four weighted
// nodes. The results go to out, one 32-bit word per pixel.
__attribute__((target("avx2"))) void ConvertGroupWide(const MatchedCMYK& m, const uint32_t* pixel, uint32_t* out) {
  const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixel));
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i r = _mm256_and_si256(px, byte);
  const __m256i g = _mm256_and_si256(_mm256_srli_epi32(px, 8), byte);
  const __m256i b = _mm256_srli_epi32(px, 16);
  __m256i white = _mm256_cmpeq_epi32(px, _mm256_set1_epi32(0xFFFFFF));
  const __m256i lr = _mm256_i32gather_epi32(m.lin[0], r, 4);
  const __m256i lg = _mm256_i32gather_epi32(m.lin[1], g, 4);
  const __m256i lb = _mm256_i32gather_epi32(m.lin[2], b, 4);
  __m256i at = _mm256_setzero_si256();
  for (int k = 0; k < 3; ++k) {
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(lr, _mm256_set1_epi32(m.factor[3 * k])),
                                          _mm256_mullo_epi32(lg, _mm256_set1_epi32(m.factor[3 * k + 1]))),
                         _mm256_mullo_epi32(lb, _mm256_set1_epi32(m.factor[3 * k + 2])));
    const __m256i index = _mm256_sub_epi32(_mm256_srai_epi32(sum, 18), _mm256_set1_epi32(m.low[k]));
    at = _mm256_add_epi32(at, _mm256_i32gather_epi32(reinterpret_cast<const int*>(m.fractions[k].get()), index, 4));
  }
  // The tetrahedron: fractions by size, each axis step chosen as the
  // prepared tables choose it (the larger of equal fractions is the earlier
  // axis), the weights from the differences.
  const __m256i fractionMask = _mm256_set1_epi32(31);
  const __m256i fr = _mm256_and_si256(_mm256_srli_epi32(at, 16), fractionMask);
  const __m256i fg = _mm256_and_si256(_mm256_srli_epi32(at, 21), fractionMask);
  const __m256i fb = _mm256_srli_epi32(at, 26);
  const __m256i base = _mm256_and_si256(at, _mm256_set1_epi32(0xFFFF));
  white =
      _mm256_or_si256(white, _mm256_cmpeq_epi32(_mm256_srli_epi32(at, 16), _mm256_set1_epi32(16 | 16 << 5 | 16 << 10)));
  const __m256i stepR = _mm256_set1_epi32(1), stepG = _mm256_set1_epi32(17), stepB = _mm256_set1_epi32(289);
  const __m256i gLarger = _mm256_cmpgt_epi32(fg, fr);
  const __m256i maxRG = _mm256_max_epi32(fr, fg), minRG = _mm256_min_epi32(fr, fg);
  const __m256i stepMax =
      _mm256_blendv_epi8(_mm256_blendv_epi8(stepR, stepG, gLarger), stepB, _mm256_cmpgt_epi32(fb, maxRG));
  const __m256i stepMin =
      _mm256_blendv_epi8(_mm256_blendv_epi8(stepG, stepR, gLarger), stepB, _mm256_cmpgt_epi32(minRG, fb));
  const __m256i f1 = _mm256_max_epi32(maxRG, fb), f3 = _mm256_min_epi32(minRG, fb);
  const __m256i f2 = _mm256_sub_epi32(_mm256_add_epi32(_mm256_add_epi32(fr, fg), fb), _mm256_add_epi32(f1, f3));
  const __m256i weights = _mm256_or_si256(
      _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(16), f1), _mm256_slli_epi32(_mm256_sub_epi32(f1, f2), 8)),
      _mm256_or_si256(_mm256_slli_epi32(_mm256_sub_epi32(f2, f3), 16), _mm256_slli_epi32(f3, 24)));
  const int* node = reinterpret_cast<const int*>(m.node);
  const __m256i n0 = _mm256_i32gather_epi32(node, base, 4);
  const __m256i n1 = _mm256_i32gather_epi32(node, _mm256_add_epi32(base, stepMax), 4);
  const __m256i n2 = _mm256_i32gather_epi32(
      node, _mm256_sub_epi32(_mm256_add_epi32(base, _mm256_set1_epi32(1 + 17 + 289)), stepMin), 4);
  const __m256i n3 = _mm256_i32gather_epi32(node, _mm256_add_epi32(base, _mm256_set1_epi32(1 + 17 + 289)), 4);
  // Each weight spread over its pixel's four bytes, then the node bytes and
  // weights paired so that one multiply-add gives two nodes' share.
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0, 0, 0, 4, 4, 4, 4, 8,
                                          8, 8, 8, 12, 12, 12, 12);
  const __m256i w0 = _mm256_shuffle_epi8(weights, spread);
  const __m256i w1 = _mm256_shuffle_epi8(weights, _mm256_add_epi8(spread, _mm256_set1_epi8(1)));
  const __m256i w2 = _mm256_shuffle_epi8(weights, _mm256_add_epi8(spread, _mm256_set1_epi8(2)));
  const __m256i w3 = _mm256_shuffle_epi8(weights, _mm256_add_epi8(spread, _mm256_set1_epi8(3)));
  const __m256i low =
      _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(n0, n1), _mm256_unpacklo_epi8(w0, w1)),
                       _mm256_maddubs_epi16(_mm256_unpacklo_epi8(n2, n3), _mm256_unpacklo_epi8(w2, w3)));
  const __m256i high =
      _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(n0, n1), _mm256_unpackhi_epi8(w0, w1)),
                       _mm256_maddubs_epi16(_mm256_unpackhi_epi8(n2, n3), _mm256_unpackhi_epi8(w2, w3)));
  const __m256i result =
      _mm256_andnot_si256(white, _mm256_packus_epi16(_mm256_srli_epi16(low, 4), _mm256_srli_epi16(high, 4)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), result);
}
#endif

// ConvertRun<4> for that job: same results. Pixels go in groups of eight:
// a group that only repeats the pixel before it (text, flat areas) takes
// that pixel's result at once; in the others every pixel goes through the
// colour memo, also one that repeats its predecessor (its entry is then in
// the nearest cache): photographs make it unforeseeable whether the next
// pixel repeats, and a branch on it would cost more than the lookup. The
// input buffer holds one byte past the pixels, so that each pixel is read as
// one 32-bit word.
void ConvertRunMatchedCMYK(const Conversion& c, const MatchedCMYK& m, const uint8_t* in, size_t pixels, uint8_t* out) {
  const cil_CSTRows* rows = c.cstRows;
  const ZTPreparedLut* lut = c.lut;
  // A pixel of 0 gives the tone 0 in every channel, so each range holds 0
  // and these pointers lie inside their tables.
  const uint32_t* axisR = m.axis[0].get() - m.low[0];
  const uint32_t* axisG = m.axis[1].get() - m.low[1];
  const uint32_t* axisB = m.axis[2].get() - m.low[2];
  constexpr size_t kGroup = 8;
  uint32_t result = 0;  // of the pixel before in
  for (size_t i = 0; i < pixels;) {
    if (i > 0 && pixels - i >= kGroup && memcmp(in, in - 3, 3 * kGroup) == 0) {
      for (size_t k = 0; k < kGroup; ++k) memcpy(out + 4 * k, &result, 4);
      i += kGroup;
      in += 3 * kGroup;
      out += 4 * kGroup;
      continue;
    }
    const size_t count = pixels - i < kGroup ? pixels - i : kGroup;
    for (size_t k = 0; k < count; ++k, ++i, in += 3, out += 4) {
      uint32_t v;
      memcpy(&v, in, sizeof v);
      v &= 0xFFFFFFu;
      if (i + kAhead < pixels) {
        // The memo of a pixel a little further on is fetched early: the memo
        // is larger than the caches close to the processor.
        uint32_t ahead;
        memcpy(&ahead, in + 3 * kAhead, sizeof ahead);
        __builtin_prefetch(&c.recent[RecentSlot(ahead & 0xFFFFFFu)]);
      }
      uint64_t& e = c.recent[RecentSlot(v)];
      const uint64_t key = static_cast<uint64_t>(v | 0x1000000u) << 32;
      result = static_cast<uint32_t>(e);
      if ((e & 0xFFFFFFFF00000000ull) != key) {
        result = 0;  // paper white, before or after the tone step
        if (v != 0xFFFFFFu) {
          cil_U32x4 tr, tg, tb;
          memcpy(&tr, rows->term[0][v & 0xFF], sizeof tr);
          memcpy(&tg, rows->term[1][(v >> 8) & 0xFF], sizeof tg);
          memcpy(&tb, rows->term[2][v >> 16], sizeof tb);
          const cil_I32x4 tone = reinterpret_cast<const cil_I32x4&>(tr += tg + tb) >> 18;
          const uint32_t at = axisR[tone[0]] + axisG[tone[1]] + axisB[tone[2]];
          if ((at >> 16) != ZT_LUT_WHITE_FRACTION) {
            // Lanes C, M, Y, K of 16 bits each, packed into bytes.
            const uint64_t lanes = InterpolatePreparedAt(lut, at);
            const uint64_t pairs = lanes | (lanes >> 8);
            result = static_cast<uint32_t>((pairs & 0xFFFF) | ((pairs >> 16) & 0xFFFF0000u));
          }
        }
        e = key | result;
      }
      memcpy(out, &result, 4);
    }
  }
}

#ifdef ZT_COLORCONV_AVX2
// For each set of eight flags, the positions of the set flags in order
// (then zeros): picks the flagged lanes of eight to the front.
struct CompressTable {
  uint32_t order[256][8];
  constexpr CompressTable() : order{} {
    for (unsigned mask = 0; mask < 256; ++mask) {
      unsigned n = 0;
      for (unsigned lane = 0; lane < 8; ++lane)
        if (mask & (1u << lane)) order[mask][n++] = lane;
    }
  }
  const uint32_t* operator[](unsigned mask) const { return order[mask]; }
};
constexpr CompressTable kCompress;


// ConvertRunMatchedCMYK on processors with the eight-pixel path: same
// results, in segments of the run. First each pixel takes the result in its
// colour memo entry and is listed when the entry holds another colour (a
// branch on it would fail too often to pay); then the listed pixels are
// converted eight at a time, their results put in place and in the memo;
// last the groups of eight that only repeat a pixel of the list are filled.
__attribute__((target("avx2"))) void ConvertRunMatchedCMYKWide(const Conversion& c, const MatchedCMYK& m,
                                                               const uint8_t* in, size_t pixels, uint8_t* out) {
  constexpr size_t kGroup = 8, kSegment = 2048;
  uint32_t missPixel[kSegment + kGroup], missAt[kSegment + kGroup], repeatAt[kSegment / kGroup], results[kGroup];
  uint64_t* recent = c.recent;
  const __m256i threeToFour = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4,
                                               5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i hashFactor = _mm256_set1_epi32(static_cast<int>(kRecentHash));
  const __m256i keyBit = _mm256_set1_epi32(0x1000000);
  for (size_t start = 0; start < pixels; start += kSegment) {
    const size_t end = std::min(pixels, start + kSegment);
    size_t misses = 0, repeats = 0;
    // Whether the pixel before i has its result in place (it is not listed).
    bool lastKnown = start > 0;
    for (size_t i = start; i < end;) {
      const uint8_t* p = in + 3 * i;
      if (i > 0 && end - i >= kGroup && memcmp(p, p - 3, 3 * kGroup) == 0) {
        if (lastKnown) {
          uint32_t last;
          memcpy(&last, out + 4 * (i - 1), 4);
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), _mm256_set1_epi32(static_cast<int>(last)));
        } else {
          repeatAt[repeats++] = static_cast<uint32_t>(i);
        }
        i += kGroup;
        continue;
      }
      if (pixels - i >= kGroup + 2) {
        // Eight pixels with their memo entries: the entries read one by one,
        // results stored as they are and the pixels whose entries hold
        // another colour appended to the list.
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
        const __m256i px =
            _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1), threeToFour);
        const __m256i slot = _mm256_srli_epi32(_mm256_mullo_epi32(px, hashFactor), 32 - kRecentBits);
        alignas(32) uint32_t slots[kGroup];
        _mm256_store_si256(reinterpret_cast<__m256i*>(slots), slot);
        const long long* base = reinterpret_cast<const long long*>(recent);
        const __m256 low =
            _mm256_castsi256_ps(_mm256_setr_epi64x(base[slots[0]], base[slots[1]], base[slots[2]], base[slots[3]]));
        const __m256 high =
            _mm256_castsi256_ps(_mm256_setr_epi64x(base[slots[4]], base[slots[5]], base[slots[6]], base[slots[7]]));
        const __m256i results = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(low, high, 0x88)), 0xD8);
        const __m256i keys = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(low, high, 0xDD)), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), results);
        const unsigned missed = static_cast<unsigned>(~_mm256_movemask_ps(
                                    _mm256_castsi256_ps(_mm256_cmpeq_epi32(keys, _mm256_or_si256(px, keyBit))))) &
                                0xFF;
        const __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kCompress[missed]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(missPixel + misses), _mm256_permutevar8x32_epi32(px, order));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(missAt + misses),
                            _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(i)), order));
        misses += static_cast<size_t>(__builtin_popcount(missed));
        lastKnown = !(missed & 0x80);
        i += kGroup;
        continue;
      }
      const size_t count = std::min(end - i, kGroup);
      for (size_t k = 0; k < count; ++k, ++i, p += 3) {
        uint32_t v;
        memcpy(&v, p, sizeof v);
        v &= 0xFFFFFFu;
        if (i + kAhead < pixels) {
          uint32_t ahead;
          memcpy(&ahead, p + 3 * kAhead, sizeof ahead);
          __builtin_prefetch(&recent[RecentSlot(ahead & 0xFFFFFFu)]);
        }
        const uint64_t e = recent[RecentSlot(v)];
        const uint32_t result = static_cast<uint32_t>(e);
        memcpy(out + 4 * i, &result, 4);
        missPixel[misses] = v;
        missAt[misses] = static_cast<uint32_t>(i);
        lastKnown = (e >> 32) == (v | 0x1000000u);
        misses += !lastKnown;
      }
    }
    for (size_t k = misses; k % kGroup != 0; ++k) missPixel[k] = 0;
    for (size_t k = 0; k < misses; k += kGroup) {
      ConvertGroupWide(m, missPixel + k, results);
      const size_t count = std::min(misses - k, kGroup);
      for (size_t j = 0; j < count; ++j) {
        const uint32_t v = missPixel[k + j];
        memcpy(out + 4 * static_cast<size_t>(missAt[k + j]), &results[j], 4);
        recent[RecentSlot(v)] = (static_cast<uint64_t>(v | 0x1000000u) << 32) | results[j];
      }
    }
    for (size_t k = 0; k < repeats; ++k) {
      uint8_t* o = out + 4 * static_cast<size_t>(repeatAt[k]);
      for (size_t j = 0; j < kGroup; ++j) memcpy(o + 4 * j, o - 4, 4);
    }
  }
}
#endif

int OutputBytesPerPixel(OutputKind kind) { return kind == OUTPUT_CMYK ? 4 : kind == OUTPUT_RGB ? 3 : 1; }

// The input chunk buffer of the job (the output buffers are the writer's):
// set up with the first page and enlarged when a later page needs longer
// chunks, so a chunk never overruns it.
struct ChunkBuffers {
  std::unique_ptr<uint8_t[]> in;
  size_t inSize = 0;

  bool Reserve(size_t inBytes) {
    if (inBytes > inSize) {
      // One byte more: the last pixel may be read as a 32-bit word.
      in.reset(new (std::nothrow) uint8_t[inBytes + 1]());
      inSize = in ? inBytes : 0;
      if (!in) return false;
    }
    return true;
  }
};

// The output header of a page; false when the page cannot be converted
// (with the reason in *why).
bool MakeOutputHeader(const ZTRasterHeader& in, OutputKind kind, ZTRasterHeader* out, const char** why) {
  const int check = CheckZTRasterHeader(&in);
  if (check != ZT_HEADER_OK && check != ZT_HEADER_CODED) {
    *why = ZTHeaderCheckText(check);
    return false;
  }
  if (check == ZT_HEADER_CODED || in.bitsPerPixel != 24 || in.colorSpace != ZT_CS_RGB || in.encoding != ZT_ENC_NONE) {
    *why = "not an uncoded RGB page of 24 bits per pixel";
    return false;
  }
  *out = in;
  switch (kind) {
    case OUTPUT_CMYK: {
      const uint64_t line = 4 * static_cast<uint64_t>(in.width);
      const uint64_t page = line * static_cast<uint64_t>(in.height);
      if (line > INT32_MAX || page > INT32_MAX) {
        *why = "the CMYK page would exceed 2 GiB";
        return false;
      }
      out->bitsPerPixel = 32;
      out->bytesPerLine = static_cast<int32_t>(line);
      out->pageBytes = static_cast<int32_t>(page);
      out->colorSpace = ZT_CS_CMYK;
      break;
    }
    case OUTPUT_GREY:
      out->bitsPerPixel = 8;
      out->bytesPerLine = in.bytesPerLine / 3;
      out->pageBytes = in.pageBytes / 3;
      out->colorSpace = ZT_CS_GRAY;
      break;
    case OUTPUT_RGB:
      break;
  }
  return true;
}

// The message of a failed write of the page's lines.
int WriteFailed(int cause) {
  ZTPrintCause("ztcolorconv", "cannot write the output", cause);
  fputs("ERROR: ztcolorconv: File write failed.\n", stderr);
  return 1;
}

// Reads, converts and writes the lines of one page whose header has been
// handled; every line is written when it returns. 0, or 1 after printing
// the error.
int ConvertPage(FILE* in, ZTChunkWriter& writer, const ZTRasterHeader& header, Conversion& c, ChunkBuffers& buffers) {
  const size_t lineBytes = static_cast<size_t>(header.bytesPerLine);
  const size_t outPerPixel = static_cast<size_t>(OutputBytesPerPixel(c.kind));
  const size_t linesPerChunk = ZTLinesPerChunk(lineBytes, kChunkBytes);
  size_t remaining = static_cast<size_t>(header.height);
  if (lineBytes == 0) return 0;
  const size_t chunkIn = linesPerChunk * lineBytes;
  if (!buffers.Reserve(chunkIn) || !writer.Reserve(chunkIn / 3 * outPerPixel + 1)) {
    fputs("ERROR: ztcolorconv: Temporary memory not available.\n", stderr);
    return 1;
  }
  int cause = 0;
  while (remaining > 0) {
    const size_t lines = remaining < linesPerChunk ? remaining : linesPerChunk;
    const size_t bytes = lines * lineBytes;
    if (fread(buffers.in.get(), 1, bytes, in) != bytes) {
      // A write that failed before comes first, as it happened first.
      if (!writer.Finish(&cause)) return WriteFailed(cause);
      fputs("ERROR: ztcolorconv: File read failed.\n", stderr);
      return 1;
    }
    const size_t pixels = bytes / 3;
    uint8_t* out = writer.buffer();
    switch (c.kind) {
      case OUTPUT_CMYK:
        if (c.matchedCMYK) {
#ifdef ZT_COLORCONV_AVX2
          if (c.matchedCMYK->wide) {
            ConvertRunMatchedCMYKWide(c, *c.matchedCMYK, buffers.in.get(), pixels, out);
            break;
          }
#endif
          ConvertRunMatchedCMYK(c, *c.matchedCMYK, buffers.in.get(), pixels, out);
        }
        else {
          ConvertRun<4>(c, buffers.in.get(), pixels, out);
        }
        break;
      case OUTPUT_RGB: ConvertRun<3>(c, buffers.in.get(), pixels, out); break;
      case OUTPUT_GREY: ConvertRun<1>(c, buffers.in.get(), pixels, out); break;
    }
    if (!writer.Submit(pixels * outPerPixel, &cause)) return WriteFailed(cause);
    remaining -= lines;
  }
  return writer.Finish(&cause) ? 0 : WriteFailed(cause);
}

// Chooses the A_DLUT_PRINT record and prepares it into lut. Returns the
// prepared table, or null (with a warning when the job needed it).
const ZTPreparedLut* SetupCMYKTable(ppd_file_t* ppd, const Conversion& c, ZTPreparedLut* lut) {
  const bool needed = c.matching && !c.mono;
  const int loaded = ReadDlbInfo();
  if (const char* msg = DlbLoadMessage()) {
    // A file that cannot be used costs only the table: say why in the log.
    if (loaded != 0 && DlbLastError() != 0)
      fprintf(stderr, "DEBUG: ztcolorconv: cannot read the device parameter file: %s\n", strerror(DlbLastError()));
    if (loaded != 0 && strncmp(msg, "ERROR: ", 7) == 0)
      fprintf(stderr, "DEBUG: ztcolorconv: %s", msg + 7);
    else
      fputs(msg, stderr);
  }
  dlutPrintParam = nullptr;
  if (loaded == 0 && SelectDlutPrintParam(ppd) == 0 && dlutPrintParam) {
    PrepareCMYKLut(dlutPrintParam, lut);
    return lut;
  }
  if (needed)
    fputs("WARNING: ztcolorconv: No A_DLUT_PRINT table for this job; converting without colour matching.\n", stderr);
  return nullptr;
}

// Opens the output file named on the command line: an existing file is
// written over from the start; it is not created. Null on failure.
FILE* OpenOutputFile(const char* path) {
  const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return nullptr;
  FILE* fp = fdopen(fd, "wb");
  if (!fp) close(fd);
  return fp;
}

// What the job's conversion owns: parameter blocks, the prepared table, the
// colour memo and the chunk buffers.
struct ConversionSetup {
  std::unique_ptr<cil_CSTParam> cst;
  std::unique_ptr<cil_CSTRows> cstRows;
  std::unique_ptr<MatchedCMYK> matchedCMYK;
  std::unique_ptr<cil_LCCParam> lcc;
  std::unique_ptr<ZTPreparedLut> lut;
  std::unique_ptr<uint64_t[]> recent;
  std::unique_ptr<RGBDlutTable> rgbTable;
};

// Reads the job's colour settings and makes everything the pixels need.
// 0, or the exit status after the message.
int SetUpConversion(const ZTPPDSetting& setting, ConversionSetup* own, Conversion* conv) {
  conv->matching = CheckIfDriverColorMatching(setting.ppd) != 0;
  ColorSetting cs{};
  if (GetColorSetting(setting.ppd, &cs, setting.numOptions, setting.options) != 0) {
    fputs("ERROR: ztcolorconv: GetColorSetting() Error.\n", stderr);
    return 1;
  }
  if (VI_FindAttr(setting.ppd, "DoRGBtoCMYK"))
    conv->kind = OUTPUT_CMYK;
  else
    conv->kind = cs.colorMode == ZT_COLORMODE_COLOR ? OUTPUT_RGB : OUTPUT_GREY;
  conv->mono = IsMonochromeColorMode(cs.colorMode);
  conv->invertGrey = cs.colorMode == ZT_COLORMODE_BLACK;

  own->cst.reset(new (std::nothrow) cil_CSTParam);
  own->lcc.reset(new (std::nothrow) cil_LCCParam);
  if (!own->cst || !own->lcc) {
    fputs("ERROR: ztcolorconv: Memory not available-1.\n", stderr);
    return 1;
  }
  own->lut.reset(new (std::nothrow) ZTPreparedLut);
  own->recent.reset(new (std::nothrow) uint64_t[kRecentEntries]());
  own->cstRows.reset(new (std::nothrow) cil_CSTRows);
  if (!own->lut || !own->recent || !own->cstRows) {
    fputs("ERROR: ztcolorconv: Memory not available-2.\n", stderr);
    return 1;
  }
  if (cs.brightness || cs.chroma || cs.contrast || cs.redOffset || cs.greenOffset || cs.blueOffset) {
    if (cil_Create_LCC_Param_sBGR(own->lcc.get(), static_cast<int16_t>(cs.brightness), static_cast<int16_t>(cs.chroma),
                                  static_cast<int16_t>(cs.contrast), static_cast<int16_t>(cs.redOffset),
                                  static_cast<int16_t>(cs.greenOffset), static_cast<int16_t>(cs.blueOffset)) != 0) {
      fputs("ERROR: ztcolorconv: cil_Create_LCC_Param_sBGR() Error.\n", stderr);
      return 1;
    }
    conv->lcc = own->lcc.get();
  }
  // A refused white point or gamma code ends the job before any page.
  if (cs.whitePoint < INT16_MIN || cs.whitePoint > INT16_MAX || cs.gammaCode < INT16_MIN || cs.gammaCode > INT16_MAX ||
      cil_Create_CST_Param_WpGm(own->cst.get(), static_cast<int16_t>(cs.whitePoint),
                                static_cast<int16_t>(cs.gammaCode)) != 0)
    return 1;
  conv->cst = own->cst.get();
  cil_Prepare_CST_Rows(conv->cst, own->cstRows.get());
  conv->cstRows = own->cstRows.get();
  conv->recent = own->recent.get();

  if (conv->kind == OUTPUT_CMYK) {
    conv->lut = SetupCMYKTable(setting.ppd, *conv, own->lut.get());
    if (conv->lut && conv->matching && !conv->mono && !conv->lcc && !conv->cst->nearWhite) {
      // Without the memory for it the general path does the same work.
      own->matchedCMYK.reset(new (std::nothrow) MatchedCMYK);
      if (own->matchedCMYK && PrepareMatchedCMYK(*conv, own->matchedCMYK.get()))
        conv->matchedCMYK = own->matchedCMYK.get();
    }
  } else if (conv->kind == OUTPUT_RGB) {
    own->rgbTable.reset(new (std::nothrow) RGBDlutTable);
    if (own->rgbTable && LoadRGBDlutTable(setting.ppd, cs.dlutNumber, own->rgbTable.get()) == 0) {
      PrepareRGBLut(own->rgbTable.get(), own->lut.get());
      conv->lut = own->lut.get();
    } else if (conv->matching) {
      fprintf(stderr, "DEBUG: ztcolorconv: No RGB DLUT table %d; RGB pages pass without a table.\n", cs.dlutNumber);
    }
  }
  return 0;
}

// The page loop: 0 at the end of the input, 1 after an error message.
int ConvertStream(FILE* in, FILE* out, Conversion& conv) {
  ChunkBuffers buffers;
  ZTChunkWriter writer(out);
  ZTRasterHeader header, outHeader;
  while (ReadZTRasterHeader_FP(in, &header)) {
    const char* why = nullptr;
    if (!MakeOutputHeader(header, conv.kind, &outHeader, &why)) {
      fprintf(stderr, "ERROR: ztcolorconv: Cannot convert page: %s.\n", why);
      return 1;
    }
    if (!WriteZTRasterHeader_FP(out, &outHeader)) {
      const int cause = errno;
      ZTPrintCause("ztcolorconv", "cannot write the output", cause);
      fprintf(stderr, "ERROR: ztcolorconv: Write header failed. %d\n", cause);
      return 1;
    }
    if (ConvertPage(in, writer, header, conv, buffers) != 0) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 8, "ERROR: [Usage:] ztcolorconv job-id user title copies options [InFile] [OutFile]\n",
                    &args) != 0)
    return 1;
  FILE* in = ZTOpenInput_FP(args.inputFile);
  if (!in) {
    fputs(argc == 7 ? "DEBUG: ztcolorconv: unable to open input file.\n" : "DEBUG: ztcolorconv: Unable to open input file\n",
          stderr);
    return 255;
  }
  ZTStream inHolder(in);
  FILE* out = args.outputFile ? OpenOutputFile(args.outputFile) : stdout;
  if (!out) {
    fputs("DEBUG: ztcolorconv: unable to open output file.\n", stderr);
    return 255;
  }
  ZTStream outHolder(out);

  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) {
    fputs("ERROR: ztcolorconv: CreatePPDSetting() Error.\n", stderr);
    return 1;
  }
  ZTDlbImage image;  // the device parameter file lives until exit
  ConversionSetup own;
  Conversion conv;
  int status = SetUpConversion(setting, &own, &conv);
  if (status == 0) status = ConvertStream(in, out, conv);
  if (outHolder.close() != 0 && status == 0) {
    ZTPrintCause("ztcolorconv", "cannot write the output", errno);
    fputs("ERROR: ztcolorconv: File write failed.\n", stderr);
    status = 1;
  }
  return status;
}
