#include "ztcolorlut.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runfilter.h"
#include "ztstreams.h"

namespace {

int Entry(int r, int g, int b) { return 289 * b + 17 * g + r; }

// Component values worth visiting: a stride over the range plus the cell
// edges and both ends.
std::vector<int> Samples() {
  std::vector<int> v;
  for (int x = 0; x < 256; x += 7) v.push_back(x);
  for (int x : {15, 16, 17, 239, 240, 241, 253, 254, 255}) v.push_back(x);
  return v;
}

// Channel ch of node (r, g, b) is a[ch] r + b[ch] g + c[ch] b + d[ch].
struct Linear {
  int a, b, c, d;
  int Node(int ir, int ig, int ib) const { return a * ir + b * ig + c * ib + d; }
  // Value at a position given in 1/16 of a node step: exact when floored.
  int At(int pr, int pg, int pb) const { return (a * pr + b * pg + c * pb + 16 * d) >> 4; }
};
const Linear kLinear[4] = {{8, 5, 2, 0}, {0, 3, 11, 7}, {1, 1, 1, 10}, {0, 0, 0, 200}};

std::unique_ptr<icDlutPrintType> LinearCMYK() {
  auto rec = std::make_unique<icDlutPrintType>();
  memset(rec.get(), 0, sizeof *rec);
  for (int b = 0; b < 17; ++b)
    for (int g = 0; g < 17; ++g)
      for (int r = 0; r < 17; ++r)
        for (int ch = 0; ch < 4; ++ch) rec->entries[Entry(r, g, b)][ch] = static_cast<unsigned char>(kLinear[ch].Node(r, g, b));
  return rec;
}

std::unique_ptr<RGBDlutTable> LinearRGB() {
  auto t = std::make_unique<RGBDlutTable>();
  memset(t.get(), 0, sizeof *t);
  for (int b = 0; b < 17; ++b)
    for (int g = 0; g < 17; ++g)
      for (int r = 0; r < 17; ++r)
        t->entries[Entry(r, g, b)] = (static_cast<uint32_t>(kLinear[0].Node(r, g, b)) << 16) |
                                     (static_cast<uint32_t>(kLinear[1].Node(r, g, b)) << 8) | kLinear[2].Node(r, g, b);
  return t;
}

std::unique_ptr<icDlutPrintType> RandomCMYK(uint32_t seed) {
  auto rec = std::make_unique<icDlutPrintType>();
  const std::string bytes = PatternBytes(sizeof *rec, seed);
  memcpy(rec.get(), bytes.data(), sizeof *rec);
  return rec;
}

TEST(ColourLut, CMYKLookupReproducesALinearTable) {
  auto rec = LinearCMYK();
  ZTPreparedLut prepared;
  PrepareCMYKLut(rec.get(), &prepared);
  const auto s = Samples();
  // A component of 255 lands on the last node (position 16 steps = 256).
  auto pos = [](int v) { return v == 255 ? 256 : v; };
  for (int r : s)
    for (int g : s)
      for (int b : s) {
        uint8_t out[4];
        CMYKDlutLookup(rec.get(), r, g, b, out);
        const uint64_t fast = InterpolatePrepared(&prepared, r, g, b);
        for (int ch = 0; ch < 4; ++ch) {
          const int want = kLinear[ch].At(pos(r), pos(g), pos(b));
          ASSERT_EQ(out[ch], want) << r << " " << g << " " << b << " ch " << ch;
          ASSERT_EQ(static_cast<int>((fast >> (16 * ch)) & 0xFF), want) << r << " " << g << " " << b;
        }
      }
}

TEST(ColourLut, RGBLookupReproducesALinearTableAndKeepsWhite) {
  auto table = LinearRGB();
  ZTPreparedLut prepared;
  PrepareRGBLut(table.get(), &prepared);
  const auto s = Samples();
  for (int r : s)
    for (int g : s)
      for (int b : s) {
        if (r == 255 && g == 255 && b == 255) continue;
        uint8_t out[3];
        RGBDlutLookup(table.get(), r, g, b, out);
        const uint64_t fast = InterpolatePrepared(&prepared, r, g, b);
        // 255 has the fraction 15: position 255 in sixteenths of a step.
        for (int ch = 0; ch < 3; ++ch) {
          ASSERT_EQ(out[ch], kLinear[ch].At(r, g, b)) << r << " " << g << " " << b;
          ASSERT_EQ(static_cast<int>((fast >> (16 * ch)) & 0xFF), out[ch]);
        }
      }
  uint8_t out[3];
  RGBDlutLookup(table.get(), 255, 255, 255, out);
  EXPECT_EQ(out[0] + out[1] + out[2], 3 * 255);
}

TEST(ColourLut, CornersFacesAndEnds) {
  auto rec = RandomCMYK(7);
  uint8_t out[4];
  // Nodes give their entries exactly; black is entry 0, white entry 4912.
  for (int b = 0; b < 17; b += 4)
    for (int g = 0; g < 17; g += 3)
      for (int r = 0; r < 17; ++r) {
        const int R = r == 16 ? 255 : 16 * r, G = g == 16 ? 255 : 16 * g, B = b == 16 ? 255 : 16 * b;
        CMYKDlutLookup(rec.get(), R, G, B, out);
        ASSERT_EQ(memcmp(out, rec->entries[Entry(r, g, b)], 4), 0) << R << " " << G << " " << B;
      }
  CMYKDlutLookup(rec.get(), 0, 0, 0, out);
  EXPECT_EQ(memcmp(out, rec->entries[0], 4), 0);
  CMYKDlutLookup(rec.get(), 255, 255, 255, out);
  EXPECT_EQ(memcmp(out, rec->entries[DLUT_ENTRY_COUNT - 1], 4), 0);

  auto table = std::make_unique<RGBDlutTable>();
  for (int i = 0; i < DLUT_ENTRY_COUNT; ++i) table->entries[i] = 0x00123456u + static_cast<uint32_t>(i % 7);
  table->entries[0] = 0xAA010203u;  // byte 0 is not used
  uint8_t rgb[3];
  RGBDlutLookup(table.get(), 0, 0, 0, rgb);
  EXPECT_EQ(rgb[0], 1);
  EXPECT_EQ(rgb[1], 2);
  EXPECT_EQ(rgb[2], 3);

  // On a face (blue exactly on a node) nothing of the next blue layer counts.
  auto other = std::make_unique<icDlutPrintType>(*rec);
  for (int g = 0; g < 17; ++g)
    for (int r = 0; r < 17; ++r) memset(other->entries[Entry(r, g, 6)], 0xEE, 4);
  for (int r = 0; r < 255; r += 11)
    for (int g = 0; g < 255; g += 13) {
      uint8_t a[4], b[4];
      CMYKDlutLookup(rec.get(), r, g, 80, a);
      CMYKDlutLookup(other.get(), r, g, 80, b);
      ASSERT_EQ(memcmp(a, b, 4), 0) << r << " " << g;
    }
}

TEST(ColourLut, PreparedLookupEqualsDirectLookup) {
  auto rec = RandomCMYK(99);
  ZTPreparedLut prepared;
  PrepareCMYKLut(rec.get(), &prepared);
  for (uint32_t k = 0; k < 200000; ++k) {
    const uint32_t v = k * 2654435761u;
    const int r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF;
    uint8_t out[4];
    CMYKDlutLookup(rec.get(), r, g, b, out);
    const uint64_t fast = InterpolatePrepared(&prepared, r, g, b);
    for (int ch = 0; ch < 4; ++ch) ASSERT_EQ(out[ch], (fast >> (16 * ch)) & 0xFF) << r << " " << g << " " << b;
  }
}

// ---- RGB DLUT files --------------------------------------------------------

void AppendBE32(std::string& s, uint32_t v) {
  for (int sh = 24; sh >= 0; sh -= 8) s.push_back(static_cast<char>(v >> sh));
}

// A file of tables whose entry 0 is tag, with the given map.
std::string RgbFile(const std::vector<uint8_t>& tags, const std::vector<uint32_t>& map) {
  std::string s;
  AppendBE32(s, 0);
  AppendBE32(s, static_cast<uint32_t>(tags.size()));
  const size_t offsets = s.size();
  s.append(4 * tags.size(), '\0');
  AppendBE32(s, static_cast<uint32_t>(map.size()));
  for (uint32_t m : map) AppendBE32(s, m);
  for (size_t k = 0; k < tags.size(); ++k) {
    const uint32_t at = static_cast<uint32_t>(s.size());
    for (int i = 0; i < 4; ++i) s[offsets + 4 * k + i] = static_cast<char>(at >> (24 - 8 * i));
    s.append(8, 'h');
    s.append(768, 'x');
    for (int e = 0; e < DLUT_ENTRY_COUNT; ++e) AppendBE32(s, e == 0 ? 0x00010000u * tags[k] + 0x0203 : 0x00FFFFFFu);
  }
  return s;
}

int LoadTag(const std::string& bytes, int n) {
  TempFile f(bytes, ".dlut");
  RGBDlutTable t;
  if (LoadRGBDlutTableFile(f.path().c_str(), n, &t) != 0) return -1;
  EXPECT_EQ(t.entries[0] & 0xFFFF, 0x0203u);  // turned from big-endian
  EXPECT_EQ(t.entries[DLUT_ENTRY_COUNT - 1], 0x00FFFFFFu);
  return static_cast<int>(t.entries[0] >> 16);
}

TEST(ColourLut, RGBDlutFileMapAndRefusals) {
  const std::string good = RgbFile({11, 22}, {2, 1, 2});
  EXPECT_EQ(LoadTag(good, 0), 22);
  EXPECT_EQ(LoadTag(good, 1), 11);
  EXPECT_EQ(LoadTag(good, 2), 22);
  EXPECT_EQ(LoadTag(good, 3), -1);   // DLUT number equal to M
  EXPECT_EQ(LoadTag(good, -1), -1);
  EXPECT_EQ(LoadTag(RgbFile({11, 22}, {0, 1}), 0), -1);  // map entry 0
  EXPECT_EQ(LoadTag(RgbFile({11, 22}, {3}), 0), -1);     // map entry past N
  EXPECT_EQ(LoadTag(RgbFile({11}, {}), 0), -1);          // empty map

  std::string hostile = good;
  for (int i = 4; i < 8; ++i) hostile[i] = '\xFF';  // N = 2^32 - 1: the map lies past the end
  EXPECT_EQ(LoadTag(hostile, 0), -1);
  hostile = good;
  hostile[8] = '\x7F';  // first table's offset far past the end
  EXPECT_EQ(LoadTag(hostile, 1), -1);
  EXPECT_EQ(LoadTag(hostile, 0), 22);  // the other table is still there

  // Every truncation of a one-table file fails cleanly except the whole file.
  const std::string one = RgbFile({5}, {1});
  for (size_t len = 0; len < one.size(); len += (len < 64 ? 1 : 997)) EXPECT_EQ(LoadTag(one.substr(0, len), 0), -1) << len;
  EXPECT_EQ(LoadTag(one.substr(0, one.size() - 1), 0), -1);
  EXPECT_EQ(LoadTag(one, 0), 5);

  RGBDlutTable t;
  EXPECT_EQ(LoadRGBDlutTableFile("/nonexistent/x.dlut", 0, &t), -1);
}

TEST(ColourLut, RGBDlutFileFromThePPD) {
  TempFile dlut(RgbFile({33}, {1, 1}), ".dlut");
  TempFile ppd(SamplePPDText({{"/usr/share/ztdriver/korva-zt.dlb", dlut.path()}}), ".ppd");
  RGBDlutTable t;
  setenv("PPD", ppd.path().c_str(), 1);
  ppd_file_t* opened = ppdOpenFile(ppd.path().c_str());
  ASSERT_NE(opened, nullptr);
  ASSERT_EQ(LoadRGBDlutTable(opened, 1, &t), 0);
  EXPECT_EQ(t.entries[0] >> 16, 33u);
  TempFile none(SamplePPDText({{"*QKDlutFilePath:", "*QKOtherPath:"}}), ".ppd");
  setenv("PPD", none.path().c_str(), 1);
  EXPECT_EQ(LoadRGBDlutTable(opened, 1, &t), -1);
  unsetenv("PPD");
  EXPECT_EQ(LoadRGBDlutTable(opened, 1, &t), -1);
  ppdClose(opened);
}

}  // namespace
