#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "ztraster.h"
#include "ztstreams.h"

namespace {

// A read-only stream over bytes (fmemopen keeps short reads realistic).
struct MemStream {
  explicit MemStream(const std::string& bytes) : data(bytes) {
    fp = fmemopen(data.empty() ? nullptr : data.data(), data.size(), "rb");
    if (!fp) fp = fmemopen(nullptr, 1, "w+b");  // empty stream
  }
  ~MemStream() { fclose(fp); }
  std::string data;
  FILE* fp;
};

TEST(CommonZTRaster, HeaderReadStopsAtCleanOrPartialEnd) {
  ZTRasterHeader h = MakeHeader(4, 2, 8, ZT_CS_GRAY);
  std::string two = PageBytes(h, std::string(8, 'a')) + HeaderBytes(h).substr(0, 30);
  MemStream s(two);
  ZTRasterHeader got{};
  ASSERT_EQ(ReadZTRasterHeader_FP(s.fp, &got), 1);
  EXPECT_EQ(std::memcmp(&got, &h, sizeof h), 0);
  ASSERT_EQ(fseek(s.fp, 8, SEEK_CUR), 0);
  EXPECT_EQ(ReadZTRasterHeader_FP(s.fp, &got), 0);  // 30 of 56 bytes: end of stream

  MemStream empty("");
  EXPECT_EQ(ReadZTRasterHeader_FP(empty.fp, &got), 0);
}

TEST(CommonZTRaster, DescriptorHeaderCallsLoopOverShortTransfers) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ZTRasterHeader h = MakeHeader(100, 3, 32, ZT_CS_CMYK);
  std::string bytes = HeaderBytes(h);
  // Write the header in two pieces; the reader must assemble it.
  ASSERT_EQ(write(fds[1], bytes.data(), 10), 10);
  ASSERT_EQ(write(fds[1], bytes.data() + 10, 46), 46);
  ASSERT_EQ(WriteZTRasterHeader(fds[1], &h), 1);
  ASSERT_EQ(write(fds[1], bytes.data(), 20), 20);
  close(fds[1]);
  ZTRasterHeader got{};
  EXPECT_EQ(ReadZTRasterHeader(fds[0], &got), 1);
  EXPECT_EQ(got.width, 100);
  EXPECT_EQ(ReadZTRasterHeader(fds[0], &got), 1);
  EXPECT_EQ(got.pageBytes, 1200);
  EXPECT_EQ(ReadZTRasterHeader(fds[0], &got), 0);
  close(fds[0]);
}

TEST(CommonZTRaster, OneComponentLineIsPaddedToEightBytes) {
  ZTRasterHeader h = MakeHeader(10, 1, 8, ZT_CS_GRAY);
  MemStream s("0123456789");
  unsigned char out[32];
  std::memset(out, 0xAA, sizeof out);
  ASSERT_EQ(ZTRasterLineOutputSize(&h), 16u);
  ASSERT_EQ(ReadZTRasterLine_FP(s.fp, &h, out), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 10), "0123456789");
  for (int i = 10; i < 16; ++i) EXPECT_EQ(out[i], 0xFF) << i;
  EXPECT_EQ(out[16], 0xAA);  // nothing written past the padded size
}

TEST(CommonZTRaster, ThreeBytePixelsWidenWithComponentOrder) {
  std::string line;
  for (int i = 0; i < 9; ++i) line += {char(i), char(10 + i), char(20 + i)};
  for (uint32_t encoding : {ZT_ENC_NONE, ZT_ENC_REVERSED3}) {
    ZTRasterHeader h = MakeHeader(9, 1, 24, ZT_CS_RGB);
    h.encoding = encoding;
    MemStream s(line);
    unsigned char out[64 + 4];
    std::memset(out, 0xAA, sizeof out);
    ASSERT_EQ(ZTRasterLineOutputSize(&h), 64u);
    ASSERT_EQ(ReadZTRasterLine_FP(s.fp, &h, out), 0);
    for (int i = 0; i < 9; ++i) {
      EXPECT_EQ(out[4 * i], 0xFF);
      EXPECT_EQ(out[4 * i + 2], 10 + i);
      EXPECT_EQ(out[4 * i + 1], encoding == ZT_ENC_NONE ? i : 20 + i);
      EXPECT_EQ(out[4 * i + 3], encoding == ZT_ENC_NONE ? 20 + i : i);
    }
    for (int i = 36; i < 64; ++i) EXPECT_EQ(out[i], 0xFF) << i;
    EXPECT_EQ(out[64], 0xAA);
  }
}

