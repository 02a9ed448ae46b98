// EdgeEnhanceProc on small pages whose results follow by hand from the
// classification rules: gradients, thin lines, flat areas, zero borders and
// the pile-height limit; and against a literal model of the rules on random
// pages.
#include "edgeenhance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>

#include "imagefilter_support.h"

namespace {

constexpr int C = COLOR_ORDER_C, M = COLOR_ORDER_M, Y = COLOR_ORDER_Y, K = COLOR_ORDER_K;

// Every mode off, nothing plain by level, no limit; remapping adds 10, 20,
// 30 or 40 to a C, M, Y or K sample, so that each plane's table is told
// apart.
EeParamSet Params() {
  EeParamSet p;
  for (int c = 0; c < 4; ++c) {
    p.npth0[c] = 1;
    for (int v = 0; v < 256; ++v) p.outTable[c][v] = static_cast<unsigned char>(v + 10 * (c + 1));
  }
  p.pileheight_limit = 1020;
  return p;
}
unsigned char Remapped(int plane, int v) { return static_cast<unsigned char>(v + 10 * (plane + 1)); }

CmykPage Enhance(const CmykPage& page, const EeParamSet& p, int* result = nullptr) {
  const ZTRasterHeader h = page.Header();
  int rc = -100;
  const std::string out = RunOnStreams(
      page.Bytes(), [&](FILE* in, FILE* o) { return EdgeEnhanceProc(in, o, &h, p); }, &rc);
  if (result) *result = rc;
  EXPECT_EQ(rc, EE_OK);
  EXPECT_EQ(out.size(), page.px.size());
  CmykPage r(page.width, page.height);
  r.px.assign(out.begin(), out.end());
  r.px.resize(page.px.size());
  return r;
}

// Columns 3..5 of a 6 x 5 page hold 200 in one plane, the rest is 0.
// Interior rows: column 3 meets the 0 of column 2 (g2 = -600), column 5
// the zero border beyond column 5 (g2 = 600); column 4 is flat. The top and
// bottom rows meet the zero rows beyond the page (|g1| = 600).
CmykPage StepPage(int plane) {
  CmykPage page(6, 5);
  for (unsigned y = 0; y < 5; ++y)
    for (unsigned x = 3; x < 6; ++x) page.At(x, y)[plane] = 200;
  return page;
}
CmykPage StepEdges(int plane) {
  CmykPage page = StepPage(plane);
  for (unsigned y = 0; y < 5; ++y)
    for (unsigned x = 3; x < 6; ++x)
      if (x != 4 || y == 0 || y == 4) page.At(x, y)[plane] = Remapped(plane, 200);
  return page;
}

class EdgeEnhancePlane : public ::testing::TestWithParam<int> {};

TEST_P(EdgeEnhancePlane, RemapsEdgesFromTheLargestGradient) {
  const int plane = GetParam();
  const CmykPage page = StepPage(plane);
  EeParamSet p = Params();
  p.edge_mode = 1;
  p.eeth0[plane] = 600;
  EXPECT_EQ(Enhance(page, p).px, StepEdges(plane).px);

  p.eeth0[plane] = 601;
  EXPECT_EQ(Enhance(page, p).px, page.px);

  // Samples below npth0 are plain whatever their gradient.
  p.eeth0[plane] = 600;
  p.npth0[plane] = 201;
  EXPECT_EQ(Enhance(page, p).px, page.px);
  p.npth0[plane] = 200;
  EXPECT_EQ(Enhance(page, p).px, StepEdges(plane).px);

  // With the background mode the edge test needs a window value below bkth0.
  p.bkgnd_mode = 1;
  p.bkth0[plane] = 0;
  EXPECT_EQ(Enhance(page, p).px, page.px);
  p.bkth0[plane] = 1;
  EXPECT_EQ(Enhance(page, p).px, StepEdges(plane).px);
}

INSTANTIATE_TEST_SUITE_P(EdgeEnhancePlanes, EdgeEnhancePlane, ::testing::Values(C, M, Y, K));

// A line of 180 on a surround of 10 in plane M of a 5 x 5 page; the three
// points of the line inside the page are thin-line pixels (at the page edge
// the line meets the zero border).
struct ThinLine {
  const char* name;
  std::vector<std::pair<unsigned, unsigned>> points;  // five points, ends first and last
};

class EdgeEnhanceThinLine : public ::testing::TestWithParam<ThinLine> {};

TEST_P(EdgeEnhanceThinLine, RemapsTheInnerPointsOfALine) {
  CmykPage page(5, 5, 0, 10, 0, 0);
  for (const auto& [x, y] : GetParam().points) page.At(x, y)[M] = 180;
  CmykPage expected = page;
  for (size_t i = 1; i + 1 < GetParam().points.size(); ++i) {
    const auto& [x, y] = GetParam().points[i];
    expected.At(x, y)[M] = Remapped(M, 180);
  }
  EeParamSet p = Params();
  p.dot_mode = 1;
  p.loth[M] = 10;    // surround at most 10 ...
  p.eeth1[M] = 170;  // ... and the line at least 170 above it
  EXPECT_EQ(Enhance(page, p).px, expected.px);
  p.loth[M] = 9;
  EXPECT_EQ(Enhance(page, p).px, page.px);
  p.loth[M] = 10;
  p.eeth1[M] = 171;
  EXPECT_EQ(Enhance(page, p).px, page.px);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeEnhanceThinLines, EdgeEnhanceThinLine,
    ::testing::Values(ThinLine{"Across", {{0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}}},
                      ThinLine{"Upright", {{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}}},
                      ThinLine{"Rising", {{0, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 0}}},
                      ThinLine{"Falling", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}}),
    [](const ::testing::TestParamInfo<ThinLine>& info) { return std::string(info.param.name); });

