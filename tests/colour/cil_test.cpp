#include "ztrgboperation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct RGB {
  int r, g, b;
  bool operator==(const RGB& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const RGB& p) { return os << "(" << p.r << ", " << p.g << ", " << p.b << ")"; }

RGB Lcc(const cil_LCCParam* p, RGB in) {
  uint8_t r = in.r, g = in.g, b = in.b;
  cil_LCC_Conv_sBGR_Pixel(p, &r, &g, &b, &r, &g, &b);  // in place, as the filter calls it
  return {r, g, b};
}
RGB Cst(const cil_CSTParam* p, RGB in) {
  const uint8_t r = in.r, g = in.g, b = in.b;
  uint8_t o[3];
  cil_CST_Conv_sBGR_Pixel(p, &r, &g, &b, &o[0], &o[1], &o[2]);
  return {o[0], o[1], o[2]};
}

TEST(ColourLibrary, AdjustmentWorkedExamples) {
  cil_LCCParam p;
  // Brightness 100 adds 50.
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, 100, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(p.offset[0], 50 * 65536);
  EXPECT_EQ(Lcc(&p, {0, 0, 0}), (RGB{50, 50, 50}));
  EXPECT_EQ(Lcc(&p, {230, 230, 230}), (RGB{255, 255, 255}));
  EXPECT_EQ(Lcc(&p, {10, 100, 205}), (RGB{60, 150, 255}));

  // Contrast 100: gain 1.3, offset -76.5, of which the pixel step uses -77.
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, 0, 0, 100, 0, 0, 0), 0);
  EXPECT_EQ(p.offset[1], -5013504);
  EXPECT_EQ(p.offset[1] >> 16, -77);
  EXPECT_EQ(p.coef[0] + p.coef[1] + p.coef[2], static_cast<int>(1.3 * 65536) - 1);  // three truncations
  EXPECT_EQ(Lcc(&p, {128, 128, 128}), (RGB{90, 90, 90}));
  EXPECT_EQ(Lcc(&p, {100, 150, 200}), (RGB{65, 115, 166}));
  EXPECT_EQ(Lcc(&p, {255, 255, 255}), (RGB{255, 255, 255}));
  EXPECT_EQ(Lcc(&p, {20, 20, 20}), (RGB{0, 0, 0}));

  // Chroma 100: S = 2; chroma -100: S = 0.5. Greys keep their value.
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, 0, 100, 0, 0, 0, 0), 0);
  EXPECT_EQ(p.coef[0], static_cast<int>(1.7 * 65536));
  EXPECT_EQ(p.coef[1], static_cast<int>(-0.59 * 65536));
  EXPECT_EQ(Lcc(&p, {200, 100, 50}), (RGB{255, 75, 0}));
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, 0, -100, 0, 0, 0, 0), 0);
  EXPECT_EQ(p.coef[0], static_cast<int>(0.65 * 65536));
  EXPECT_EQ(Lcc(&p, {200, 100, 50}), (RGB{162, 112, 87}));

  // Values beyond +-100 are limited; offsets add half their value.
  cil_LCCParam q;
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, -40, -100, 50, 0, 0, 0), 0);
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&q, -40, -300, 50, 0, 0, 0), 0);
  EXPECT_EQ(memcmp(&p, &q, sizeof p), 0);
  EXPECT_EQ(Lcc(&p, {10, 128, 250}), (RGB{15, 74, 135}));
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, 0, 0, 0, 20, -20, 0), 0);
  EXPECT_EQ(Lcc(&p, {100, 100, 100}), (RGB{110, 90, 100}));

  EXPECT_EQ(cil_Create_LCC_Param_sBGR(nullptr, 0, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(Lcc(nullptr, {1, 2, 3}), (RGB{1, 2, 3}));
}

TEST(ColourLibrary, AdjustmentIdentityAndFloatModel) {
  cil_LCCParam p;
  ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, 0, 0, 0, 0, 0, 0), 0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(p.coef[i], i % 4 == 0 ? 65536 : 0) << i;
  for (int v = 0; v < 256; v += 5) EXPECT_EQ(Lcc(&p, {v, 255 - v, v / 2}), (RGB{v, 255 - v, v / 2}));

  // Against the adjustment computed in floating point: the pixel step widens
  // bytes by 257 / 256 and drops the fractions of the product and of the
  // offset, so it stays within two levels below the exact value.
  for (int br : {-100, -30, 0, 70}) {
    for (int ch : {-100, -20, 0, 45, 100}) {
      for (int ct : {-100, 0, 60, 100}) {
        ASSERT_EQ(cil_Create_LCC_Param_sBGR(&p, br, ch, ct, 0, 0, 0), 0);
        const double g = 1 + 0.003 * ct, s = ch < 0 ? 1 + 0.005 * ch : 1 + 0.01 * ch;
        for (int k = 0; k < 200; ++k) {
          const RGB in{(k * 37) % 256, (k * 91 + 13) % 256, (k * 53 + 200) % 256};
          const double w = 257.0 / 256.0;
          const double y = (0.3 * in.r + 0.59 * in.g + 0.11 * in.b) * w;
          const double c[3] = {in.r * w, in.g * w, in.b * w};
          const RGB out = Lcc(&p, in);
          const int got[3] = {out.r, out.g, out.b};
          for (int ch3 = 0; ch3 < 3; ++ch3) {
            const double want = std::clamp(g * y + s * (c[ch3] - y) + 0.5 * br + (1 - g) * 255, 0.0, 255.0);
            EXPECT_LE(got[ch3], std::ceil(want)) << br << " " << ch << " " << ct << " " << in;
            EXPECT_GE(got[ch3], want - 2.0) << br << " " << ch << " " << ct << " " << in;
          }
        }
      }
    }
  }
}

