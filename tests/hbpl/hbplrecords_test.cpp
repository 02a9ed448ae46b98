// The HBPL record encoders: exact bytes of BeginJob, BeginPage and the
// image-data record, the page geometry and the page state.
#include <gtest/gtest.h>
#include <unistd.h>

#include "hbplbytes.h"
#include "hbpljob.h"
#include "hbplrecords.h"
#include "ztio.h"
#include "ztstreams.h"

namespace {

// A4 at the sample model's margins (12 points each side).
PrintSetting A4Setting(int pageSize = 2, int duplex = 0, int colorMode = 22) {
  return PrintSetting{pageSize, 3, 1, duplex, colorMode, 595.0f, 842.0f, 12.0f, 12.0f, 583.0f, 830.0f};
}

ZTRasterHeader PageHeader(int width, int height, uint32_t encoding, uint32_t colorSpace) {
  ZTRasterHeader h = MakeHeader(width, height, colorSpace == ZT_CS_GRAY ? 8 : 32, colorSpace);
  h.encoding = encoding;
  return h;
}

std::string BeginPageOf(const PrintSetting& s, const ZTRasterHeader& h) {
  return CaptureStream([&](FILE* fp) { WriteBeginPage(fp, &s, &h); });
}

// Runs DrawChunkImage over a spool file holding `payload`.
struct DrawResult {
  int status;
  std::string out;
};
DrawResult Draw(const ZTRasterHeader& h, const std::string& payload, size_t bufSize = 1 << 20) {
  ZTTempStream spool;
  fwrite(payload.data(), 1, payload.size(), spool.get());
  fflush(spool.get());
  const int fd = fileno(spool.get());
  lseek(fd, 0, SEEK_SET);
  std::vector<unsigned char> buf(bufSize);
  int status = 0;
  std::string out = CaptureStream([&](FILE* fp) { status = DrawChunkImage(fp, fd, &h, buf.data(), buf.size()); });
  return {status, out};
}

class HbplRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    gBackSideFlag = 0;
    gPageCounter = 1;
  }
};

TEST_F(HbplRecords, BeginJobAnnouncesTheFirstPagesEncoding) {
  ZTRasterHeader h = PageHeader(8, 8, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK);
  EXPECT_EQ(CaptureStream([&](FILE* fp) { WriteBeginJob(fp, &h); }),
            std::string("\x41\x81\xA1\x00\x82\xA2\x06\x00\x83\xA2\x01\x00", 12));
  const std::pair<uint32_t, uint32_t> codes[] = {{5, 4}, {7, 7}, {0, 1}, {3, 1}, {4, 1}, {8, 1}};
  for (auto [encoding, code] : codes) {
    h.encoding = encoding;
    EXPECT_EQ(CaptureStream([&](FILE* fp) { WriteBeginJob(fp, &h); }),
              "A" + Scalar(0x81, 1, 0) + Scalar(0x82, 2, code) + Scalar(0x83, 2, 1))
        << "encoding " << encoding;
  }
}

TEST_F(HbplRecords, CustomSizeMivoPageBytes) {
  // 595 x 842 points at 600 dpi: 4958.3 and 7016.7 pixels, both lengths
  // with the horizontal resolution. Across, the image is larger than the
  // imageable area and the paper's slack, so it sits at 0; down (1200 dpi)
  // it fits and keeps the 200-pixel top margin.
  const PrintSetting s = A4Setting(255);
  ZTRasterHeader h = PageHeader(4960, 7016, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK);
  h.resolutionY = 1200;
  PageFields f;
  f.inputSlot = 3;
  f.pageSize = 255;
  f.customWidth = 4958;
  f.customLength = 7017;
  f.width = 4960;
  f.height = 7016;
  f.payloadKind = 1;
  f.pixelFormat = 139;
  f.planes = 2;
  f.payloadVariant = 5;
  f.lineWidth = 4968;
  f.offsetY = 200;
  EXPECT_EQ(BeginPageOf(s, h), BeginPageBytes(f));

  // Any other size code carries no custom size; a monochrome MIVO page whose
  // width is a multiple of 8 still gets a padding group.
  const ZTRasterHeader mono = PageHeader(4800, 6800, ZT_ENC_MIVO_MONO, ZT_CS_GRAY);
  f.pageSize = 2;
  f.customWidth = f.customLength = 0;
  f.pageNumber = 2;
  f.width = 4800;
  f.height = 6800;
  f.pixelFormat = 9;
  f.lineWidth = 4808;
  f.offsetX = 100;  // within the paper's slack: keeps the margin
  f.offsetY = 100;
  EXPECT_EQ(BeginPageOf(A4Setting(2), mono), BeginPageBytes(f));
}