TEST(EdgeEnhance, FlatAreasAreEdgesOrThinLinesOnlyAtZeroThresholds) {
  const CmykPage page(5, 5, 0, 0, 100, 0);
  auto interior = [](const CmykPage& out) {
    std::vector<int> v;
    for (unsigned y = 1; y < 4; ++y)
      for (unsigned x = 1; x < 4; ++x) v.push_back(out.At(x, y)[Y]);
    return v;
  };
  const std::vector<int> plain(9, 100), remapped(9, Remapped(Y, 100));

  EeParamSet p = Params();
  p.edge_mode = 1;
  p.eeth0[Y] = 0;
  EXPECT_EQ(Enhance(page, p).px, CmykPage(5, 5, 0, 0, Remapped(Y, 100), 0).px);
  p.eeth0[Y] = 1;
  const CmykPage edgesOnly = Enhance(page, p);
  EXPECT_EQ(interior(edgesOnly), plain);
  EXPECT_EQ(edgesOnly.At(0, 2)[Y], Remapped(Y, 100));  // the zero border makes an edge

  p = Params();
  p.dot_mode = 1;
  p.eeth1[Y] = 0;
  p.loth[Y] = 100;
  EXPECT_EQ(interior(Enhance(page, p)), remapped);
  p.loth[Y] = 99;
  EXPECT_EQ(interior(Enhance(page, p)), plain);
  p.loth[Y] = 100;
  p.eeth1[Y] = 1;
  EXPECT_EQ(interior(Enhance(page, p)), plain);
}

