// Pages shared by the trapping engine and filter tests.
#pragma once

#include <algorithm>

#include "imagefilter_support.h"

constexpr int C = 0, M = 1, Y = 2, K = 3;

// Rows of the clipped 5-row window around row y of a page of h rows.
inline unsigned WindowRows(unsigned y, unsigned h) {
  const unsigned y0 = y >= 2 ? y - 2 : 0;
  const unsigned y1 = std::min(y + 3, h);
  return y1 - y0;
}

// A colour edge beside black, in one plane: column 3 holds 150, column 4
// holds 25 (below ave_white), columns 5.. are solid black whose plane holds
// 38 (empty: at most cmy_white, but at least ave_white); the other two
// colour planes hold 10 in the black. Only column 5 sees a coloured
// neighbour (column 3) in this plane; column 6 sees black's edge (the white
// of column 4) but no colour.
inline CmykPage ColourEdgePage(unsigned height, int plane) {
  CmykPage page(10, height);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 5; x < 10; ++x) {
      uint8_t* px = page.At(x, y);
      px[C] = px[M] = px[Y] = 10;
      px[plane] = 38;
      px[K] = 255;
    }
    page.At(3, y)[plane] = 150;
    page.At(4, y)[plane] = 25;
  }
  return page;
}

// The average at column 5 over a window of n rows: column 3 gives n values
// of 150, columns 5 to 7 give 3n - 1 values of 38 (the centre left out),
// column 4's 25 is below ave_white.
inline int EdgeAverage(unsigned n) { return static_cast<int>((150 * n + 38 * (3 * n - 1)) / (4 * n - 1)); }

// Thresholds of the tests; the underprint rule is off (pseud_ib 1).
inline TrapParamSet Params() {
  TrapParamSet p;
  p.bk_full = 200;
  p.bk_white = 50;
  p.cmy_white = 40;
  p.cmy_color = 100;
  p.ave_white = 30;
  p.tonerlimit = 1023;
  p.pseud_ib = 1;  // underprint off
  p.ib_k_full = 250;
  p.ib_c_white = 10;
  p.ib_m_white = 10;
  p.ib_y_white = 10;
  p.ib_c_const = 40;
  p.ib_m_const = 30;
  p.ib_y_const = 20;
  return p;
}

// Column 0 white, the rest solid black without colour; (3,3) has K 249
// (below ib_k_full), (4,4) has C 11 (above ib_c_white).
inline CmykPage UnderprintPage(unsigned width) {
  CmykPage page(width, 8, 0, 0, 0, 255);
  page.SetColumns(0, 1, 0, 0, 0, 0);
  if (width > 4) page.At(3, 3)[K] = 249;
  if (width > 4) page.At(4, 4)[C] = 11;
  return page;
}
