// Colour image library: LCC, CST and NTSC. All floating-point work happens
// when a parameter block is made; the pixel steps are integer-only.
#include "ztrgboperation.h"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

const double XYZ2sRGBMatrix[3][3] = {
    {3.241, -1.5374, -0.4986},
    {-0.9692, 1.876, 0.0416},
    {0.0556, -0.204, 1.057},
};

namespace {

constexpr int kGammaCodes[] = {10, 14, 18, 22, 26};
constexpr int kGammaCount = 5;

struct FixedTables {
  std::array<std::array<uint16_t, 256>, kGammaCount> gamma;
  std::array<uint8_t, 4096> encode;
};

FixedTables BuildFixedTables() {
  FixedTables t{};
  for (int k = 0; k < kGammaCount; ++k) {
    const double exponent = kGammaCodes[k] / 10.0;
    for (int i = 0; i < 256; ++i) t.gamma[k][i] = static_cast<uint16_t>(std::lround(65535.0 * std::pow(i / 255.0, exponent)));
  }
  for (int i = 0; i < 4096; ++i) {
    const double x = i / 4095.0;
    const double s = x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1.0 / 2.4) - 0.055;
    t.encode[i] = static_cast<uint8_t>(std::lround(255.0 * s));
  }
  return t;
}

// Built at start-up, before main: the pixel steps read them without a guard.
const FixedTables kTables = BuildFixedTables();
const FixedTables& Tables() { return kTables; }

// X, Y, Z of the red, green and blue primaries.
struct Primaries {
  int whitePoint;
  double xyz[3][3];  // [primary][X, Y, Z]
};
constexpr Primaries kPrimaries[] = {
    {6500, {{0.4124, 0.2126, 0.0193}, {0.3576, 0.7152, 0.1192}, {0.1805, 0.0722, 0.9505}}},
    {5000, {{0.4333, 0.2178, 0.0147}, {0.3961, 0.7125, 0.0911}, {0.1349, 0.0697, 0.7236}}},
    {9300, {{0.3918, 0.2074, 0.0249}, {0.3208, 0.7177, 0.1534}, {0.2368, 0.0749, 1.2275}}},
};

int32_t Fixed16(double v) { return static_cast<int32_t>(v * 65536.0); }  // truncates toward zero

uint8_t ClampByte(int32_t v) { return v <= 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v); }

}  // namespace

const uint16_t* cil_GammaTable(int gammaCode) {
  for (int k = 0; k < kGammaCount; ++k)
    if (kGammaCodes[k] == gammaCode) return Tables().gamma[k].data();
  return nullptr;
}

const uint8_t* cil_SRGBEncodeTable() { return Tables().encode.data(); }

// ---- LCC -------------------------------------------------------------------

int cil_Create_LCC_Param_sBGR(cil_LCCParam* block, int16_t brightness, int16_t chroma, int16_t contrast,
                              int16_t redOffset, int16_t greenOffset, int16_t blueOffset) {
  if (!block) return -1;
  auto limit = [](int v) { return v < -100 ? -100 : v > 100 ? 100 : v; };
  const double br = limit(brightness), ch = limit(chroma), ct = limit(contrast);
  const double g = 1.0 + 0.003 * ct;
  const double s = ch < 0 ? 1.0 + 0.005 * ch : 1.0 + 0.01 * ch;
  const double u = 0.5 * br + (1.0 - g) * 255.0;
  const double m[9] = {
      0.3 * g + 0.7 * s, 0.59 * g - 0.59 * s, 0.11 * g - 0.11 * s,
      0.3 * g - 0.3 * s, 0.59 * g + 0.41 * s, 0.11 * g - 0.11 * s,
      0.3 * g - 0.3 * s, 0.59 * g - 0.59 * s, 0.11 * g + 0.89 * s,
  };
  for (int i = 0; i < 9; ++i) block->coef[i] = Fixed16(m[i]);
  block->offset[0] = Fixed16(0.5 * redOffset + u);
  block->offset[1] = Fixed16(0.5 * greenOffset + u);
  block->offset[2] = Fixed16(0.5 * blueOffset + u);
  return 0;
}

void cil_LCC_Conv_sBGR_Pixel(const cil_LCCParam* block, const uint8_t* inR, const uint8_t* inG, const uint8_t* inB,
                             uint8_t* outR, uint8_t* outG, uint8_t* outB) {
  const int32_t r = *inR * 257, g = *inG * 257, b = *inB * 257;
  if (!block) {
    *outR = *inR;
    *outG = *inG;
    *outB = *inB;
    return;
  }
  const int32_t* c = block->coef;
  int32_t out[3];
  for (int row = 0; row < 3; ++row) {
    const int32_t* k = c + 3 * row;
    out[row] = (cil_Dot3(k[0] >> 2, k[1] >> 2, k[2] >> 2, r, g, b) >> 22) + (block->offset[row] >> 16);
  }
  *outR = ClampByte(out[0]);
  *outG = ClampByte(out[1]);
  *outB = ClampByte(out[2]);
}