TEST(EdgeEnhance, PileHeightLimitScalesColoursBesideK) {
  CmykPage page(4, 1);
  page.Set(0, 0, 100, 100, 100, 100);  // sum 400
  page.Set(1, 0, 50, 60, 70, 200);     // K above the limits below
  page.Set(2, 0, 0, 0, 0, 255);        // no colour to scale
  page.Set(3, 0, 10, 0, 0, 0);
  EeParamSet p = Params();

  p.pileheight_limit = 400;
  EXPECT_EQ(Enhance(page, p).At(0, 0)[C], 100);

  p.pileheight_limit = 399;
  CmykPage out = Enhance(page, p);
  for (int c : {C, M, Y}) EXPECT_EQ(out.At(0, 0)[c], 100 * 299 / 300);
  EXPECT_EQ(out.At(0, 0)[K], 100);

  p.pileheight_limit = 150;
  out = Enhance(page, p);
  for (int c : {C, M, Y}) EXPECT_EQ(out.At(1, 0)[c], 0);
  EXPECT_EQ(out.At(1, 0)[K], 200);
  EXPECT_EQ(out.At(2, 0)[K], 255);
  EXPECT_EQ(out.At(3, 0)[C], 10);
}

TEST(EdgeEnhance, PagesWiderThanTheFixedRingAreHandled) {
  CmykPage page(6000, 3);
  for (unsigned y = 0; y < 3; ++y)
    for (unsigned x = 5500; x < 6000; ++x) page.At(x, y)[K] = 200;
  EeParamSet p = Params();
  p.edge_mode = 1;
  p.eeth0[K] = 600;
  const CmykPage out = Enhance(page, p);
  for (unsigned x : {5500u, 5999u}) EXPECT_EQ(out.At(x, 1)[K], Remapped(K, 200)) << x;
  for (unsigned x : {5501u, 5998u}) EXPECT_EQ(out.At(x, 1)[K], 200) << x;
  EXPECT_EQ(out.At(5700, 0)[K], Remapped(K, 200));
  EXPECT_EQ(out.At(5499, 1)[K], 0);
}

TEST(EdgeEnhance, ReportsShortInputAndFailedWrites) {
  const CmykPage page = StepPage(C);
  const ZTRasterHeader h = page.Header();
  int rc = 0;
  const std::string out = RunOnStreams(
      page.Bytes().substr(0, page.px.size() - 1), [&](FILE* in, FILE* o) { return EdgeEnhanceProc(in, o, &h, Params()); },
      &rc);
  EXPECT_EQ(rc, EE_READ_FAILED);
  EXPECT_EQ(out.size(), 3u * 24);  // rows 0..2 were complete with their lower neighbours

  std::unique_ptr<FILE, decltype(&fclose)> readOnly(fopen("/dev/null", "rb"), &fclose);
  ASSERT_TRUE(readOnly);
  RunOnStreams(page.Bytes(), [&](FILE* in, FILE*) { return EdgeEnhanceProc(in, readOnly.get(), &h, Params()); },
               &rc);
  EXPECT_EQ(rc, EE_WRITE_FAILED);

  // A full disk under a page of several chunks that is cut short: the failed
  // write came first and is the one told, with its cause.
  std::unique_ptr<FILE, decltype(&fclose)> full(fopen("/dev/full", "wb"), &fclose);
  if (!full) GTEST_SKIP() << "/dev/full is not available";
  const CmykPage tall(300, 2000);
  const ZTRasterHeader th = tall.Header();
  int cause = 0;
  RunOnStreams(
      tall.Bytes().substr(0, tall.px.size() / 2),
      [&](FILE* in, FILE*) {
        const int result = EdgeEnhanceProc(in, full.get(), &th, Params());
        cause = errno;
        return result;
      },
      &rc);
  EXPECT_EQ(rc, EE_WRITE_FAILED);
  EXPECT_EQ(cause, ENOSPC);
}