// sRGB encoding of a linear value.
double EncodeSRGB(double x) {
  x = std::clamp(x, 0.0, 1.0);
  return 255.0 * (x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055);
}

TEST(ColourLibrary, ToneCorrectionRefusalsAndEndPoints) {
  cil_CSTParam p;
  EXPECT_EQ(cil_Create_CST_Param_WpGm(&p, 7000, 22), -1);
  EXPECT_EQ(Cst(&p, {12, 200, 99}), (RGB{12, 200, 99}));
  EXPECT_EQ(cil_Create_CST_Param_WpGm(&p, 6500, 20), -1);
  EXPECT_EQ(Cst(&p, {0, 128, 255}), (RGB{0, 128, 255}));
  EXPECT_EQ(cil_Create_CST_Param_WpGm(nullptr, 6500, 22), -1);
  EXPECT_EQ(Cst(nullptr, {7, 8, 9}), (RGB{7, 8, 9}));

  ASSERT_EQ(cil_Create_CST_Param_WpGm(&p, 6500, 22), 0);
  EXPECT_EQ(p.valid, 0);
  EXPECT_EQ(p.nearWhite, 0);
  EXPECT_EQ(Cst(&p, {255, 255, 255}), (RGB{255, 255, 255}));
  EXPECT_EQ(Cst(&p, {0, 0, 0}), (RGB{0, 0, 0}));

  // Every white point and gamma code keeps white white and black black.
  for (int wp : {5000, 6500, 9300}) {
    for (int gm : {10, 14, 18, 22, 26}) {
      SCOPED_TRACE(testing::Message() << wp << "/" << gm);
      ASSERT_EQ(cil_Create_CST_Param_WpGm(&p, wp, gm), 0);
      EXPECT_EQ(p.nearWhite, wp == 6500 ? 0 : 1);
      EXPECT_EQ(Cst(&p, {255, 255, 255}), (RGB{255, 255, 255}));
      EXPECT_EQ(Cst(&p, {0, 0, 0}), (RGB{0, 0, 0}));
    }
  }
}

TEST(ColourLibrary, ToneCorrectionAgainstFloatModel) {
  // Primaries of each white point, as X, Y, Z of red, green, blue.
  const struct {
    int wp;
    double xyz[3][3];
  } kPrim[] = {
      {6500, {{0.4124, 0.2126, 0.0193}, {0.3576, 0.7152, 0.1192}, {0.1805, 0.0722, 0.9505}}},
      {5000, {{0.4333, 0.2178, 0.0147}, {0.3961, 0.7125, 0.0911}, {0.1349, 0.0697, 0.7236}}},
      {9300, {{0.3918, 0.2074, 0.0249}, {0.3208, 0.7177, 0.1534}, {0.2368, 0.0749, 1.2275}}},
  };
  const double A[3][3] = {{3.241, -1.5374, -0.4986}, {-0.9692, 1.876, 0.0416}, {0.0556, -0.204, 1.057}};
  cil_CSTParam p;
  for (const auto& prim : kPrim) {
    for (int gm : {10, 18, 22, 26}) {
      SCOPED_TRACE(testing::Message() << prim.wp << "/" << gm);
      ASSERT_EQ(cil_Create_CST_Param_WpGm(&p, prim.wp, gm), 0);
      double worst = 0, total = 0;
      int n = 0;
      for (int k = 0; k < 3000; ++k) {
        const RGB in{(k * 37) % 256, (k * 91 + 13) % 256, (k * 53 + 200) % 256};
        const double lin[3] = {std::pow(in.r / 255.0, gm / 10.0), std::pow(in.g / 255.0, gm / 10.0),
                               std::pow(in.b / 255.0, gm / 10.0)};
        // The near-white corner blend is checked separately.
        if (prim.wp != 6500 && lin[0] > 0xEFFF / 65535.0 && lin[1] > 0xEFFF / 65535.0 && lin[2] > 0xEFFF / 65535.0)
          continue;
        const RGB out = Cst(&p, in);
        const int got[3] = {out.r, out.g, out.b};
        for (int i = 0; i < 3; ++i) {
          double v = 0;
          for (int j = 0; j < 3; ++j)
            for (int k2 = 0; k2 < 3; ++k2) v += A[i][k2] * prim.xyz[j][k2] * lin[j];
          const double err = std::fabs(got[i] - EncodeSRGB(v));
          worst = std::max(worst, err);
          total += err;
          ++n;
        }
      }
      // 12-bit intermediate values: one step is at most 0.8 levels, at the dark end.
      EXPECT_LT(worst, 2.0);
      EXPECT_LT(total / n, 0.6);
    }
  }
}

