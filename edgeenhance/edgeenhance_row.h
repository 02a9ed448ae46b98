// The row step of edge enhancement, written once for vectors of any width:
// edgeenhance.cpp builds it with 16-byte vectors (SSE2 on x86-64, the
// native vector unit or plain code elsewhere) and edgeenhance_avx2.cpp with
// 32-byte ones. Each includes this file inside an unnamed namespace after
// defining ZT_EE_LANES (samples per step, 8 or 16), so that no code built
// for one instruction set can stand in for the other's.
#ifndef ZT_EE_LANES
#error "define ZT_EE_LANES before including edgeenhance_row.h"
#endif

// Samples are worked on in 16-bit lanes; every per-plane threshold repeats
// every 4 lanes, so it is one constant vector.
typedef int16_t Lanes __attribute__((vector_size(2 * ZT_EE_LANES)));
typedef unsigned char Bytes __attribute__((vector_size(ZT_EE_LANES)));
typedef unsigned char Bytes16 __attribute__((vector_size(16)));
constexpr int kLanes = ZT_EE_LANES;

inline Lanes Load(const unsigned char* p) {
#if ZT_EE_LANES == 16 && defined(__AVX2__)
  return reinterpret_cast<Lanes>(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
#elif ZT_EE_LANES == 8 && defined(__SSE2__)
  return reinterpret_cast<Lanes>(
      _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128()));
#else
  Bytes b;
  memcpy(&b, p, sizeof b);
  return __builtin_convertvector(b, Lanes);
#endif
}
// Copies the samples of a step: a whole step in one fixed-size move.
inline void CopySamples(unsigned char* out, const unsigned char* in, int n) {
  if (n == kLanes)
    memcpy(out, in, kLanes);
  else
    memcpy(out, in, static_cast<size_t>(n));
}
inline Lanes Min(Lanes a, Lanes b) { return a < b ? a : b; }
inline Lanes Max(Lanes a, Lanes b) { return a > b ? a : b; }
inline Lanes Abs(Lanes a) { return Max(a, -a); }
inline bool None(Lanes mask) {
#if ZT_EE_LANES == 16 && defined(__AVX2__)
  const __m256i m = reinterpret_cast<__m256i>(mask);
  return _mm256_testz_si256(m, m) != 0;
#elif ZT_EE_LANES == 8 && defined(__SSE2__)
  return _mm_movemask_epi8(reinterpret_cast<__m128i>(mask)) == 0;
#else
  uint64_t words[sizeof mask / 8];
  memcpy(words, &mask, sizeof words);
  uint64_t any = 0;
  for (uint64_t w : words) any |= w;
  return any == 0;
#endif
}
// The lanes of v in the order of the constant indices (GCC and clang name
// the builtin differently).
#if defined(__clang__)
#define ZT_EE_SHUFFLE(v, ...) __builtin_shufflevector(v, v, __VA_ARGS__)
#else
#define ZT_EE_SHUFFLE(v, ...) __builtin_shuffle(v, Lanes{__VA_ARGS__})
#endif
// Each lane set to the sum of its pixel's four samples.
inline Lanes PixelSums(Lanes v) {
#if ZT_EE_LANES == 16
  const Lanes pairs = v + ZT_EE_SHUFFLE(v, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  return pairs + ZT_EE_SHUFFLE(pairs, 2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
#else
  const Lanes pairs = v + ZT_EE_SHUFFLE(v, 1, 0, 3, 2, 5, 4, 7, 6);
  return pairs + ZT_EE_SHUFFLE(pairs, 2, 3, 0, 1, 6, 7, 4, 5);
#endif
}
inline Lanes PerPlane(const int* v) {
  Lanes l;
  for (int i = 0; i < kLanes; ++i) l[i] = static_cast<int16_t>(v[i & 3]);
  return l;
}
inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
inline int AtLeast0(int v) { return v < 0 ? 0 : v; }

// Scales C, M and Y of one pixel whose total exceeds the limit.
inline void LimitPile(int* s, int total, int32_t limit) {
  const int k = s[COLOR_ORDER_K];
  const int colour = total - k;
  const int64_t budget = static_cast<int64_t>(limit) - k;
  if (budget <= 0 || colour == 0) {
    s[COLOR_ORDER_C] = s[COLOR_ORDER_M] = s[COLOR_ORDER_Y] = 0;
    return;
  }
  // colour exceeds budget here, so every quotient is below 256.
  s[COLOR_ORDER_C] = static_cast<int>(s[COLOR_ORDER_C] * budget / colour);
  s[COLOR_ORDER_M] = static_cast<int>(s[COLOR_ORDER_M] * budget / colour);
  s[COLOR_ORDER_Y] = static_cast<int>(s[COLOR_ORDER_Y] * budget / colour);
}

// The sum of one pixel's four bytes: pairs first, then the two pair sums.
inline int PixelSum(const unsigned char* px) {
  uint32_t word;
  memcpy(&word, px, sizeof word);
  const uint32_t pairs = (word & 0x00FF00FFu) + ((word >> 8) & 0x00FF00FFu);
  return static_cast<int>((pairs + (pairs >> 16)) & 0xFFFFu);
}

inline void LimitPixel(unsigned char* px, int32_t limit) {
  const int total = PixelSum(px);
  if (total <= limit) return;
  int s[4] = {px[0], px[1], px[2], px[3]};
  LimitPile(s, total, limit);
  for (int c = 0; c < 3; ++c) px[c] = static_cast<unsigned char>(s[c]);
}

// Copies the n samples of a step unchanged (p5 holds them) and applies the
// limit where it acts.
inline void CopyStep(const unsigned char* mid, int n, Lanes p5, bool limitCanAct, Lanes limitLanes, int32_t limit,
                     unsigned char* out) {
  CopySamples(out, mid, n);
  if (limitCanAct && !None(PixelSums(p5) > limitLanes))
    for (int i = 0; i < n; i += 4) LimitPixel(out + i, limit);
}

// Copies n samples unchanged and applies the limit where it can act.
inline void CopyPlain(const unsigned char* mid, int n, bool limitCanAct, int32_t limit, unsigned char* out) {
  memcpy(out, mid, static_cast<size_t>(n));
  if (limitCanAct)
    for (int i = 0; i < n; i += 4) LimitPixel(out + i, limit);
}

void EnhanceRow(const unsigned char* up, const unsigned char* mid, const unsigned char* down, unsigned width,
                const EeParamSet& param, unsigned char* out) {
  const Lanes npth0 = PerPlane(param.npth0), bkth0 = PerPlane(param.bkth0), loth = PerPlane(param.loth);
  const Lanes eeth0 = PerPlane(param.eeth0), eeth1 = PerPlane(param.eeth1);
  const bool edgeMode = param.edge_mode == 1;
  const bool backgroundMode = param.bkgnd_mode == 1;
  const bool dotMode = param.dot_mode == 1;

  const int32_t limit = param.pileheight_limit;
  const bool limitCanAct = limit < 4 * 255;
  // Pixel sums are at most 1020, so a limit below 0 is held at -1 in the lanes.
  Lanes limitLanes;
  for (int i = 0; i < kLanes; ++i) limitLanes[i] = static_cast<int16_t>(Clamp(limit, -1, 1020));
  // Four pixels whose samples are all below npth0 are copied as they are;
  // the limit can only act on them when their largest possible sum exceeds it.
  Bytes16 plainBelow;
  for (int i = 0; i < 16; ++i) plainBelow[i] = static_cast<unsigned char>(Clamp(param.npth0[i & 3], 0, 255));
  const int plainMost = AtLeast0(param.npth0[0] - 1) + AtLeast0(param.npth0[1] - 1) +
                        AtLeast0(param.npth0[2] - 1) + AtLeast0(param.npth0[3] - 1);
  const bool limitCanActOnPlain = limit < plainMost;

#if ZT_EE_LANES == 16 && defined(__AVX2__)
  // Quiet blocks of eight pixels. With the background mode an edge needs a
  // window value below bkth0, and a thin line always needs one at or below
  // loth; a block in which no live sample has such a value in its window
  // keeps every sample. Found with byte operations, 32 samples at a time.
  bool quietBlocks = !edgeMode || backgroundMode;
  __m256i nearBelow, liveFrom;
  {
    alignas(32) unsigned char nearBytes[32], liveBytes[32];
    for (int i = 0; i < 32; ++i) {
      const int p = i & 3;
      const int edgeNear = edgeMode ? param.bkth0[p] : 0, lineNear = dotMode ? param.loth[p] + 1 : 0;
      const int near = edgeNear > lineNear ? edgeNear : lineNear;
      if (near > 255) quietBlocks = false;
      nearBytes[i] = static_cast<unsigned char>(Clamp(near, 0, 255));
      liveBytes[i] = static_cast<unsigned char>(Clamp(param.npth0[p], 0, 255));
    }
    nearBelow = _mm256_load_si256(reinterpret_cast<const __m256i*>(nearBytes));
    liveFrom = _mm256_load_si256(reinterpret_cast<const __m256i*>(liveBytes));
  }
  const __m256i limit32 = _mm256_set1_epi32(limit);
  auto load32 = [](const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
  auto columnMin = [&](int at) {
    return _mm256_min_epu8(_mm256_min_epu8(load32(up + at), load32(mid + at)), load32(down + at));
  };
#endif

  const int samples = static_cast<int>(width) * 4;
  for (int j = 0; j < samples;) {
#if ZT_EE_LANES == 16 && defined(__AVX2__)
    if (quietBlocks && j + 32 <= samples) {
      const __m256i centre = load32(mid + j);
      const __m256i live = _mm256_cmpeq_epi8(_mm256_max_epu8(centre, liveFrom), centre);
      const __m256i lowest = _mm256_min_epu8(_mm256_min_epu8(columnMin(j - 4), columnMin(j)), columnMin(j + 4));
      const __m256i possible = _mm256_and_si256(live, _mm256_subs_epu8(nearBelow, lowest));
      // The whole block, or else its first half, is copied (a half block
      // leaves the rest of the store to the next step).
      const __m128i first = _mm256_castsi256_si128(possible);
      const int quiet = _mm256_testz_si256(possible, possible) ? 32 : _mm_testz_si128(first, first) ? 16 : 0;
      if (quiet > 0) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), centre);
        if (limitCanAct) {
          // Each pixel's sum: byte pairs, then the two pairs.
          const __m256i sums = _mm256_madd_epi16(_mm256_maddubs_epi16(centre, _mm256_set1_epi8(1)), _mm256_set1_epi16(1));
          const __m256i over = _mm256_and_si256(_mm256_cmpgt_epi32(sums, limit32),
                                                quiet == 32 ? _mm256_set1_epi32(-1) : _mm256_setr_epi32(-1, -1, -1, -1, 0, 0, 0, 0));
          if (!_mm256_testz_si256(over, over))
            for (int i = 0; i < quiet; i += 4) LimitPixel(out + j + i, limit);
        }
        j += quiet;
        continue;
      }
    }
#endif
    if (j + 16 <= samples) {
      Bytes16 four;
      memcpy(&four, mid + j, sizeof four);
      const Bytes16 plain = four < plainBelow;
      uint64_t halves[2];
      memcpy(halves, &plain, sizeof halves);
      if ((halves[0] & halves[1]) == ~uint64_t{0}) {
        CopyPlain(mid + j, 16, limitCanActOnPlain, limit, out + j);
        j += 16;
        continue;
      }
    }
    const int n = samples - j < kLanes ? samples - j : kLanes;
    // The window of each sample: P1 P2 P3 / P4 P5 P6 / P7 P8 P9 over the
    // rows above, at and below it; horizontal neighbours are 4 bytes away.
    const Lanes p5 = Load(mid + j);
    const Lanes live = p5 >= npth0;  // lower samples are plain
    if (None(live)) {
      CopyStep(mid + j, n, p5, limitCanAct, limitLanes, limit, out + j);
      j += kLanes;
      continue;
    }
    const Lanes p1 = Load(up + j - 4), p2 = Load(up + j), p3 = Load(up + j + 4);
    const Lanes p4 = Load(mid + j - 4), p6 = Load(mid + j + 4);
    const Lanes p7 = Load(down + j - 4), p8 = Load(down + j), p9 = Load(down + j + 4);
    Lanes remap = {};

    // Edge: the largest of the four directional gradients, where the window
    // reaches the background (or everywhere without the background mode).
    // Each gradient is three of the differences across the centre:
    //   g1 = a + b + d, g2 = a + c - d, g3 = a + b + c, g4 = c - b - d.
    // The modes are the same for the whole page, so the branches on them
    // cost nothing.
    // With the background mode, a window without a value below bkth0 has
    // no edge: such steps skip the gradients.
    if (edgeMode) {
      Lanes where = live;
      if (backgroundMode) {
        const Lanes lowest = Min(Min(Min(p1, p2), Min(p3, p4)), Min(Min(p5, p6), Min(Min(p7, p8), p9)));
        where &= lowest < bkth0;
      }
      if (!None(where)) {
        const Lanes a = p1 - p9, b = p2 - p8, c = p4 - p6, d = p3 - p7;
        const Lanes ab = a + b;
        const Lanes g1 = ab + d, g2 = (a + c) - d, g3 = ab + c, g4 = c - (b + d);
        const Lanes g = Max(Max(Abs(g1), Abs(g2)), Max(Abs(g3), Abs(g4)));
        remap = where & (g >= eeth0);
      }
    }

    // Thin line: three equal values through the centre on a flat, light
    // surround of six equal values, darker than it by at least eeth1. The
    // surround of every direction holds P1 or P4, so a sample that is not
    // darker enough than either cannot be one: most groups stop there.
    if (dotMode) {
      const Lanes maybe = live & ~remap &
                          (((p1 <= loth) & ((p5 - p1) >= eeth1)) | ((p4 <= loth) & ((p5 - p4) >= eeth1)));
      if (!None(maybe)) {
        const Lanes across = (p4 == p5) & (p6 == p5) & (p1 == p2) & (p2 == p3) & (p3 == p7) & (p7 == p8) &
                             (p8 == p9) & (p1 <= loth) & ((p5 - p1) >= eeth1);
        const Lanes upright = (p2 == p5) & (p8 == p5) & (p1 == p4) & (p4 == p7) & (p7 == p3) & (p3 == p6) &
                              (p6 == p9) & (p1 <= loth) & ((p5 - p1) >= eeth1);
        const Lanes rising = (p3 == p5) & (p7 == p5) & (p1 == p2) & (p2 == p4) & (p4 == p6) & (p6 == p8) &
                             (p8 == p9) & (p1 <= loth) & ((p5 - p1) >= eeth1);
        const Lanes falling = (p1 == p5) & (p9 == p5) & (p4 == p7) & (p7 == p8) & (p8 == p2) & (p2 == p3) &
                              (p3 == p6) & (p4 <= loth) & ((p5 - p4) >= eeth1);
        remap |= live & (across | upright | rising | falling);
      }
    }

    if (None(remap)) {
      CopyStep(mid + j, n, p5, limitCanAct, limitLanes, limit, out + j);
      j += kLanes;
      continue;
    }
    for (int i = 0; i < n; i += 4) {
      // The pixel is finished in registers and stored once.
      const unsigned char* v = mid + j + i;
      int s[4];
      for (int c = 0; c < 4; ++c) s[c] = remap[i + c] ? param.outTable[c][v[c]] : v[c];
      const int total = s[0] + s[1] + s[2] + s[3];
      if (limitCanAct && total > limit) LimitPile(s, total, limit);
      for (int c = 0; c < 4; ++c) out[j + i + c] = static_cast<unsigned char>(s[c]);
    }
    j += kLanes;
  }
}
