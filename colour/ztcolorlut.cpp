// Colour lookup tables: RGB DLUT file loading and the tetrahedral lookups.
#include "ztcolorlut.h"

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hbploption.h"
#include "ztparseppd.h"

namespace {

struct FileCloser {
  FILE* fp;
  ~FileCloser() {
    if (fp) fclose(fp);
  }
};

// Reads the big-endian word at offset; false when it lies past the end.
bool ReadBE32At(FILE* fp, uint64_t offset, uint64_t fileLength, uint32_t* value) {
  if (offset > fileLength || fileLength - offset < 4) return false;
  if (fseeko(fp, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  unsigned char b[4];
  if (fread(b, 1, 4, fp) != 4) return false;
  *value = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
  return true;
}

// Tetrahedral interpolation of one channel: sample(i) gives the channel's
// value at entry i.
template <typename Sample>
uint8_t Interpolate(unsigned r, unsigned g, unsigned b, unsigned fractionOf255, Sample sample) {
  const unsigned f[3] = {r == 255 ? fractionOf255 : (r & 15), g == 255 ? fractionOf255 : (g & 15),
                         b == 255 ? fractionOf255 : (b & 15)};
  static constexpr unsigned kStep[3] = {1, 17, 289};
  const unsigned base = 289 * (b >> 4) + 17 * (g >> 4) + (r >> 4);
  // Axes by decreasing fraction (a stable order; ties get weight 0 anyway).
  unsigned axis[3] = {0, 1, 2};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2 - i; ++j)
      if (f[axis[j]] < f[axis[j + 1]]) {
        const unsigned t = axis[j];
        axis[j] = axis[j + 1];
        axis[j + 1] = t;
      }
  const unsigned f1 = f[axis[0]], f2 = f[axis[1]], f3 = f[axis[2]];
  const unsigned p1 = base + kStep[axis[0]], p2 = p1 + kStep[axis[1]];
  const unsigned v = ((16 - f1) * sample(base) + (f1 - f2) * sample(p1) + (f2 - f3) * sample(p2) +
                      f3 * sample(base + 1 + 17 + 289)) >> 4;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

}  // namespace

int LoadRGBDlutTableFile(const char* path, int dlutNumber, RGBDlutTable* table) {
  if (!path || !table || dlutNumber < 0) return -1;
  FileCloser file{fopen(path, "rb")};
  if (!file.fp) return -1;
  if (fseeko(file.fp, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(file.fp);
  if (end < 0) return -1;
  const uint64_t length = static_cast<uint64_t>(end);

  // Only the words on the way to the wanted table are read, each checked
  // against the file length; nothing is sized from the file's counts.
  uint32_t n = 0, m = 0, position = 0, offset = 0;
  if (!ReadBE32At(file.fp, 4, length, &n)) return -1;
  const uint64_t mapAt = 8 + 4 * static_cast<uint64_t>(n);
  if (!ReadBE32At(file.fp, mapAt, length, &m)) return -1;
  if (static_cast<uint64_t>(dlutNumber) >= m) return -1;
  if (!ReadBE32At(file.fp, mapAt + 4 + 4 * static_cast<uint64_t>(dlutNumber), length, &position)) return -1;
  if (position == 0 || position > n) return -1;
  if (!ReadBE32At(file.fp, 8 + 4 * static_cast<uint64_t>(position - 1), length, &offset)) return -1;
  const uint64_t tableAt = static_cast<uint64_t>(offset) + RGB_DLUT_BLOCK_HEAD_SIZE;
  if (tableAt > length || length - tableAt < RGB_DLUT_TABLE_SIZE) return -1;
  if (fseeko(file.fp, static_cast<off_t>(tableAt), SEEK_SET) != 0) return -1;

  unsigned char raw[RGB_DLUT_TABLE_SIZE];
  if (fread(raw, 1, sizeof raw, file.fp) != sizeof raw) return -1;
  memcpy(table->head, raw, sizeof table->head);
  const unsigned char* e = raw + sizeof table->head;
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i, e += 4)
    table->entries[i] = (static_cast<uint32_t>(e[0]) << 24) | (static_cast<uint32_t>(e[1]) << 16) |
                        (static_cast<uint32_t>(e[2]) << 8) | e[3];
  return 0;
}

int LoadRGBDlutTable(ppd_file_t* ppd, int dlutNumber, RGBDlutTable* table) {
  const char* ppdPath = getenv("PPD");
  if (!ppdPath) return -1;
  // The path is read from the PPD's text under the manufacturer's keyword.
  char keyword[ZT_PPD_KEYWORD_MAX + 1];
  if (VI_PrefixedKeyword(ppd, "DlutFilePath", keyword) != 0) return -1;
  char path[512];
  if (ZTGetPPDAttribute(ppdPath, keyword, path, sizeof path) != 0) return -1;
  return LoadRGBDlutTableFile(path, dlutNumber, table);
}

void RGBDlutLookup(const RGBDlutTable* table, uint8_t r, uint8_t g, uint8_t b, uint8_t out[3]) {
  if (r == 255 && g == 255 && b == 255) {
    out[0] = out[1] = out[2] = 255;
    return;
  }
  for (int ch = 0; ch < 3; ++ch) {
    const int shift = 16 - 8 * ch;
    out[ch] = Interpolate(r, g, b, 15, [&](unsigned i) { return (table->entries[i] >> shift) & 0xFF; });
  }
}

void CMYKDlutLookup(const icDlutPrintType* record, uint8_t r, uint8_t g, uint8_t b, uint8_t out[4]) {
  for (int ch = 0; ch < 4; ++ch)
    out[ch] = Interpolate(r, g, b, 16, [&](unsigned i) { return static_cast<unsigned>(record->entries[i][ch]); });
}

namespace {

// The cell and fraction tables of a prepared table; fractionOf255 is the
// fraction of a component of 255 (16 or 15).
void PrepareLutIndex(unsigned fractionOf255, ZTPreparedLut* lut) {
  static constexpr unsigned kStep[3] = {1, 17, 289};
  for (int k = 0; k < 3; ++k)
    for (unsigned v = 0; v < 256; ++v) {
      const unsigned fraction = v == 255 ? fractionOf255 : (v & 15);
      lut->axis[k][v] = ((v >> 4) * kStep[k]) | ((fraction * kStep[k]) << 16);
    }
  // The tetrahedron of each fraction triple: the largest fraction's axis
  // gives the first node after the base, the smallest fraction's axis the
  // one left out of the second. With equal fractions either choice gives
  // the nodes concerned a weight of 0.
  for (unsigned fb = 0; fb <= 16; ++fb)
    for (unsigned fg = 0; fg <= 16; ++fg)
      for (unsigned fr = 0; fr <= 16; ++fr) {
        const unsigned maxRG = fr >= fg ? fr : fg, stepMaxRG = fr >= fg ? 1 : 17;
        const unsigned f1 = maxRG >= fb ? maxRG : fb, stepMax = maxRG >= fb ? stepMaxRG : 289;
        const unsigned minRG = fr >= fg ? fg : fr, stepMinRG = fr >= fg ? 17 : 1;
        const unsigned f3 = minRG <= fb ? minRG : fb, stepMin = minRG <= fb ? stepMinRG : 289;
        const unsigned f2 = fr + fg + fb - f1 - f3;
        ZTLutTetra& t = lut->tetra[289 * fb + 17 * fg + fr];
        t.weight[0] = static_cast<uint8_t>(16 - f1);
        t.weight[1] = static_cast<uint8_t>(f1 - f2);
        t.weight[2] = static_cast<uint8_t>(f2 - f3);
        t.weight[3] = static_cast<uint8_t>(f3);
        t.second = static_cast<uint16_t>(stepMax);
        t.third = static_cast<uint16_t>(1 + 17 + 289 - stepMin);
      }
}

}  // namespace

void PrepareCMYKLut(const icDlutPrintType* record, ZTPreparedLut* lut) {
  PrepareLutIndex(16, lut);
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i) {
    const unsigned char* e = record->entries[i];
    lut->node[i] = static_cast<uint64_t>(e[0]) | (static_cast<uint64_t>(e[1]) << 16) |
                   (static_cast<uint64_t>(e[2]) << 32) | (static_cast<uint64_t>(e[3]) << 48);
  }
}

void PrepareRGBLut(const RGBDlutTable* table, ZTPreparedLut* lut) {
  PrepareLutIndex(15, lut);
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i) {
    const uint32_t w = table->entries[i];
    lut->node[i] = static_cast<uint64_t>((w >> 16) & 0xFF) | (static_cast<uint64_t>((w >> 8) & 0xFF) << 16) |
                   (static_cast<uint64_t>(w & 0xFF) << 32);
  }
}