TEST_F(HbplRecords, FormatAttributesFollowEncodingAndColour) {
  struct Row {
    uint32_t encoding, colorSpace, colorOrder;
    int colorMode;
    uint32_t kind, format, planes, variant, bits;
  };
  const Row rows[] = {
      {0, ZT_CS_CMYK, 0, 22, 0, 17, 0, 1, 8},   {0, ZT_CS_GRAY, 2, 1, 0, 1, 2, 1, 8},
      {0, ZT_CS_OTHER3, 1, 22, 0, 22, 1, 1, 32}, {0, ZT_CS_CMYK, 7, 17, 0, 17, 1, 1, 8},
      {4, ZT_CS_CMYK, 0, 22, 6, 17, 0, 1, 8},   {5, ZT_CS_GRAY, 0, 22, 4, 9, 2, 2, 8},
      {5, ZT_CS_RGB, 0, 22, 4, 139, 2, 2, 8},   {3, ZT_CS_CMYK, 0, 1, 1, 1, 0, 1, 8},
      {9, ZT_CS_OTHER3, 2, 22, 1, 22, 2, 1, 32},
  };
  for (const Row& r : rows) {
    ZTRasterHeader h = PageHeader(100, 50, r.encoding, r.colorSpace);
    h.colorOrder = r.colorOrder;
    h.resolutionX = 300;
    const std::string bytes = BeginPageOf(A4Setting(2, 0, r.colorMode), h);
    // The tail of the record: 0x9C..0xA1 and the line size.
    const std::string tail = Scalar(0x9C, 1, r.kind) + Scalar(0x9D, 1, r.format) + Scalar(0x9E, 1, r.planes) +
                             Scalar(0x9F, 1, r.variant) + Scalar(0xA0, 1, r.bits) + Scalar(0xA1, 1, 3) +
                             Pair(0xA2, 4, 100, 50);
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail) << "encoding " << r.encoding << " space " << r.colorSpace;
  }
}

TEST_F(HbplRecords, ImageOffsetKeepsMarginsOnlyWhileTheImageFits) {
  // Imageable area 571 x 818 points = 4758 x 6817 pixels; paper 4958 x 7017;
  // margins 100 left and top.
  const PrintSetting s = A4Setting();
  struct Row {
    int width, height;
    uint16_t x, y;
  };
  const Row rows[] = {
      {4758, 6817, 100, 100},  // exactly the imageable area
      {100, 100, 100, 100},    // small image
      {4800, 6900, 100, 100},  // overruns by less than the slack
      {4900, 7000, 0, 0},      // overruns by more than the slack
      {4958, 7017, 0, 0},      // exactly the paper: no slack at all
      {6000, 9000, 0, 0},      // larger than the paper
  };
  for (const Row& r : rows) {
    const ZTRasterHeader h = PageHeader(r.width, r.height, ZT_ENC_NONE, ZT_CS_CMYK);
    const HbplImageOffset o = GetHbplImageOffset(&s, &h);
    EXPECT_EQ(o.x, r.x) << r.width;
    EXPECT_EQ(o.y, r.y) << r.height;
  }
  // A negative left margin is carried as a signed 16-bit number.
  PrintSetting wide = s;
  wide.imageLeft = -1.2f;  // -10 pixels
  const ZTRasterHeader h = PageHeader(100, 100, ZT_ENC_NONE, ZT_CS_CMYK);
  EXPECT_EQ(GetHbplImageOffset(&wide, &h).x, static_cast<uint16_t>(-10));
}

TEST_F(HbplRecords, RoundingIsHalfUpAfterTruncation) {
  EXPECT_EQ(RoundHbplLength(4958.3333), 4958u);
  EXPECT_EQ(RoundHbplLength(7016.6667), 7017u);
  EXPECT_EQ(RoundHbplLength(2.5), 3u);
  EXPECT_EQ(RoundHbplLength(2.4999), 2u);
  EXPECT_EQ(RoundHbplLength(-2.5), static_cast<uint32_t>(-2));  // toward zero, never up
  EXPECT_EQ(RoundHbplLength(4294967296.0 + 7), 7u);              // low 32 bits
  EXPECT_EQ(RoundHbplLength(1e300), RoundHbplLength(9.2e18));    // held, not undefined
}

