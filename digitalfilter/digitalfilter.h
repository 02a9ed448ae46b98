// Digital filter of CMYK pages: a horizontal, symmetric 7-tap filter run
// over every line, separately for each plane, with fixed-point coefficients
// in units of 1/4096. Lines are filtered independently of each other.
#pragma once

#include <cstddef>
#include <cstdio>

#include "ztraster.h"

// Coefficients per plane, indexed by 3 - distance: [3] the centre, [2] the
// neighbours at distance 1, [1] at distance 2, [0] at distance 3. Each is a
// signed 16-bit value (-32768 .. 32767), as the record stores it.
struct DfCoefTable {
  int dfCoef_C[4] = {0, 0, 0, 4096};
  int dfCoef_M[4] = {0, 0, 0, 4096};
  int dfCoef_Y[4] = {0, 0, 0, 4096};
  int dfCoef_K[4] = {0, 0, 0, 4096};
};

// Filters one line of lineBytes / 4 CMYK pixels in place. Every sum is taken
// over the unfiltered values; the three pixels at either end keep theirs
// (so lines of 6 pixels or fewer are unchanged). A sum s becomes s / 4096
// rounded half up and clamped to 0 .. 255.
void DigitalFilterLine(unsigned char* line, size_t lineBytes, const DfCoefTable& coef);

// Results of DigitalFilterProc.
enum DigitalFilterResult {
  DF_OK = 0,
  DF_NO_MEMORY = 1,     // the line buffer
  DF_IO_FAILED = -1,    // a short read or a failed write of a line
};

// Filters the `height` lines of `bytesPerLine` bytes that follow a page
// header (already read and written) from in to out, through one line buffer.
int DigitalFilterProc(FILE* in, FILE* out, const ZTRasterHeader* header, const DfCoefTable& coef);