TEST(CommonZTRaster, PartialRGBPixelIsDroppedNotOverrun) {
  ZTRasterHeader h = MakeHeader(3, 1, 24, ZT_CS_RGB);
  h.bytesPerLine = 8;  // two whole pixels and two stray bytes
  MemStream s("abcdefgh");
  ASSERT_EQ(ZTRasterLineOutputSize(&h), 32u);
  unsigned char out[32];
  ASSERT_EQ(ReadZTRasterLine_FP(s.fp, &h, out), 0);
  EXPECT_EQ(std::memcmp(out, "\xff" "abc" "\xff" "def", 8), 0);
  for (int i = 8; i < 32; ++i) EXPECT_EQ(out[i], 0xFF);
}

TEST(CommonZTRaster, ShortLineAndFailedSkipReportOnStderr) {
  ZTRasterHeader h = MakeHeader(10, 1, 8, ZT_CS_GRAY);
  MemStream s("short");
  unsigned char out[16];
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadZTRasterLine_FP(s.fp, &h, out), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "DEBUG : ztraster: cannot read line.\n");

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* pipeIn = fdopen(fds[0], "rb");
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadZTRasterLine_FP(pipeIn, &h, nullptr), -1);  // pipes cannot seek
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "DEBUG : ztraster: cannot skip line.\n");
  fclose(pipeIn);
  close(fds[1]);

  MemStream seekable("0123456789XY");
  EXPECT_EQ(ReadZTRasterLine_FP(seekable.fp, &h, nullptr), 0);
  EXPECT_EQ(fgetc(seekable.fp), 'X');
}

TEST(CommonZTRaster, NumberOfCopies) {
  ZTRasterHeader h = MakeHeader(1, 1, 8, ZT_CS_GRAY);
  EXPECT_EQ(GetNumberOfCopies(nullptr, 0), 1);
  EXPECT_EQ(GetNumberOfCopies(nullptr, -3), 1);
  EXPECT_EQ(GetNumberOfCopies(nullptr, 4), 4);
  h.copies = 1;
  EXPECT_EQ(GetNumberOfCopies(&h, 5), 5);
  h.copies = 3;
  EXPECT_EQ(GetNumberOfCopies(&h, 5), 3);
}

TEST(CommonZTRaster, HeaderCheckRejectsWhatPixelFiltersCannotHandle) {
  struct Case {
    const char* what;
    void (*edit)(ZTRasterHeader&);
    int expected;
  };
  const Case cases[] = {
      {"sound", [](ZTRasterHeader&) {}, ZT_HEADER_OK},
      {"empty page", [](ZTRasterHeader& h) { h.width = 0; h.bytesPerLine = 0; h.pageBytes = 0; }, ZT_HEADER_OK},
      {"zero width with data", [](ZTRasterHeader& h) { h.width = 0; }, ZT_HEADER_BAD_SIZE},
      {"negative height", [](ZTRasterHeader& h) { h.height = -1; }, ZT_HEADER_BAD_SIZE},
      {"negative pageBytes", [](ZTRasterHeader& h) { h.pageBytes = -5; }, ZT_HEADER_BAD_SIZE},
      {"16 bits", [](ZTRasterHeader& h) { h.bitsPerPixel = 16; }, ZT_HEADER_BAD_DEPTH},
      {"1 bit", [](ZTRasterHeader& h) { h.bitsPerPixel = 1; }, ZT_HEADER_BAD_DEPTH},
      {"line length lies", [](ZTRasterHeader& h) { h.bytesPerLine += 1; }, ZT_HEADER_BAD_LINE},
      {"page bytes lie", [](ZTRasterHeader& h) { h.pageBytes -= 1; }, ZT_HEADER_BAD_PAGE_BYTES},
      {"line overflows", [](ZTRasterHeader& h) { h.width = 0x40000000; h.bytesPerLine = 0; }, ZT_HEADER_OVERFLOW},
      {"page overflows",
       [](ZTRasterHeader& h) { h.width = 100000; h.bytesPerLine = 400000; h.height = 100000; h.pageBytes = 1; },
       ZT_HEADER_OVERFLOW},
      {"coded page", [](ZTRasterHeader& h) { h.encoding = ZT_ENC_MIVO_COLOR; h.pageBytes = 77; }, ZT_HEADER_CODED},
      {"coded, negative length", [](ZTRasterHeader& h) { h.encoding = ZT_ENC_MIVO_MONO; h.pageBytes = -1; },
       ZT_HEADER_BAD_SIZE},
  };
  for (const auto& c : cases) {
    ZTRasterHeader h = MakeHeader(100, 20, 32, ZT_CS_CMYK);
    c.edit(h);
    EXPECT_EQ(CheckZTRasterHeader(&h), c.expected) << c.what;
    EXPECT_NE(std::string(ZTHeaderCheckText(c.expected)), "") << c.what;
  }
}

}  // namespace
