#include "digitalfilter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

// ZT_DIGITALFILTER_GENERIC leaves out the SSE2 path (the tests build the
// generic path that way too).
#if defined(__SSE2__) && !defined(ZT_DIGITALFILTER_GENERIC)
#define ZT_DIGITALFILTER_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// A line is filtered in blocks of 16 pixels, with the coefficients laid out
// per sample. The results of a block are held back (the delay line) and
// written into the line only after the next block was computed, which is
// the last one to read the values they replace.
constexpr size_t kBlock = 64;

// Pixels at either end that keep their values: the filter reaches 3 away.
constexpr size_t kReach = 3;

struct BlockCoefficients {
  int32_t centre[kBlock];
  int32_t d1[kBlock];
  int32_t d2[kBlock];
  int32_t d3[kBlock];
};

void FillBlockCoefficients(const DfCoefTable& coef, BlockCoefficients* b) {
  const int* planes[4] = {coef.dfCoef_C, coef.dfCoef_M, coef.dfCoef_Y, coef.dfCoef_K};
  for (size_t j = 0; j < kBlock; ++j) {
    const int* c = planes[j & 3];
    b->centre[j] = c[3];
    b->d1[j] = c[2];
    b->d2[j] = c[1];
    b->d3[j] = c[0];
  }
}

// One filtered sample at p: s / 4096 rounded half up (the quotient plus bit
// 11 of the sum, which is (s + 2048) >> 12), clamped to 0 .. 255.
inline unsigned char FilterSample(const unsigned char* p, int32_t c0, int32_t c1, int32_t c2, int32_t c3) {
  const int32_t s = c0 * p[0] + c1 * (p[-4] + p[4]) + c2 * (p[-8] + p[8]) + c3 * (p[-12] + p[12]);
  return static_cast<unsigned char>(std::clamp<int32_t>((s >> 12) + ((s >> 11) & 1), 0, 255));
}

// Filters n samples starting at p (neighbours 4, 8 and 12 bytes away; p[-12]
// and p[n - 1 + 12] must be readable).
void FilterBlock(const unsigned char* p, int n, const BlockCoefficients& b, unsigned char* result) {
  int j = 0;
#if defined(ZT_DIGITALFILTER_SSE2)
  // Two pixels at a time: the four sample sums of each distance in 16-bit
  // lanes, paired with their coefficients and multiplied and added in
  // 32-bit lanes (pmaddwd); the packs saturate to 0 .. 255.
  const __m128i zero = _mm_setzero_si128();
  const __m128i coef01 = _mm_setr_epi16(
      static_cast<int16_t>(b.centre[0]), static_cast<int16_t>(b.d1[0]), static_cast<int16_t>(b.centre[1]),
      static_cast<int16_t>(b.d1[1]), static_cast<int16_t>(b.centre[2]), static_cast<int16_t>(b.d1[2]),
      static_cast<int16_t>(b.centre[3]), static_cast<int16_t>(b.d1[3]));
  const __m128i coef23 = _mm_setr_epi16(
      static_cast<int16_t>(b.d2[0]), static_cast<int16_t>(b.d3[0]), static_cast<int16_t>(b.d2[1]),
      static_cast<int16_t>(b.d3[1]), static_cast<int16_t>(b.d2[2]), static_cast<int16_t>(b.d3[2]),
      static_cast<int16_t>(b.d2[3]), static_cast<int16_t>(b.d3[3]));
  const __m128i half = _mm_set1_epi32(2048);
  auto load = [&](const unsigned char* q) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
  };
  for (; j + 8 <= n; j += 8) {
    const unsigned char* q = p + j;
    const __m128i a0 = load(q);
    const __m128i a1 = _mm_add_epi16(load(q - 4), load(q + 4));
    const __m128i a2 = _mm_add_epi16(load(q - 8), load(q + 8));
    const __m128i a3 = _mm_add_epi16(load(q - 12), load(q + 12));
    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a0, a1), coef01),
                                     _mm_madd_epi16(_mm_unpacklo_epi16(a2, a3), coef23));
    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a0, a1), coef01),
                                     _mm_madd_epi16(_mm_unpackhi_epi16(a2, a3), coef23));
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, half), 12),
                                          _mm_srai_epi32(_mm_add_epi32(hi, half), 12));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(result + j), _mm_packus_epi16(words, words));
  }
#endif
  for (; j < n; ++j) result[j] = FilterSample(p + j, b.centre[j], b.d1[j], b.d2[j], b.d3[j]);
}

// Whether n bytes from p are all 0.
bool AllZero(const unsigned char* p, size_t n) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    memcpy(&w, p + i, sizeof w);
    any |= w;
  }
  for (; i < n; ++i) any |= p[i];
  return any == 0;
}

}  // namespace

void DigitalFilterLine(unsigned char* line, size_t lineBytes, const DfCoefTable& coef) {
  const size_t pixels = lineBytes / 4;
  if (pixels <= 2 * kReach) return;
  BlockCoefficients b;
  FillBlockCoefficients(coef, &b);

  const size_t reach = kReach * 4;
  const size_t end = (pixels - kReach) * 4;
  unsigned char held[2][kBlock];
  size_t heldStart = 0;
  size_t heldLen = 0;  // 0: nothing held
  int which = 0;
  for (size_t start = reach; start < end; start += kBlock) {
    const size_t n = std::min(kBlock, end - start);
    // Where every sample a block reads is 0 (white), every sum is 0 and the
    // block stays as it is: nothing to compute or write back.
    const bool blank = AllZero(line + start - reach, n + 2 * reach);
    if (!blank) FilterBlock(line + start, static_cast<int>(n), b, held[which]);
    if (heldLen) memcpy(line + heldStart, held[which ^ 1], heldLen);
    heldStart = start;
    heldLen = blank ? 0 : n;
    which ^= 1;
  }
  if (heldLen) memcpy(line + heldStart, held[which ^ 1], heldLen);
}

int DigitalFilterProc(FILE* in, FILE* out, const ZTRasterHeader* header, const DfCoefTable& coef) {
  const size_t lineBytes = header->bytesPerLine > 0 ? static_cast<size_t>(header->bytesPerLine) : 0;
  std::unique_ptr<unsigned char, decltype(&free)> line(
      static_cast<unsigned char*>(calloc(lineBytes ? lineBytes : 1, 1)), &free);
  if (!line) return DF_NO_MEMORY;
  if (lineBytes == 0) return DF_OK;
  for (int32_t y = 0; y < header->height; ++y) {
    if (fread(line.get(), 1, lineBytes, in) != lineBytes) return DF_IO_FAILED;
    DigitalFilterLine(line.get(), lineBytes, coef);
    if (fwrite(line.get(), 1, lineBytes, out) != lineBytes) return DF_IO_FAILED;
  }
  return DF_OK;
}
