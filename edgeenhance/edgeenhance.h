// Edge enhancement of CMYK pages: each plane of each pixel is classified in
// its 3 x 3 neighbourhood as edge, thin line or plain; edge and thin-line
// samples are remapped through a per-plane output table, then every pixel is
// held to a maximum total colorant (the pile-height limit). Pixels outside
// the page count as 0.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ztraster.h"

// Byte position of each colour within a pixel; the threshold arrays are
// indexed by it.
constexpr int COLOR_ORDER_C = 0;
constexpr int COLOR_ORDER_M = 1;
constexpr int COLOR_ORDER_Y = 2;
constexpr int COLOR_ORDER_K = 3;

// Parameters unpacked from the edge-enhancement record.
struct EeParamSet {
  int edge_mode = 0;   // run the gradient (edge) test
  int bkgnd_mode = 0;  // ... only where the window holds a value below bkth0
  int dot_mode = 0;    // run the thin-line test
  int npth0[4] = {};   // samples below this are plain
  int bkth0[4] = {};   // background level of bkgnd_mode
  int loth[4] = {};    // highest surround value of a thin line
  int eeth0[4] = {};   // gradient that makes an edge (0 .. 1023)
  int eeth1[4] = {};   // contrast of a thin line over its surround
  unsigned char outTable[4][256] = {};  // [plane][input value]: remapped value
  int32_t pileheight_limit = 0;         // maximum C + M + Y + K
};

// Results of EdgeEnhanceProc.
enum EdgeEnhanceResult {
  EE_OK = 0,
  EE_NO_MEMORY_LINES,   // the line ring
  EE_NO_MEMORY_OUTPUT,  // the output chunks
  EE_READ_FAILED,       // the input ended inside the page data
  EE_WRITE_FAILED,
};

// Reworks the `height` lines of 4 x `width` bytes that follow a page header
// (already read and written) from in to out. Lines are held in a ring of
// three, each with a zero pixel on either side; a row is made once the line
// below it has been read, and the rows go out in chunks of about 1 MiB,
// written on a thread of their own. On EE_WRITE_FAILED errno holds the cause.
int EdgeEnhanceProc(FILE* in, FILE* out, const ZTRasterHeader* header, const EeParamSet& param);

// Classifies and remaps one row of `width` pixels from the rows above, at and
// below it, then applies the pile-height limit. Each of the three rows needs
// one zero pixel before it and four after it (the borders, and room for
// loading four pixels at a time).
void EdgeEnhanceRow(const unsigned char* up, const unsigned char* mid, const unsigned char* down, unsigned width,
                    const EeParamSet& param, unsigned char* out);

// Scales C, M and Y of one pixel so that C + M + Y + K stays within limit;
// K is kept. With nothing left beside K (or no colour to scale) C, M and Y
// become 0.
void ApplyPileHeightLimit(unsigned char* pixel, int32_t limit);
