// DigitalFilterLine: lines whose results follow by hand from the 7-tap rule,
// rounding and clipping, the unchanged ends, and long lines against the rule
// evaluated directly.
#include "digitalfilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "imagefilter_support.h"

namespace {

constexpr int C = 0, M = 1, Y = 2, K = 3;

// A line of the given pixels (C, M, Y, K each).
std::vector<uint8_t> Line(const std::vector<std::array<int, 4>>& pixels) {
  std::vector<uint8_t> line;
  for (const auto& p : pixels)
    for (int v : p) line.push_back(static_cast<uint8_t>(v));
  return line;
}
// One plane of a line.
std::vector<int> Plane(const std::vector<uint8_t>& line, int plane) {
  std::vector<int> v;
  for (size_t i = plane; i < line.size(); i += 4) v.push_back(line[i]);
  return v;
}
std::vector<uint8_t> Filter(std::vector<uint8_t> line, const DfCoefTable& t) {
  DigitalFilterLine(line.data(), line.size(), t);
  return line;
}
// A line whose plane `plane` holds values and the other planes 0.
std::vector<uint8_t> PlaneLine(int plane, const std::vector<int>& values) {
  std::vector<uint8_t> line(values.size() * 4);
  for (size_t i = 0; i < values.size(); ++i) line[i * 4 + plane] = static_cast<uint8_t>(values[i]);
  return line;
}

TEST(DigitalFilter, IdentityCoefficientsLeaveLinesUnchanged) {
  const DfCoefTable identity;  // centre 4096, the rest 0
  for (size_t pixels : {7u, 8u, 16u, 17u, 100u}) {
    const std::string bytes = PatternBytes(pixels * 4, static_cast<uint32_t>(pixels));
    const std::vector<uint8_t> line(bytes.begin(), bytes.end());
    EXPECT_EQ(Filter(line, identity), line) << pixels;
  }
}

TEST(DigitalFilter, EachDistanceHasItsCoefficient) {
  // C takes only distance 3, M distance 2, Y distance 1, K the centre half.
  DfCoefTable t;
  t.dfCoef_C[3] = 0;
  t.dfCoef_C[0] = 4096;
  t.dfCoef_M[3] = 0;
  t.dfCoef_M[1] = 4096;
  t.dfCoef_Y[3] = 0;
  t.dfCoef_Y[2] = 4096;
  t.dfCoef_K[3] = 2048;
  std::vector<std::array<int, 4>> pixels;
  for (int i = 1; i <= 10; ++i) pixels.push_back({i, 10 * i, 20 + i, 2 * i + 1});
  const std::vector<uint8_t> out = Filter(Line(pixels), t);
  EXPECT_EQ(Plane(out, C), (std::vector<int>{1, 2, 3, 1 + 7, 2 + 8, 3 + 9, 4 + 10, 8, 9, 10}));
  EXPECT_EQ(Plane(out, M), (std::vector<int>{10, 20, 30, 20 + 60, 30 + 70, 40 + 80, 50 + 90, 80, 90, 100}));
  EXPECT_EQ(Plane(out, Y), (std::vector<int>{21, 22, 23, 23 + 25, 24 + 26, 25 + 27, 26 + 28, 28, 29, 30}));
  // Half of 9, 11, 13, 15 rounds up: 5, 6, 7, 8.
  EXPECT_EQ(Plane(out, K), (std::vector<int>{3, 5, 7, 5, 6, 7, 8, 17, 19, 21}));
}

TEST(DigitalFilter, RoundsHalfUpAndClips) {
  DfCoefTable t;
  // 254 + 2 x 0.25: exactly 254.5 -> 255; 254 + 2 x 0.2498 -> 254.
  t.dfCoef_K[2] = 1024;
  EXPECT_EQ(Plane(Filter(PlaneLine(K, {0, 0, 1, 254, 1, 0, 0}), t), K)[3], 255);
  t.dfCoef_K[2] = 1023;
  EXPECT_EQ(Plane(Filter(PlaneLine(K, {0, 0, 1, 254, 1, 0, 0}), t), K)[3], 254);
  // Above 255 clips to 255.
  t.dfCoef_K[3] = 8192;
  EXPECT_EQ(Plane(Filter(PlaneLine(K, {0, 0, 0, 200, 0, 0, 0}), t), K)[3], 255);
  // A negative sum gives 0, also one just below zero.
  t.dfCoef_K[3] = 4096;
  t.dfCoef_K[2] = -4096;
  EXPECT_EQ(Plane(Filter(PlaneLine(K, {0, 0, 100, 10, 100, 0, 0}), t), K)[3], 0);
  t.dfCoef_K[2] = -1;
  EXPECT_EQ(Plane(Filter(PlaneLine(K, {0, 0, 1, 0, 1, 0, 0}), t), K)[3], 0);
}

TEST(DigitalFilter, UsesUnfilteredNeighboursAndKeepsThreePixelsAtEachEnd) {
  // Smoothing: centre 0.5, distance-1 neighbours 0.25 each.
  DfCoefTable t;
  t.dfCoef_C[3] = 2048;
  t.dfCoef_C[2] = 1024;
  const std::vector<int> in = {90, 80, 70, 100, 0, 0, 100, 70, 80, 90};
  // 50 + 17.5 = 67.5 -> 68; 25; 25; 68. Were filtered values fed back, the
  // second would be 68 / 4 = 17.
  EXPECT_EQ(Plane(Filter(PlaneLine(C, in), t), C), (std::vector<int>{90, 80, 70, 68, 25, 25, 68, 70, 80, 90}));
}

TEST(DigitalFilter, ShortLinesStayUnchanged) {
  DfCoefTable t;
  t.dfCoef_M[3] = 0;
  t.dfCoef_M[2] = 2048;
  for (size_t bytes : {0u, 3u, 4u, 8u, 11u, 12u, 24u, 27u}) {
    const std::string s = PatternBytes(bytes, 5);
    const std::vector<uint8_t> line(s.begin(), s.end());
    EXPECT_EQ(Filter(line, t), line) << bytes;
  }
  // Seven pixels leave the middle one to filter.
  const std::vector<uint8_t> out = Filter(PlaneLine(M, {1, 2, 3, 40, 60, 6, 7}), t);
  // (3 + 60) / 2 = 31.5 -> 32.
  EXPECT_EQ(Plane(out, M), (std::vector<int>{1, 2, 3, 32, 60, 6, 7}));
}

TEST(DigitalFilter, LongLinesFollowTheRuleAtEveryPixel) {
  std::mt19937 rng(77);
  for (size_t pixels : {15u, 16u, 17u, 31u, 33u, 1000u}) {
    DfCoefTable t;
    for (int* plane : {t.dfCoef_C, t.dfCoef_M, t.dfCoef_Y, t.dfCoef_K})
      for (int i = 0; i < 4; ++i) plane[i] = static_cast<int>(rng() % 12288) - 4096;
    const std::string s = PatternBytes(pixels * 4, static_cast<uint32_t>(pixels) + 1);
    std::vector<uint8_t> in(s.begin(), s.end());
    // Long lines are mostly white (0) with a few marks, as on a text page.
    if (pixels == 1000)
      for (size_t i = 0; i < in.size(); ++i)
        if ((i / 4) % 97 > 5) in[i] = 0;
    const std::vector<uint8_t> out = Filter(in, t);
    const int* planes[4] = {t.dfCoef_C, t.dfCoef_M, t.dfCoef_Y, t.dfCoef_K};
    for (size_t x = 0; x < pixels; ++x)
      for (int c = 0; c < 4; ++c) {
        int expected = in[x * 4 + c];
        if (x >= 3 && x + 3 < pixels) {
          auto P = [&](size_t i) { return static_cast<int>(in[i * 4 + c]); };
          const int* k = planes[c];
          const int s32 = k[3] * P(x) + k[2] * (P(x - 1) + P(x + 1)) + k[1] * (P(x - 2) + P(x + 2)) +
                          k[0] * (P(x - 3) + P(x + 3));
          // s / 4096 rounded half up, within 0 .. 255.
          expected = static_cast<int>(std::floor(s32 / 4096.0 + 0.5));
          expected = std::min(255, std::max(0, expected));
        }
        ASSERT_EQ(out[x * 4 + c], expected) << "pixels " << pixels << " x " << x << " plane " << c;
      }
  }
}

}  // namespace
