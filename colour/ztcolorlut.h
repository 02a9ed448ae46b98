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

// Reads RGB table number dlutNumber of the RGB DLUT file that the text of
// the PPD named by $PPD gives as "DlutFilePath" with the manufacturer prefix
// of ppd (the same PPD, opened) in front. 0 when the table was read, -1
// otherwise (no PPD, prefix or attribute, file missing or damaged, number
// not mapped).
int LoadRGBDlutTable(ppd_file_t* ppd, int dlutNumber, RGBDlutTable* table);
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
// all channels in one multiply each. The cell and the tetrahedron of a pixel
// come from tables too: axis[k][v] holds, for value v of input R, G or B
// (k = 0, 1, 2), the node offset of its cell's lower corner (low 16 bits)
// and the offset of its fraction in the fraction grid (high 16 bits), both
// on the 17 x 17 x 17 layout; tetra[] gives for each fraction triple the
// four weights and the offsets of the second and third node. Results equal the direct lookups.
struct ZTLutTetra {
  uint8_t weight[4];      // of the base, second, third and far corner
  uint16_t second, third;  // node offsets from the base
};
struct ZTPreparedLut {
  uint64_t node[DLUT_ENTRY_COUNT];
  uint32_t axis[3][256];
  ZTLutTetra tetra[DLUT_ENTRY_COUNT];
};
void PrepareCMYKLut(const icDlutPrintType* record, ZTPreparedLut* lut);  // lanes C, M, Y, K
void PrepareRGBLut(const RGBDlutTable* table, ZTPreparedLut* lut);       // lanes R, G, B

// Tetrahedral interpolation on a prepared table: lane k of the result holds
// output channel k (0..255). A component of 255 has the fraction 16 in a
// CMYK table and 15 in an RGB table, as in the direct lookups.
// The same from the sum of the three axis entries.
inline uint64_t InterpolatePreparedAt(const ZTPreparedLut* lut, uint32_t at) {
  const ZTLutTetra& t = lut->tetra[at >> 16];
  const uint64_t* n = lut->node + (at & 0xFFFF);
  // Weights sum to 16 and samples are at most 255: no lane exceeds 4080, so
  // no carry crosses into the next lane.
  const uint64_t sum = t.weight[0] * n[0] + t.weight[1] * n[t.second] + t.weight[2] * n[t.third] +
                       t.weight[3] * n[1 + 17 + 289];
  return (sum >> 4) & 0x00FF00FF00FF00FFull;
}
inline uint64_t InterpolatePrepared(const ZTPreparedLut* lut, unsigned r, unsigned g, unsigned b) {
  return InterpolatePreparedAt(lut, lut->axis[0][r] + lut->axis[1][g] + lut->axis[2][b]);
}
// The fraction offset (high half of an axis sum) of R = G = B = 255 in a CMYK
// table: no other pixel reaches it.
constexpr uint32_t ZT_LUT_WHITE_FRACTION = 16 * (1 + 17 + 289);