TEST_F(HbplRecords, DuplexSidesAlternateAndPagesCount) {
  const ZTRasterHeader h = PageHeader(16, 16, ZT_ENC_NONE, ZT_CS_CMYK);
  auto sideAndNumber = [&](const PrintSetting& s) {
    hbpljob::Job job;
    hbpljob::Error err;
    const std::string bytes = std::string("\x1B%-12345X@PJL JOB MODE=PRINTER\n@PJL SET STRINGCODESET=UTF8\n"
                                          "@PJL ENTER LANGUAGE=HBPL\n") +
                              "A" + Scalar(0x81, 1, 0) + Scalar(0x82, 2, 1) + Scalar(0x83, 2, 1) +
                              BeginPageOf(s, h) + "QSDB\x1B%-12345X@PJL EOJ\n";
    EXPECT_TRUE(hbpljob::ParseJob(bytes, &job, &err)) << err.message << " at " << err.offset;
    return std::make_pair(job.pages.at(0).Get(0x98).first, job.pages.at(0).Get(0x99).first);
  };
  const PrintSetting duplex = A4Setting(2, 1);
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  for (int i = 0; i < 4; ++i) seen.push_back(sideAndNumber(duplex));
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {2, 2}, {1, 3}, {2, 4}}));
  // A simplex page writes 0 and leaves the side alone.
  gBackSideFlag = 1;
  EXPECT_EQ(sideAndNumber(A4Setting(2, 0)), std::make_pair(0u, 5u));
  EXPECT_EQ(gBackSideFlag, 1);
}

TEST_F(HbplRecords, ImageDataWrapsEachEncoding) {
  const std::string payload = PatternBytes(40, 7);
  ZTRasterHeader raw = PageHeader(10, 1, ZT_ENC_NONE, ZT_CS_CMYK);
  raw.pageBytes = 40;
  // A small buffer makes the copy go in pieces.
  DrawResult r = Draw(raw, payload, 3);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ImageDataHead(40) + payload);

  ZTRasterHeader three = raw;
  three.encoding = 3;
  r = Draw(three, payload);
  EXPECT_EQ(r.out, ImageDataHead(64) + ChunkHeader({24, 0x100, 0x43210, 0x42A1, 0xFF0000, 0}) + payload);
  three.colorSpace = ZT_CS_GRAY;
  r = Draw(three, payload);
  EXPECT_EQ(r.out, ImageDataHead(64) + ChunkHeader({24, 0x108, 0x43210, 0x42A1, 0xFF0000, 0}) + payload);

  ZTRasterHeader bare = raw;
  bare.encoding = 5;
  r = Draw(bare, payload);
  EXPECT_EQ(r.out, payload);

  // MIVO: the four length words lead the body and follow the chunk header.
  const std::string lengths = ChunkHeader({10, 4, 3, 2});
  const std::string mivoBody = lengths + PatternBytes(24, 9);
  ZTRasterHeader mivo = PageHeader(64, 2, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK);
  mivo.pageBytes = static_cast<int32_t>(mivoBody.size());
  r = Draw(mivo, mivoBody, 5);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ImageDataHead(72) + ChunkHeader({32, 0x10100, 0x43210, 0x42A1, 0xFF0000, 0, 0, 0}) + mivoBody);
  mivo.encoding = ZT_ENC_MIVO_MONO;
  mivo.colorSpace = ZT_CS_GRAY;
  r = Draw(mivo, mivoBody);
  EXPECT_EQ(r.out, ImageDataHead(72) + ChunkHeader({32, 0x108, 0x43210, 0x42A1, 0xFF0000, 0, 0, 0}) + mivoBody);

  ZTRasterHeader empty = raw;
  empty.pageBytes = 0;
  r = Draw(empty, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ImageDataHead(0));
}

TEST_F(HbplRecords, ImageDataRefusesShortOrInconsistentBodies) {
  ZTRasterHeader raw = PageHeader(10, 1, ZT_ENC_NONE, ZT_CS_CMYK);
  raw.pageBytes = 40;
  EXPECT_EQ(Draw(raw, PatternBytes(39, 1), 16).status, DRAW_CHUNK_FAILED);

  ZTRasterHeader mivo = PageHeader(64, 2, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK);
  // Shorter than its own length words: would read into the next page.
  mivo.pageBytes = 12;
  EXPECT_EQ(Draw(mivo, PatternBytes(100, 1)).status, DRAW_CHUNK_FAILED);
  // Streams announced beyond the body: refused before anything is written.
  const std::string lying = ChunkHeader({10, 4, 3, 0x7FFFFFF0}) + PatternBytes(24, 9);
  mivo.pageBytes = static_cast<int32_t>(lying.size());
  DrawResult r = Draw(mivo, lying);
  EXPECT_EQ(r.status, DRAW_CHUNK_FAILED);
  EXPECT_EQ(r.out, "");
  // Lengths that add up to the body exactly are fine.
  const std::string exact = ChunkHeader({10, 4, 3, 7}) + PatternBytes(24, 9);
  mivo.pageBytes = static_cast<int32_t>(exact.size());
  EXPECT_EQ(Draw(mivo, exact).status, DRAW_CHUNK_OK);
}

}  // namespace
