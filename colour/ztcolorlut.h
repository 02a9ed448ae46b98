// Colour lookup tables: the RGB -> RGB tables of the RGB DLUT file and the
// RGB -> CMYK table (A_DLUT_PRINT record of the device parameter file). Both
// sample the RGB cube on a 17 x 17 x 17 grid, node (b, g, r) at entry
// 289 b + 17 g + r, and are read by tetrahedral interpolation.
//
// RGB DLUT file (all numbers unsigned 32-bit big-endian):
//   0        not used
//   4        N, number of tables
//   8        N offsets of the tables' blocks from the start of the file
//   8 + 4N   M, number of entries in the DLUT number map
//   12 + 4N  M map entries: for DLUT number n, the position (1..N) of its table
// A block is an 8-byte head followed by a 20,420-byte RGB table: a 768-byte
// head and 4913 words (byte 0 not used, bytes 1, 2, 3 output R, G, B).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ztdevparam.h"

// An RGB table with its entries turned into host numbers:
// bits 16-23 R, 8-15 G, 0-7 B.
struct RGBDlutTable {
  unsigned char head[768];
  uint32_t entries[DLUT_ENTRY_COUNT];
};
static_assert(sizeof(RGBDlutTable) == 20420);

constexpr size_t RGB_DLUT_BLOCK_HEAD_SIZE = 8;
constexpr size_t RGB_DLUT_TABLE_SIZE = sizeof(RGBDlutTable);
constexpr size_t DLUT_PRINT_ENTRIES_OFFSET = 776;  // entries within an A_DLUT_PRINT record

// Reads RGB table number dlutNumber of the RGB DLUT file that the PPD named
// by $PPD gives as "QKDlutFilePath". 0 when the table was read, -1 otherwise
// (no PPD or attribute, file missing or damaged, number not mapped).
int LoadRGBDlutTable(int dlutNumber, RGBDlutTable* table);
// Same for a file path given directly.
int LoadRGBDlutTableFile(const char* path, int dlutNumber, RGBDlutTable* table);

// Direct lookups, one channel at a time.
//   RGB:  white (255, 255, 255) gives white; otherwise the fractions are the
//         low four bits, so 255 interpolates at 15/16 towards the last node.
//   CMYK: a component of 255 has the fraction 16 and lands on the last node.
void RGBDlutLookup(const RGBDlutTable* table, uint8_t r, uint8_t g, uint8_t b, uint8_t out[3]);
void CMYKDlutLookup(const icDlutPrintType* record, uint8_t r, uint8_t g, uint8_t b, uint8_t out[4]);

// A table prepared for fast lookups: each node's channels spread into the
// 16-bit lanes of one 64-bit word, so the four tetrahedron weights act on
// all channels in one multiply each. Results equal the direct lookups.
struct ZTPreparedLut {
  uint64_t node[DLUT_ENTRY_COUNT];
};
void PrepareCMYKLut(const icDlutPrintType* record, ZTPreparedLut* lut);  // lanes C, M, Y, K
void PrepareRGBLut(const RGBDlutTable* table, ZTPreparedLut* lut);       // lanes R, G, B

// Tetrahedral interpolation on a prepared table: lane k of the result holds
// output channel k (0..255). fractionOf255 is 16 for the CMYK table and 15
// for the RGB table.
inline uint64_t InterpolatePrepared(const ZTPreparedLut* lut, unsigned r, unsigned g, unsigned b,
                                    unsigned fractionOf255) {
  const unsigned fr = r == 255 ? fractionOf255 : (r & 15);
  const unsigned fg = g == 255 ? fractionOf255 : (g & 15);
  const unsigned fb = b == 255 ? fractionOf255 : (b & 15);
  const unsigned base = 289 * (b >> 4) + 17 * (g >> 4) + (r >> 4);
  // The tetrahedron is chosen without branches: the largest fraction's axis
  // gives the first node after the base, the smallest fraction's axis the
  // one left out of the second. With equal fractions either choice gives
  // the nodes concerned a weight of 0.
  const unsigned maxRG = fr >= fg ? fr : fg, stepMaxRG = fr >= fg ? 1 : 17;
  const unsigned f1 = maxRG >= fb ? maxRG : fb, stepMax = maxRG >= fb ? stepMaxRG : 289;
  const unsigned minRG = fr >= fg ? fg : fr, stepMinRG = fr >= fg ? 17 : 1;
  const unsigned f3 = minRG <= fb ? minRG : fb, stepMin = minRG <= fb ? stepMinRG : 289;
  const unsigned f2 = fr + fg + fb - f1 - f3;
  // Weights sum to 16 and samples are at most 255: no lane exceeds 4080, so
  // no carry crosses into the next lane.
  const uint64_t* n = lut->node + base;
  const uint64_t sum = (16 - f1) * n[0] + (f1 - f2) * n[stepMax] + (f2 - f3) * n[1 + 17 + 289 - stepMin] +
                       f3 * n[1 + 17 + 289];
  return (sum >> 4) & 0x00FF00FF00FF00FFull;
}