// The rules as written: a window per pixel, the four tests in their order.
CmykPage Model(const CmykPage& in, const EeParamSet& p) {
  const int w = static_cast<int>(in.width), h = static_cast<int>(in.height);
  auto at = [&](int x, int y, int c) { return x < 0 || y < 0 || x >= w || y >= h ? 0 : in.At(x, y)[c]; };
  static const int kLines[4][3] = {{4, 5, 6}, {2, 5, 8}, {3, 5, 7}, {1, 5, 9}};
  static const int kSurround[4][6] = {{1, 2, 3, 7, 8, 9}, {1, 4, 7, 3, 6, 9}, {1, 2, 4, 6, 8, 9}, {4, 7, 8, 2, 3, 6}};
  CmykPage out = in;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 4; ++c) {
        int P[10];
        for (int i = 0; i < 9; ++i) P[i + 1] = at(x - 1 + i % 3, y - 1 + i / 3, c);
        const int v = P[5];
        bool remap = false;
        if (v >= p.npth0[c]) {
          const int lowest = *std::min_element(P + 1, P + 10);
          bool edge = false;
          if (p.edge_mode == 1 && (p.bkgnd_mode == 0 || (p.bkgnd_mode == 1 && lowest < p.bkth0[c]))) {
            const int g[4] = {P[1] + P[2] + P[3] - P[7] - P[8] - P[9], P[1] + P[4] + P[7] - P[3] - P[6] - P[9],
                              P[1] + P[2] + P[4] - P[6] - P[8] - P[9], P[4] + P[7] + P[8] - P[2] - P[3] - P[6]};
            int most = 0;
            for (int gi : g) most = std::max(most, std::abs(gi));
            edge = most >= p.eeth0[c];
          }
          bool thin = false;
          if (!edge && p.dot_mode == 1)
            for (int t = 0; t < 4; ++t) {
              const int a = P[kLines[t][0]], b = P[kSurround[t][0]];
              bool ok = P[kLines[t][1]] == a && P[kLines[t][2]] == a;
              for (int s = 1; s < 6; ++s) ok = ok && P[kSurround[t][s]] == b;
              thin = thin || (ok && b <= p.loth[c] && a - b >= p.eeth1[c]);
            }
          remap = edge || thin;
        }
        out.At(x, y)[c] = remap ? p.outTable[c][v] : static_cast<unsigned char>(v);
      }
      uint8_t* px = out.At(x, y);
      const int colour = px[C] + px[M] + px[Y];
      if (colour + px[K] > p.pileheight_limit) {
        const int budget = p.pileheight_limit - px[K];
        for (int c : {C, M, Y}) px[c] = budget <= 0 || colour == 0 ? 0 : static_cast<uint8_t>(px[c] * budget / colour);
      }
    }
  return out;
}

TEST(EdgeEnhance, MatchesTheRulesOnRandomPages) {
  std::mt19937 rng(20240601);
  const int kValues[] = {0, 10, 10, 10, 180, 180, 200, 255};
  for (int round = 0; round < 80; ++round) {
    const unsigned width = std::vector<unsigned>{1, 2, 15, 16, 17, 31, 33, 70}[round % 8];
    // The last page is written in several chunks.
    const unsigned height = round == 79 ? 9000 : 1 + round % 5;
    CmykPage page(width, height);
    // Every other round is mostly empty, as pages with text are.
    const bool sparse = round % 2 == 1;
    for (auto& b : page.px)
      b = sparse && rng() % 10 < 9 ? 0 : static_cast<uint8_t>(kValues[rng() % 8] + (round % 3 == 0 ? rng() % 3 : 0));
    EeParamSet p;
    p.edge_mode = static_cast<int>(rng() % 2);
    p.bkgnd_mode = static_cast<int>(rng() % 2);
    p.dot_mode = static_cast<int>(rng() % 2);
    for (int c = 0; c < 4; ++c) {
      p.npth0[c] = static_cast<int>(rng() % 40);
      p.bkth0[c] = static_cast<int>(rng() % 30);
      p.loth[c] = static_cast<int>(rng() % 40);
      p.eeth0[c] = static_cast<int>(rng() % 800);
      p.eeth1[c] = static_cast<int>(rng() % 200);
      for (int v = 0; v < 256; ++v) p.outTable[c][v] = static_cast<unsigned char>(rng());
    }
    p.pileheight_limit = static_cast<int32_t>(rng() % 1100) - 40;
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(Enhance(page, p).px, Model(page, p).px);
  }
}

}  // namespace
