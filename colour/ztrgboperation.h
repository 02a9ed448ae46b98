// Colour image library: small per-pixel colour operations on 8-bit R, G, B
// with precomputed fixed-point parameter blocks, so that the per-pixel work
// is integer-only.
//
//   LCC   brightness, contrast and chroma adjustment
//   CST   tone and white-point correction from a gamma-coded RGB into sRGB
//   NTSC  grey value of a pixel
//
// A pixel is passed as three separate bytes (pointers to the input bytes
// and to the output bytes, which may be the same).
#pragma once

#include <cstdint>

// LCC parameters, 16.16 fixed point (value x 65536): a 3 x 3 matrix, row by
// row (output R, G, B; columns input R, G, B), and one offset per output
// channel of which only the integer part (the upper 16 bits) is used.
struct cil_LCCParam {
  int32_t coef[9];
  int32_t offset[3];
};
static_assert(sizeof(cil_LCCParam) == 48);

// CST parameters.
struct cil_CSTParam {
  uint16_t lin[3][256];    // linear value (0..65535) of each 8-bit input, for R, G, B
  int32_t matrix[9];       // linear input RGB -> linear sRGB, row-major, 16.16
  int32_t valid;           // 0 usable, -1 refused (the pixel step then copies)
  int32_t corner[8][3];    // near-white corner outputs (16-bit scale), index r + 2g + 4b
  int32_t nearWhite;       // 0 for white point 6500, 1 for 5000 and 9300
};

// 0, or -1 when no block is given. Brightness, chroma and contrast are
// limited to -100..100.
int cil_Create_LCC_Param_sBGR(cil_LCCParam* block, int16_t brightness, int16_t chroma, int16_t contrast,
                              int16_t redOffset, int16_t greenOffset, int16_t blueOffset);
// With no block the input is copied.
void cil_LCC_Conv_sBGR_Pixel(const cil_LCCParam* block, const uint8_t* inR, const uint8_t* inG, const uint8_t* inB,
                             uint8_t* outR, uint8_t* outG, uint8_t* outB);

// 0, or -1 for a white point other than 5000, 6500, 9300 or a gamma code
// other than 10, 14, 18, 22, 26 (the block is then marked unusable), or no
// block.
int cil_Create_CST_Param_WpGm(cil_CSTParam* block, int16_t whitePoint, int16_t gammaCode);
// With no block or an unusable block the input is copied.
void cil_CST_Conv_sBGR_Pixel(const cil_CSTParam* block, const uint8_t* inR, const uint8_t* inG, const uint8_t* inB,
                             uint8_t* outR, uint8_t* outG, uint8_t* outB);

// grey = (77 R + 151 G + 28 B) >> 8
void cil_NTSC_Conv_Pixel(const uint8_t* inR, const uint8_t* inG, const uint8_t* inB, uint8_t* outGrey);

// ---- Fixed tables (built once, on first use) -------------------------------

// Gamma table of a code (10, 14, 18, 22, 26): entry i = round(65535 (i/255)^(code/10));
// null for other codes.
const uint16_t* cil_GammaTable(int gammaCode);
// sRGB encoding table: entry i = round(255 s(i / 4095)), s the sRGB transfer function.
const uint8_t* cil_SRGBEncodeTable();
// XYZ -> linear sRGB, rows.
extern const double XYZ2sRGBMatrix[3][3];

// ---- The tone step, inline --------------------------------------------------
// cil_CST_Conv_sBGR_Pixel on a usable block, for callers that convert whole
// runs of pixels: same results, without a call per pixel.

inline int32_t cil_Dot3(int32_t c0, int32_t c1, int32_t c2, int32_t a, int32_t b, int32_t c) {
  // 64-bit products wrapped to 32 bits: the result of 32-bit arithmetic
  // without undefined behaviour (the parameter ranges keep it from wrapping).
  return static_cast<int32_t>(static_cast<int64_t>(c0) * a + static_cast<int64_t>(c1) * b + static_cast<int64_t>(c2) * c);
}

void cil_CSTNearWhite(const cil_CSTParam* block, int32_t a, int32_t b, int32_t c, int32_t out[3]);

inline void cil_CSTPixelInline(const cil_CSTParam* block, const uint8_t* encode, uint8_t& r, uint8_t& g, uint8_t& b) {
  const int32_t a = block->lin[0][r], bb = block->lin[1][g], c = block->lin[2][b];
  int32_t out[3];
  if (block->nearWhite && a > 0xEFFF && bb > 0xEFFF && c > 0xEFFF) {
    cil_CSTNearWhite(block, a, bb, c, out);
  } else {
    const int32_t* m = block->matrix;
    out[0] = cil_Dot3(m[0] >> 2, m[1] >> 2, m[2] >> 2, a, bb, c) >> 18;
    out[1] = cil_Dot3(m[3] >> 2, m[4] >> 2, m[5] >> 2, a, bb, c) >> 18;
    out[2] = cil_Dot3(m[6] >> 2, m[7] >> 2, m[8] >> 2, a, bb, c) >> 18;
  }
  auto clamp12 = [](int32_t v) { return v < 0 ? 0 : v > 4095 ? 4095 : v; };
  r = encode[clamp12(out[0])];
  g = encode[clamp12(out[1])];
  b = encode[clamp12(out[2])];
}

// ---- The tone step, prepared per input value -------------------------------
// The matrix products of the tone step depend on one input byte each, so
// they are worked out once per job: term[ch][v][row] is
// (matrix[3 row + ch] >> 2) x lin[ch][v] in 32-bit two's complement, and
// term[ch][v][3] holds bit ch when the block's near-white path applies and
// lin[ch][v] is above 0xEFFF. A pixel is then three loads and two additions
// of four lanes; results equal cil_CSTPixelInline.
struct cil_CSTRows {
  uint32_t term[3][256][4];
};
void cil_Prepare_CST_Rows(const cil_CSTParam* block, cil_CSTRows* rows);

typedef uint32_t cil_U32x4 __attribute__((vector_size(16)));
typedef int32_t cil_I32x4 __attribute__((vector_size(16)));

inline void cil_CSTPixelRows(const cil_CSTParam* block, const cil_CSTRows* rows, const uint8_t* encode, uint8_t& r,
                             uint8_t& g, uint8_t& b) {
  cil_U32x4 tr, tg, tb;
  __builtin_memcpy(&tr, rows->term[0][r], sizeof tr);
  __builtin_memcpy(&tg, rows->term[1][g], sizeof tg);
  __builtin_memcpy(&tb, rows->term[2][b], sizeof tb);
  const cil_U32x4 sum = tr + tg + tb;
  int32_t out[3];
  if (sum[3] == 7) {
    cil_CSTNearWhite(block, block->lin[0][r], block->lin[1][g], block->lin[2][b], out);
  } else {
    const cil_I32x4 shifted = reinterpret_cast<const cil_I32x4&>(sum) >> 18;
    out[0] = shifted[0];
    out[1] = shifted[1];
    out[2] = shifted[2];
  }
  auto clamp12 = [](int32_t v) { return v < 0 ? 0 : v > 4095 ? 4095 : v; };
  r = encode[clamp12(out[0])];
  g = encode[clamp12(out[1])];
  b = encode[clamp12(out[2])];
}
