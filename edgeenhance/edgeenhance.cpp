#include "edgeenhance.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Rows are classified two pixels (8 samples) at a time in 16-bit lanes;
// every per-plane threshold repeats every 4 lanes, so it is one constant
// vector. GCC's and Clang's vector types compile to SSE2 on x86-64 and to
// the native vector unit elsewhere.
typedef int16_t Lanes __attribute__((vector_size(16)));
typedef unsigned char Bytes8 __attribute__((vector_size(8)));
typedef unsigned char Bytes16 __attribute__((vector_size(16)));
constexpr int kLanes = 8;

inline Lanes Load(const unsigned char* p) {
  Bytes8 b;
  memcpy(&b, p, sizeof b);
  return __builtin_convertvector(b, Lanes);
}
inline Lanes Min(Lanes a, Lanes b) {
  const Lanes less = a < b;
  return (a & less) | (b & ~less);
}
inline Lanes Max(Lanes a, Lanes b) {
  const Lanes greater = a > b;
  return (a & greater) | (b & ~greater);
}
inline Lanes Abs(Lanes a) { return Max(a, -a); }
inline bool None(Lanes mask) {
  uint64_t halves[2];
  memcpy(halves, &mask, sizeof halves);
  return (halves[0] | halves[1]) == 0;
}
inline Lanes PerPlane(const int* v) {
  return Lanes{static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]), static_cast<int16_t>(v[2]),
               static_cast<int16_t>(v[3]), static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]),
               static_cast<int16_t>(v[2]), static_cast<int16_t>(v[3])};
}

}  // namespace

namespace {

// The pile-height limit on one pixel's samples C, M, Y, K.
inline void LimitPile(int* s, int total, int32_t limit) {
  if (total <= limit) return;
  const int k = s[COLOR_ORDER_K];
  const int colour = total - k;
  const int64_t budget = static_cast<int64_t>(limit) - k;
  if (budget <= 0 || colour == 0) {
    s[COLOR_ORDER_C] = s[COLOR_ORDER_M] = s[COLOR_ORDER_Y] = 0;
    return;
  }
  s[COLOR_ORDER_C] = static_cast<int>(s[COLOR_ORDER_C] * budget / colour);
  s[COLOR_ORDER_M] = static_cast<int>(s[COLOR_ORDER_M] * budget / colour);
  s[COLOR_ORDER_Y] = static_cast<int>(s[COLOR_ORDER_Y] * budget / colour);
}

}  // namespace

void ApplyPileHeightLimit(unsigned char* px, int32_t limit) {
  // Sum of the four bytes: pairs first, then the two pair sums.
  uint32_t word;
  memcpy(&word, px, sizeof word);
  const uint32_t pairs = (word & 0x00FF00FFu) + ((word >> 8) & 0x00FF00FFu);
  const int total = static_cast<int>((pairs + (pairs >> 16)) & 0xFFFFu);
  if (total <= limit) return;
  int s[4] = {px[0], px[1], px[2], px[3]};
  LimitPile(s, total, limit);
  for (int c = 0; c < 3; ++c) px[c] = static_cast<unsigned char>(s[c]);
}

