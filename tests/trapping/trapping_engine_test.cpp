// CTrapping on small pages whose results are worked out from the trapping
// rules: a 5 x 5 window, hits where solid black meets colour, the window
// average, the toner limit and the black underprint.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>

#include "imagefilter_support.h"
#include "trap_pages.h"
#include "zttrapping2.h"

namespace {

struct Source {
  const CmykPage* page;
  unsigned next = 0;
  unsigned available;  // lines the input holds
};
struct Sink {
  std::vector<uint8_t> bytes;
  unsigned rows = 0;
  unsigned failAt = UINT_MAX;  // row whose write fails
};

unsigned ReadRow(unsigned char* buf, unsigned length, void* user) {
  auto* s = static_cast<Source*>(user);
  if (s->next >= s->available || length != s->page->width * 4) return 0;
  memcpy(buf, s->page->At(0, s->next), length);
  ++s->next;
  return length;
}

unsigned WriteRow(const unsigned char* buf, unsigned length, void* user) {
  auto* s = static_cast<Sink*>(user);
  if (s->rows == s->failAt) return 0;
  s->bytes.insert(s->bytes.end(), buf, buf + length);
  ++s->rows;
  return length;
}

struct TrapRun {
  int result = TRAP_OK;
  unsigned linesRead = 0;
  unsigned rowsWritten = 0;
  CmykPage out{0, 0};
};

// Drives the engine as the filter does: one call per page line, then calls
// while lines wait.
TrapRun Trap(const CmykPage& page, const TrapParamSet& p, unsigned available = UINT_MAX,
             unsigned failWriteAt = UINT_MAX) {
  trapParam = p;
  Source src{&page, 0, std::min(available, page.height)};
  Sink sink;
  sink.failAt = failWriteAt;
  CTrapping engine;
  TrapRun run;
  run.result = engine.Initialize(page.width, page.height, 0, 5, 5, ReadRow, &src, WriteRow, &sink);
  for (unsigned i = 0; run.result == TRAP_OK && i < page.height; ++i) run.result = engine.TrappingLine();
  while (run.result == TRAP_OK && engine.HasPendingLines()) run.result = engine.TrappingLine();
  run.linesRead = src.next;
  run.rowsWritten = sink.rows;
  run.out = CmykPage(page.width, sink.rows);
  run.out.px = sink.bytes;
  return run;
}

class TrappingEnginePlane : public ::testing::TestWithParam<int> {};

TEST_P(TrappingEnginePlane, SpreadsTheWindowAverageUnderTheBlackEdge) {
  const int plane = GetParam();
  const CmykPage page = ColourEdgePage(9, plane);
  const TrapRun run = Trap(page, Params());
  ASSERT_EQ(run.result, TRAP_OK);
  ASSERT_EQ(run.rowsWritten, 9u);

  CmykPage expected = page;
  for (unsigned y = 0; y < 9; ++y) expected.At(5, y)[plane] = static_cast<uint8_t>(EdgeAverage(WindowRows(y, 9)));
  // The first and last rows average over 3 and 4 rows, the others over 5.
  EXPECT_EQ(expected.At(5, 0)[plane], (150 * 3 + 38 * 8) / 11);
  EXPECT_EQ(expected.At(5, 1)[plane], (150 * 4 + 38 * 11) / 15);
  EXPECT_EQ(expected.At(5, 4)[plane], (150 * 5 + 38 * 14) / 19);
  for (unsigned y = 0; y < 9; ++y)
    for (unsigned x = 0; x < 10; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(run.out.At(x, y)[c], expected.At(x, y)[c]) << "x " << x << " y " << y << " plane " << c;
}

INSTANTIATE_TEST_SUITE_P(TrappingColours, TrappingEnginePlane, ::testing::Values(C, M, Y));

TEST(TrappingEngine, EmitsEveryRowOnceInOrderForShortAndTallPages) {
  for (unsigned h = 1; h <= 12; ++h) {
    SCOPED_TRACE("height " + std::to_string(h));
    CmykPage page = ColourEdgePage(h, C);
    // Tag each row in column 0, which no window of a changed pixel reaches.
    for (unsigned y = 0; y < h; ++y) page.At(0, y)[M] = static_cast<uint8_t>(y + 1);
    const TrapRun run = Trap(page, Params());
    ASSERT_EQ(run.result, TRAP_OK);
    EXPECT_EQ(run.linesRead, h);
    ASSERT_EQ(run.rowsWritten, h);
    for (unsigned y = 0; y < h; ++y) {
      EXPECT_EQ(run.out.At(0, y)[M], y + 1);
      EXPECT_EQ(run.out.At(5, y)[C], EdgeAverage(WindowRows(y, h))) << "row " << y;
      EXPECT_EQ(run.out.At(6, y)[C], 38);
    }
  }
}

// Columns 0..3 cyan 200; columns 4.. black with M 30 and Y 20. Columns 4
// and 5 see the cyan: C becomes the average 200, M and Y keep theirs.
CmykPage TonerPage() {
  CmykPage page(10, 5, 200, 0, 0, 0);
  page.SetColumns(4, 10, 0, 30, 20, 255);
  return page;
}

TEST(TrappingEngine, TonerLimitScalesAllThreeColours) {
  TrapParamSet p = Params();

  // Within the limit only the plane that was hit changes.
  TrapRun run = Trap(TonerPage(), p);
  ASSERT_EQ(run.result, TRAP_OK);
  for (unsigned y = 0; y < 5; ++y) {
    const uint8_t* px = run.out.At(4, y);
    EXPECT_EQ(px[C], 200);
    EXPECT_EQ(px[M], 30);
    EXPECT_EQ(px[Y], 20);
    EXPECT_EQ(px[K], 255);
  }

  // 200 + 30 + 20 + 255 exceeds 300: the 45 left beside K is shared out.
  p.tonerlimit = 300;
  run = Trap(TonerPage(), p);
  ASSERT_EQ(run.result, TRAP_OK);
  for (unsigned y = 0; y < 5; ++y)
    for (unsigned x : {4u, 5u}) {
      const uint8_t* px = run.out.At(x, y);
      EXPECT_EQ(px[C], 200 * 45 / 250);
      EXPECT_EQ(px[M], 30 * 45 / 250);
      EXPECT_EQ(px[Y], 20 * 45 / 250);
      EXPECT_EQ(px[K], 255);
    }
  // Column 6 has no white within reach: untouched.
  EXPECT_EQ(run.out.At(6, 2)[M], 30);

  // K alone over the limit leaves nothing for the colours.
  p.tonerlimit = 200;
  run = Trap(TonerPage(), p);
  ASSERT_EQ(run.result, TRAP_OK);
  const uint8_t* px = run.out.At(4, 2);
  EXPECT_EQ(px[C], 0);
  EXPECT_EQ(px[M], 0);
  EXPECT_EQ(px[Y], 0);
  EXPECT_EQ(px[K], 255);
}

TEST(TrappingEngine, UnderprintsSolidBlackOnlyWithPseudIbZero) {
  const CmykPage page = UnderprintPage(8);
  TrapParamSet p = Params();

  TrapRun run = Trap(page, p);
  ASSERT_EQ(run.result, TRAP_OK);
  EXPECT_EQ(run.out.px, page.px);

  p.pseud_ib = 0;
  run = Trap(page, p);
  ASSERT_EQ(run.result, TRAP_OK);
  CmykPage expected = page;
  for (unsigned y = 0; y < 8; ++y)
    for (unsigned x = 3; x <= 5; ++x) {
      if ((x == 3 && y == 3) || (x == 4 && y == 4)) continue;
      uint8_t* px = expected.At(x, y);
      px[C] = 40;
      px[M] = 30;
      px[Y] = 20;
    }
  // Column 2 is a black edge (white in its window) without colour nearby: it
  // neither traps nor underprints. Columns 6 and 7 are never changed.
  EXPECT_EQ(run.out.px, expected.px);
}

TEST(TrappingEngine, PagesOfFourColumnsOrFewerPassUnchanged) {
  TrapParamSet p = Params();
  p.pseud_ib = 0;
  for (unsigned width : {1u, 2u, 4u}) {
    const CmykPage page(width, 6, 0, 0, 0, 255);
    const TrapRun run = Trap(page, p);
    ASSERT_EQ(run.result, TRAP_OK);
    EXPECT_EQ(run.out.px, page.px) << "width " << width;
  }
  // Five columns leave exactly the middle one to process.
  const CmykPage page(5, 6, 0, 0, 0, 255);
  const TrapRun run = Trap(page, p);
  ASSERT_EQ(run.result, TRAP_OK);
  for (unsigned y = 0; y < 6; ++y) {
    EXPECT_EQ(run.out.At(2, y)[C], 40);
    EXPECT_EQ(run.out.At(1, y)[C], 0);
    EXPECT_EQ(run.out.At(3, y)[C], 0);
  }
}

TEST(TrappingEngine, ReportsContractFailuresInsteadOfAborting) {
  const CmykPage page = ColourEdgePage(12, C);

  // The input ends after 8 lines: the 9th read fails, and stays failed.
  TrapRun run = Trap(page, Params(), 8);
  EXPECT_EQ(run.result, TRAP_READ_FAILED);
  EXPECT_EQ(run.linesRead, 8u);
  EXPECT_EQ(run.rowsWritten, 2u);

  run = Trap(page, Params(), UINT_MAX, 3);
  EXPECT_EQ(run.result, TRAP_WRITE_FAILED);
  EXPECT_EQ(run.rowsWritten, 3u);

  Source src{&page, 0, 12};
  Sink sink;
  CTrapping engine;
  EXPECT_EQ(engine.Initialize(0, 12, 0, 5, 5, ReadRow, &src, WriteRow, &sink), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(engine.TrappingLine(), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(engine.Initialize(10, 0, 0, 5, 5, ReadRow, &src, WriteRow, &sink), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(engine.Initialize(10, 12, 0, 4, 5, ReadRow, &src, WriteRow, &sink), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(engine.Initialize(10, 12, 0, 5, 6, ReadRow, &src, WriteRow, &sink), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(engine.Initialize(10, 12, 0, 5, 5, nullptr, &src, WriteRow, &sink), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(engine.Initialize(10, 12, 0, 5, 5, ReadRow, &src, WriteRow, nullptr), TRAP_BAD_ARGUMENT);

  // A call after the last row was emitted asks for a row that does not exist.
  const CmykPage small(6, 2);
  Source s2{&small, 0, 2};
  ASSERT_EQ(engine.Initialize(6, 2, 0, 5, 5, ReadRow, &s2, WriteRow, &sink), TRAP_OK);
  EXPECT_EQ(engine.TrappingLine(), TRAP_OK);
  EXPECT_EQ(engine.TrappingLine(), TRAP_OK);
  EXPECT_TRUE(engine.HasPendingLines());
  EXPECT_EQ(engine.TrappingLine(), TRAP_OK);
  EXPECT_FALSE(engine.HasPendingLines());
  EXPECT_EQ(engine.TrappingLine(), TRAP_BAD_ARGUMENT);
  EXPECT_EQ(sink.rows, 2u);
  EXPECT_EQ(s2.next, 2u);
}

}  // namespace

namespace {

// The trapping rules as written, over a whole page held in memory: one flag
// per pixel and plane, every row processed in order.
CmykPage TrapModel(const CmykPage& in, const TrapParamSet& p) {
  const int w = static_cast<int>(in.width), h = static_cast<int>(in.height);
  std::vector<uint8_t> flags(in.px.size(), 0);
  auto flag = [&](int x, int y, int c) -> uint8_t& { return flags[(static_cast<size_t>(y) * w + x) * 4 + c]; };
  auto test = [&](int x, int y, int c, int lo, int hi, int nlo, int nhi) {
    const int v = in.At(x, y)[c];
    if (v < lo || v > hi) return false;
    int y0 = std::max(y - 2, 0), x0 = std::max(x - 2, 0);
    const int y1 = std::min(y + 3, h), x1 = std::min(x + 3, w);
    const uint8_t f = flag(x, y, c);
    if (f == 1) return true;
    if (f & 4) y0 = y1 - 1;
    if (f & 2) x0 = x1 - 1;
    for (int r = y0; r < y1; ++r)
      for (int s = x0; s < x1; ++s) {
        const int n = in.At(s, r)[c];
        if (n < nlo || n > nhi) continue;
        for (int rr = y; rr <= std::min(r + 2, h - 1); ++rr)
          for (int ss = x0; ss <= std::min(s + 2, w - 1); ++ss)
            if (rr != y || ss != x) flag(ss, rr, c) = 1;
        return true;
      }
    if (x + 1 < w) flag(x + 1, y, c) |= 2;
    if (y + 1 < h) flag(x, y + 1, c) |= 4;
    return false;
  };
  auto average = [&](int x, int y, int c) {
    int sum = 0, count = 0;
    for (int r = std::max(y - 2, 0); r < std::min(y + 3, h); ++r)
      for (int s = std::max(x - 2, 0); s < std::min(x + 3, w); ++s) {
        const int v = in.At(s, r)[c];
        if ((r == y && s == x) || v < p.ave_white) continue;
        sum += v;
        ++count;
      }
    return count ? sum / count : 0;
  };
  CmykPage out = in;
  for (int y = 0; y < h; ++y)
    for (int x = 2; x < w - 2; ++x) {
      const uint8_t* px = in.At(x, y);
      uint8_t* o = out.At(x, y);
      if (test(x, y, K, p.bk_full, 255, 0, p.bk_white)) {
        const bool hit[3] = {test(x, y, Y, 0, p.cmy_white, p.cmy_color, 255),
                             test(x, y, M, 0, p.cmy_white, p.cmy_color, 255),
                             test(x, y, C, 0, p.cmy_white, p.cmy_color, 255)};
        if (!(hit[0] || hit[1] || hit[2])) continue;
        const int planes[3] = {Y, M, C};
        int v[3];
        for (int i = 0; i < 3; ++i) v[i] = hit[i] ? average(x, y, planes[i]) : px[planes[i]];
        const int colour = v[0] + v[1] + v[2];
        if (colour + px[K] > p.tonerlimit) {
          const int budget = p.tonerlimit - px[K];
          for (int i = 0; i < 3; ++i) o[planes[i]] = budget <= 0 || colour == 0 ? 0 : v[i] * budget / colour;
        } else {
          for (int i = 0; i < 3; ++i)
            if (hit[i]) o[planes[i]] = static_cast<uint8_t>(v[i]);
        }
      } else if (p.pseud_ib == 0 && px[K] >= p.ib_k_full && px[Y] <= p.ib_y_white && px[M] <= p.ib_m_white &&
                 px[C] <= p.ib_c_white) {
        o[Y] = static_cast<uint8_t>(p.ib_y_const);
        o[M] = static_cast<uint8_t>(p.ib_m_const);
        o[C] = static_cast<uint8_t>(p.ib_c_const);
      }
    }
  return out;
}

TEST(TrappingEngine, MatchesTheRulesOnRandomPages) {
  std::mt19937 rng(4242);
  const int kK[] = {0, 0, 30, 200, 240, 255, 255, 255};
  const int kColour[] = {0, 0, 0, 10, 30, 90, 150, 220};
  for (int round = 0; round < 150; ++round) {
    const unsigned width = 1 + rng() % 40, height = 1 + rng() % 14;
    CmykPage page(width, height);
    // Some pages keep their colour to a band of rows, as pages with a
    // coloured heading among black text do.
    const unsigned bandTop = rng() % height, bandEnd = bandTop + 1 + rng() % 3;
    const bool banded = round % 3 == 0;
    for (unsigned y = 0; y < height; ++y)
      for (unsigned x = 0; x < width; ++x) {
        uint8_t* px = page.At(x, y);
        const bool colour = !banded || (y >= bandTop && y < bandEnd);
        for (int c : {C, M, Y}) px[c] = colour ? static_cast<uint8_t>(kColour[rng() % 8]) : 0;
        px[K] = static_cast<uint8_t>(kK[rng() % 8]);
      }
    TrapParamSet p = Params();
    p.pseud_ib = static_cast<int>(rng() % 2);
    p.tonerlimit = static_cast<int>(rng() % 1024);
    p.ave_white = static_cast<int>(rng() % 60);
    p.ib_c_white = p.ib_m_white = p.ib_y_white = static_cast<int>(rng() % 40);
    SCOPED_TRACE("round " + std::to_string(round));
    const TrapRun run = Trap(page, p);
    ASSERT_EQ(run.result, TRAP_OK);
    ASSERT_EQ(run.out.px, TrapModel(page, p).px);
  }
}

}  // namespace