TEST(ColourLibrary, NearWhiteCornersBlendToWhite) {
  cil_CSTParam p;
  ASSERT_EQ(cil_Create_CST_Param_WpGm(&p, 9300, 22), 0);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(p.corner[7][c], 0xFFFF);
  // Corner (E, E, E) is the matrix applied to 0xEFFF on every axis.
  for (int row = 0; row < 3; ++row) {
    int64_t s = 0;
    for (int k = 0; k < 3; ++k) s += static_cast<int64_t>(p.matrix[3 * row + k] >> 2) * 0xEFFF;
    EXPECT_EQ(p.corner[0][row], static_cast<int32_t>(s >> 14));
  }
  // Near white the output moves smoothly from the corner blend towards white:
  // each step up on one input never lowers that channel by more than a level.
  const uint16_t* lin = p.lin[0];
  int first = 255;
  while (first > 0 && lin[first - 1] > 0xEFFF) --first;
  ASSERT_LT(first, 255);
  for (int v = first; v < 255; ++v) {
    const RGB a = Cst(&p, {v, 250, 252}), b = Cst(&p, {v + 1, 250, 252});
    EXPECT_GE(b.r + 1, a.r) << v;
  }
  // A near-white grey stays near grey (no tint jump at the switch to the blend).
  const RGB below = Cst(&p, {first - 1, first - 1, first - 1}), at = Cst(&p, {first, first, first});
  EXPECT_LE(std::abs(below.r - at.r), 3);
  EXPECT_LE(std::abs(below.b - at.b), 3);
}

// The prepared form of the tone step gives the pixel step's bytes for every
// white point and gamma code, near white included.
TEST(ColourLibrary, PreparedToneRowsEqualThePixelStep) {
  for (int white : {5000, 6500, 9300})
    for (int gamma : {10, 14, 18, 22, 26}) {
      cil_CSTParam p;
      ASSERT_EQ(cil_Create_CST_Param_WpGm(&p, static_cast<int16_t>(white), static_cast<int16_t>(gamma)), 0);
      cil_CSTRows rows;
      cil_Prepare_CST_Rows(&p, &rows);
      for (uint32_t k = 0; k < 40000; ++k) {
        // Spread over the cube, with every fifth pixel near white.
        const uint32_t v = k * 2654435761u;
        const int lift = k % 5 == 0 ? 230 : 0;
        uint8_t in[3], want[3];
        for (int c = 0; c < 3; ++c)
          in[c] = static_cast<uint8_t>(lift + ((v >> (8 * c)) & 0xFF) % (256 - lift));
        cil_CST_Conv_sBGR_Pixel(&p, &in[0], &in[1], &in[2], &want[0], &want[1], &want[2]);
        uint8_t r = in[0], g = in[1], b = in[2];
        cil_CSTPixelRows(&p, &rows, cil_SRGBEncodeTable(), r, g, b);
        ASSERT_TRUE(r == want[0] && g == want[1] && b == want[2])
            << white << " " << gamma << ": " << +in[0] << " " << +in[1] << " " << +in[2];
      }
    }
}

TEST(ColourLibrary, GreyValue) {
  auto ntsc = [](int r, int g, int b) {
    const uint8_t R = r, G = g, B = b;
    uint8_t y;
    cil_NTSC_Conv_Pixel(&R, &G, &B, &y);
    return int(y);
  };
  EXPECT_EQ(ntsc(255, 255, 255), 255);
  EXPECT_EQ(ntsc(255, 0, 0), 76);
  EXPECT_EQ(ntsc(0, 255, 0), 150);
  EXPECT_EQ(ntsc(0, 0, 255), 27);
  EXPECT_EQ(ntsc(0, 0, 0), 0);
  EXPECT_EQ(ntsc(100, 150, 200), (77 * 100 + 151 * 150 + 28 * 200) / 256);
}

}  // namespace