// ---- CST -------------------------------------------------------------------

int cil_Create_CST_Param_WpGm(cil_CSTParam* block, int16_t whitePoint, int16_t gammaCode) {
  if (!block) return -1;
  const Primaries* p = nullptr;
  for (const Primaries& q : kPrimaries)
    if (q.whitePoint == whitePoint) p = &q;
  const uint16_t* gamma = cil_GammaTable(gammaCode);
  if (!p || !gamma) {
    block->valid = -1;
    return -1;
  }
  block->nearWhite = whitePoint == 6500 ? 0 : 1;
  for (int ch = 0; ch < 3; ++ch) memcpy(block->lin[ch], gamma, sizeof block->lin[ch]);
  // M = XYZ2sRGBMatrix x P, where column j of P is primary j's X, Y, Z.
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double m = 0;
      for (int k = 0; k < 3; ++k) m += XYZ2sRGBMatrix[i][k] * p->xyz[j][k];
      block->matrix[3 * i + j] = Fixed16(m);
    }
  memset(block->corner, 0, sizeof block->corner);
  if (block->nearWhite) {
    constexpr int32_t E = 0xEFFF, F = 0xFFFF;
    for (int index = 0; index < 7; ++index) {
      const int32_t t[3] = {(index & 1) ? F : E, (index & 2) ? F : E, (index & 4) ? F : E};
      for (int row = 0; row < 3; ++row) {
        const int32_t* k = block->matrix + 3 * row;
        block->corner[index][row] = cil_Dot3(k[0] >> 2, k[1] >> 2, k[2] >> 2, t[0], t[1], t[2]) >> 14;
      }
    }
    for (int row = 0; row < 3; ++row) block->corner[7][row] = F;
  }
  block->valid = 0;
  return 0;
}

void cil_Prepare_CST_Rows(const cil_CSTParam* block, cil_CSTRows* rows) {
  for (int ch = 0; ch < 3; ++ch)
    for (int v = 0; v < 256; ++v) {
      const int64_t lin = block->lin[ch][v];
      for (int row = 0; row < 3; ++row)
        rows->term[ch][v][row] = static_cast<uint32_t>((block->matrix[3 * row + ch] >> 2) * lin);
      rows->term[ch][v][3] = block->nearWhite && lin > 0xEFFF ? 1u << ch : 0u;
    }
}

// Tetrahedral interpolation between the near-white corners.
void cil_CSTNearWhite(const cil_CSTParam* block, int32_t a, int32_t b, int32_t c, int32_t out[3]) {
  const int f[3] = {a & 0xFFF, b & 0xFFF, c & 0xFFF};
  int axis[3] = {0, 1, 2};
  // Sort the axes by decreasing fraction.
  if (f[axis[0]] < f[axis[1]]) std::swap(axis[0], axis[1]);
  if (f[axis[1]] < f[axis[2]]) std::swap(axis[1], axis[2]);
  if (f[axis[0]] < f[axis[1]]) std::swap(axis[0], axis[1]);
  const int f1 = f[axis[0]], f2 = f[axis[1]], f3 = f[axis[2]];
  const int c1 = 1 << axis[0], c2 = c1 | (1 << axis[1]);
  for (int row = 0; row < 3; ++row)
    out[row] = ((4096 - f1) * block->corner[0][row] + (f1 - f2) * block->corner[c1][row] +
                (f2 - f3) * block->corner[c2][row] + f3 * block->corner[7][row]) >> 16;
}

void cil_CST_Conv_sBGR_Pixel(const cil_CSTParam* block, const uint8_t* inR, const uint8_t* inG, const uint8_t* inB,
                             uint8_t* outR, uint8_t* outG, uint8_t* outB) {
  uint8_t r = *inR, g = *inG, b = *inB;
  if (block && block->valid == 0) cil_CSTPixelInline(block, kTables.encode.data(), r, g, b);
  *outR = r;
  *outG = g;
  *outB = b;
}

// ---- NTSC ------------------------------------------------------------------

void cil_NTSC_Conv_Pixel(const uint8_t* inR, const uint8_t* inG, const uint8_t* inB, uint8_t* outGrey) {
  *outGrey = static_cast<uint8_t>((77 * *inR + 151 * *inG + 28 * *inB) >> 8);
}