void EdgeEnhanceRow(const unsigned char* up, const unsigned char* mid, const unsigned char* down, unsigned width,
                    const EeParamSet& param, unsigned char* out) {
  const Lanes npth0 = PerPlane(param.npth0), bkth0 = PerPlane(param.bkth0), loth = PerPlane(param.loth);
  const Lanes eeth0 = PerPlane(param.eeth0), eeth1 = PerPlane(param.eeth1);
  const bool edgeMode = param.edge_mode == 1;
  const bool backgroundMode = param.bkgnd_mode == 1;
  const bool dotMode = param.dot_mode == 1;

  const int32_t limit = param.pileheight_limit;
  const bool limitCanAct = limit < 4 * 255;
  // Four pixels whose samples are all below npth0 are copied as they are;
  // the limit can only act on them when their largest possible sum exceeds it.
  Bytes16 plainBelow;
  for (int i = 0; i < 16; ++i) plainBelow[i] = static_cast<unsigned char>(std::clamp(param.npth0[i & 3], 0, 255));
  const int plainMost = std::max(0, param.npth0[0] - 1) + std::max(0, param.npth0[1] - 1) +
                        std::max(0, param.npth0[2] - 1) + std::max(0, param.npth0[3] - 1);
  const bool limitCanActOnPlain = limit < plainMost;

  const int samples = static_cast<int>(width) * 4;
  for (int j = 0; j < samples;) {
    if (j + 16 <= samples) {
      Bytes16 four;
      memcpy(&four, mid + j, sizeof four);
      const Bytes16 plain = four < plainBelow;
      uint64_t halves[2];
      memcpy(halves, &plain, sizeof halves);
      if ((halves[0] & halves[1]) == ~uint64_t{0}) {
        memcpy(out + j, mid + j, sizeof four);
        if (limitCanActOnPlain)
          for (int i = 0; i < 16; i += 4) ApplyPileHeightLimit(out + j + i, limit);
        j += 16;
        continue;
      }
    }
    const int n = std::min(kLanes, samples - j);
    // The window of each sample: P1 P2 P3 / P4 P5 P6 / P7 P8 P9 over the
    // rows above, at and below it; horizontal neighbours are 4 bytes away.
    const Lanes p5 = Load(mid + j);
    const Lanes live = p5 >= npth0;  // lower samples are plain
    if (None(live)) {
      memcpy(out + j, mid + j, static_cast<size_t>(n));
      if (limitCanAct)
        for (int i = 0; i < n; i += 4) ApplyPileHeightLimit(out + j + i, limit);
      j += kLanes;
      continue;
    }
    const Lanes p1 = Load(up + j - 4), p2 = Load(up + j), p3 = Load(up + j + 4);
    const Lanes p4 = Load(mid + j - 4), p6 = Load(mid + j + 4);
    const Lanes p7 = Load(down + j - 4), p8 = Load(down + j), p9 = Load(down + j + 4);
    Lanes remap = {};

    // Edge: the largest of the four directional gradients, where the window
    // reaches the background (or everywhere without the background mode).
    // The modes are the same for the whole page, so the branches on them
    // cost nothing.
    if (edgeMode) {
      const Lanes g1 = (p1 + p2 + p3) - (p7 + p8 + p9);
      const Lanes g2 = (p1 + p4 + p7) - (p3 + p6 + p9);
      const Lanes g3 = (p1 + p2 + p4) - (p6 + p8 + p9);
      const Lanes g4 = (p4 + p7 + p8) - (p2 + p3 + p6);
      const Lanes g = Max(Max(Abs(g1), Abs(g2)), Max(Abs(g3), Abs(g4)));
      Lanes edge = g >= eeth0;
      if (backgroundMode) {
        const Lanes lowest = Min(Min(Min(p1, p2), Min(p3, p4)), Min(Min(p5, p6), Min(Min(p7, p8), p9)));
        edge &= lowest < bkth0;
      }
      remap = live & edge;
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
      memcpy(out + j, mid + j, static_cast<size_t>(n));
      if (limitCanAct)
        for (int i = 0; i < n; i += 4) ApplyPileHeightLimit(out + j + i, limit);
      j += kLanes;
      continue;
    }
    for (int i = 0; i < n; i += 4) {
      // The pixel is finished in registers and stored once.
      const unsigned char* v = mid + j + i;
      int s[4];
      for (int c = 0; c < 4; ++c) s[c] = remap[i + c] ? param.outTable[c][v[c]] : v[c];
      if (limitCanAct) LimitPile(s, s[0] + s[1] + s[2] + s[3], limit);
      for (int c = 0; c < 4; ++c) out[j + i + c] = static_cast<unsigned char>(s[c]);
    }
    j += kLanes;
  }
}

int EdgeEnhanceProc(FILE* in, FILE* out, const ZTRasterHeader* header, const EeParamSet& param) {
  const size_t width = header->width > 0 ? static_cast<size_t>(header->width) : 0;
  const size_t height = header->height > 0 ? static_cast<size_t>(header->height) : 0;
  const size_t lineBytes = width * 4;
  // Each ring slot holds a line with one zero pixel before it and two after
  // it: the page's left and right borders, and room for the last load of a
  // row of an odd number of pixels.
  const size_t slotBytes = lineBytes + 12;

  std::unique_ptr<unsigned char, decltype(&free)> ring(static_cast<unsigned char*>(calloc(3, slotBytes)), &free);
  if (!ring) return EE_NO_MEMORY_LINES;
  std::unique_ptr<unsigned char, decltype(&free)> outLine(
      static_cast<unsigned char*>(calloc(lineBytes ? lineBytes : 1, 1)), &free);
  if (!outLine) return EE_NO_MEMORY_OUTPUT;
  auto slot = [&](size_t i) { return ring.get() + (i % 3) * slotBytes + 4; };

  // Step i reads line i into slot (i + 1) % 3 and emits row i - 1, whose
  // upper and lower neighbours sit in the other two slots. Slot 0 starts as
  // the zero row above the page; the last step reads the zero row below it.
  for (size_t i = 0; i <= height; ++i) {
    unsigned char* line = slot(i + 1);
    if (i < height) {
      if (lineBytes && fread(line, 1, lineBytes, in) != lineBytes) return EE_READ_FAILED;
    } else {
      memset(line, 0, lineBytes);
    }
    if (i == 0) continue;
    EdgeEnhanceRow(slot(i - 1), slot(i), slot(i + 1), static_cast<unsigned>(width), param, outLine.get());
    if (lineBytes && fwrite(outLine.get(), 1, lineBytes, out) != lineBytes) return EE_WRITE_FAILED;
  }
  return EE_OK;
}
