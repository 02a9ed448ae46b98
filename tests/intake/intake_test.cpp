// cupstoztraster on CUPS raster written by libcupsimage's own writer, in the
// uncompressed and both compressed forms, and on crafted broken streams.

#include <cups/raster.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "runfilter.h"
#include "ztstreams.h"

namespace {

// A CUPS page header of 8-bit chunked pixels, 600 dpi, A4, one copy: the
// defaults MakeHeader gives the expected ZT header.
cups_page_header2_t CupsHeader(unsigned width, unsigned height, cups_cspace_t space) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsColorSpace = space;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsBitsPerColor = 8;
  h.cupsNumColors = space == CUPS_CSPACE_RGB ? 3 : (space == CUPS_CSPACE_CMYK ? 4 : 1);
  h.cupsBitsPerPixel = 8 * h.cupsNumColors;
  h.cupsBytesPerLine = width * h.cupsNumColors;
  h.HWResolution[0] = h.HWResolution[1] = 600;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.NumCopies = 1;
  return h;
}

// Pixels with white runs, repeated lines and noise, so that the compressed
// writer uses every kind of run.
std::string PagePixels(const cups_page_header2_t& h, uint32_t seed) {
  const size_t line = h.cupsBytesPerLine;
  std::string data;
  data.reserve(line * h.cupsHeight);
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    if (y % 5 == 1) {
      data += std::string(line, '\xff');
    } else if (y % 5 == 2) {
      data += data.substr(data.size() - line);  // same as the line before
    } else {
      std::string l = PatternBytes(line, seed + y);
      std::fill(l.begin(), l.begin() + static_cast<long>(line / 3), '\x40');
      data += l;
    }
  }
  return data;
}

ssize_t AppendBytes(void* ctx, unsigned char* buf, size_t bytes) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<char*>(buf), bytes);
  return static_cast<ssize_t>(bytes);
}

struct Page {
  cups_page_header2_t header;
  std::string pixels;
};

// The stream libcupsimage writes for these pages in the given mode.
std::string WriteRaster(cups_mode_t mode, const std::vector<Page>& pages) {
  std::string bytes;
  cups_raster_t* r = cupsRasterOpenIO(AppendBytes, &bytes, mode);
  EXPECT_NE(r, nullptr);
  for (const Page& p : pages) {
    cups_page_header2_t h = p.header;
    EXPECT_EQ(cupsRasterWriteHeader2(r, &h), 1u);
    const size_t line = h.cupsBytesPerLine;
    for (size_t off = 0; off < p.pixels.size(); off += line) {
      EXPECT_EQ(cupsRasterWritePixels(r, reinterpret_cast<unsigned char*>(const_cast<char*>(p.pixels.data() + off)),
                                      static_cast<unsigned>(line)),
                line);
    }
  }
  cupsRasterClose(r);
  return bytes;
}

// A page header exactly as it lies in an uncompressed (RaS3) stream, for
// headers the writer would not produce.
std::string RawHeader(const cups_page_header2_t& h) { return std::string(reinterpret_cast<const char*>(&h), sizeof h); }

FilterResult RunIntake(const std::string& input) { return RunFilter(FilterArgv("cupstoztraster"), input); }

// ZT bytes expected for a page: header from named fields, then the pixels.
std::string ExpectedPage(const ZTRasterHeader& h, const std::string& pixels) { return PageBytes(h, pixels); }

class IntakeModes : public ::testing::TestWithParam<cups_mode_t> {};

TEST_P(IntakeModes, RgbPageHeaderAndPixelsAreExact) {
  Page p{CupsHeader(37, 23, CUPS_CSPACE_RGB), {}};
  p.pixels = PagePixels(p.header, 1);
  FilterResult r = RunIntake(WriteRaster(GetParam(), {p}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ZTRasterHeader zt = MakeHeader(37, 23, 24, ZT_CS_RGB);
  EXPECT_EQ(zt.bytesPerLine, 111);
  EXPECT_TRUE(r.out == ExpectedPage(zt, p.pixels));
}

TEST_P(IntakeModes, BlackPageHasOneBytePixels) {
  Page p{CupsHeader(64, 70, CUPS_CSPACE_K), {}};
  p.pixels = PagePixels(p.header, 2);
  FilterResult r = RunIntake(WriteRaster(GetParam(), {p}));
  EXPECT_EQ(r.status, 0);
  ZTRasterHeader zt = MakeHeader(64, 70, 8, ZT_CS_GRAY);
  EXPECT_TRUE(r.out == ExpectedPage(zt, p.pixels));
}

TEST_P(IntakeModes, LandscapeCopiesResolutionAndMediaPassThrough) {
  Page p{CupsHeader(90, 40, CUPS_CSPACE_RGB), {}};
  p.header.HWResolution[0] = 300;
  p.header.HWResolution[1] = 600;
  p.header.NumCopies = 3;
  p.header.PageSize[0] = 842;
  p.header.PageSize[1] = 595;
  p.pixels = PagePixels(p.header, 3);
  FilterResult r = RunIntake(WriteRaster(GetParam(), {p}));
  EXPECT_EQ(r.status, 0);
  ZTRasterHeader zt = MakeHeader(90, 40, 24, ZT_CS_RGB);
  EXPECT_EQ(zt.landscape, 1u);
  zt.resolutionX = 300;
  zt.copies = 3;
  zt.pageWidth = 842;
  zt.pageHeight = 595;
  EXPECT_TRUE(r.out == ExpectedPage(zt, p.pixels));
}

// Pages of several chunks, a later page with longer lines, a line longer than
// the whole chunk and a small page after it.
TEST_P(IntakeModes, PagesOfEverySizeAreCopiedWhole) {
  std::vector<Page> pages = {
      {CupsHeader(20, 10, CUPS_CSPACE_K), {}},        // small first page: a small buffer
      {CupsHeader(1000, 400, CUPS_CSPACE_RGB), {}},   // 1.2 MB: chunks of 349 and 51 lines
      {CupsHeader(1500, 300, CUPS_CSPACE_RGB), {}},   // longer lines than before
      {CupsHeader(350000, 3, CUPS_CSPACE_RGB), {}},   // one line is more than 1 MiB
      {CupsHeader(7, 5, CUPS_CSPACE_RGB), {}},
  };
  std::string expected;
  uint32_t seed = 10;
  for (Page& p : pages) {
    p.pixels = PagePixels(p.header, seed++);
    int bpp = p.header.cupsColorSpace == CUPS_CSPACE_RGB ? 24 : 8;
    expected += ExpectedPage(MakeHeader(static_cast<int>(p.header.cupsWidth), static_cast<int>(p.header.cupsHeight),
                                        bpp, bpp == 24 ? ZT_CS_RGB : ZT_CS_GRAY),
                             p.pixels);
  }
  FilterResult r = RunIntake(WriteRaster(GetParam(), pages));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.size(), expected.size());
  EXPECT_TRUE(r.out == expected);
}

TEST_P(IntakeModes, StreamWithoutPagesGivesNoOutput) {
  FilterResult r = RunIntake(WriteRaster(GetParam(), {}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_P(IntakeModes, TruncatedPageFails) {
  Page p{CupsHeader(300, 200, CUPS_CSPACE_RGB), {}};
  p.pixels = PagePixels(p.header, 4);
  std::string stream = WriteRaster(GetParam(), {p});
  FilterResult r = RunIntake(stream.substr(0, stream.size() - 40));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: cupstoztraster: page 1: the raster data ends inside the page.\n");
}

INSTANTIATE_TEST_SUITE_P(Writer, IntakeModes,
                         ::testing::Values(CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED, CUPS_RASTER_WRITE_PWG),
                         [](const ::testing::TestParamInfo<cups_mode_t>& info) {
                           switch (info.param) {
                             case CUPS_RASTER_WRITE: return std::string("Uncompressed");
                             case CUPS_RASTER_WRITE_COMPRESSED: return std::string("Compressed");
                             default: return std::string("Pwg");
                           }
                         });

// ---- Pages the chain cannot take -------------------------------------------------

struct RefusedCase {
  const char* name;
  cups_page_header2_t header;
  std::string err;  // the message for page 2
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class IntakeRefused : public ::testing::TestWithParam<RefusedCase> {};

// A good page, then the refused one: the output holds the good page only, so
// the stream never goes out of step.
TEST_P(IntakeRefused, StopsBeforeThePageWithOneError) {
  Page good{CupsHeader(16, 8, CUPS_CSPACE_RGB), {}};
  good.pixels = PagePixels(good.header, 5);
  std::string input = WriteRaster(CUPS_RASTER_WRITE, {good}) + RawHeader(GetParam().header) + PatternBytes(4096, 6);
  FilterResult r = RunIntake(input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_TRUE(r.out == ExpectedPage(MakeHeader(16, 8, 24, ZT_CS_RGB), good.pixels));
}

cups_page_header2_t Changed(cups_page_header2_t h, void (*change)(cups_page_header2_t&)) {
  change(h);
  return h;
}

const std::string kPage2 = "ERROR: cupstoztraster: page 2 cannot be printed: ";

INSTANTIATE_TEST_SUITE_P(
    Headers, IntakeRefused,
    ::testing::Values(
        RefusedCase{"OneBitBlack", Changed(CupsHeader(800, 10, CUPS_CSPACE_K), [](cups_page_header2_t& h) {
                      h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
                      h.cupsBytesPerLine = 100;
                    }),
                    kPage2 + "only 8 bits per colour are supported.\n"},
        RefusedCase{"SixteenBitRgb", Changed(CupsHeader(10, 10, CUPS_CSPACE_RGB), [](cups_page_header2_t& h) {
                      h.cupsBitsPerColor = 16;
                      h.cupsBitsPerPixel = 48;
                      h.cupsBytesPerLine = 60;
                    }),
                    kPage2 + "only 8 bits per colour are supported.\n"},
        RefusedCase{"CmykLineLength", CupsHeader(10, 10, CUPS_CSPACE_CMYK),
                    kPage2 + "line length does not match the colour space and width.\n"},
        RefusedCase{"BandedRgb", Changed(CupsHeader(10, 10, CUPS_CSPACE_RGB), [](cups_page_header2_t& h) {
                      h.cupsColorOrder = CUPS_ORDER_BANDED;
                      h.cupsBitsPerPixel = 8;
                    }),
                    kPage2 + "RGB pixels must be chunked.\n"},
        RefusedCase{"PageOver2GiB", CupsHeader(60000, 20000, CUPS_CSPACE_RGB),
                    kPage2 + "page size does not fit 32 bits.\n"},
        RefusedCase{"ZeroWidth", Changed(CupsHeader(0, 10, CUPS_CSPACE_K), [](cups_page_header2_t& h) {
                      h.cupsBytesPerLine = 1;
                    }),
                    kPage2 + "page has no width.\n"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

// ---- Streams and the command line ------------------------------------------------------

TEST(IntakeStream, EmptyInputIsAJobWithoutPages) {
  FilterResult r = RunIntake("");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(IntakeStream, BrokenStreamsAreReported) {
  FilterResult notRaster = RunIntake("%PDF-1.4 this is not raster");
  EXPECT_EQ(notRaster.status, 1);
  EXPECT_EQ(notRaster.err, "ERROR: cupstoztraster: input is not a CUPS raster stream.\n");
  EXPECT_EQ(notRaster.out, "");

  Page p{CupsHeader(8, 8, CUPS_CSPACE_K), std::string(64, '\x11')};
  std::string stream = WriteRaster(CUPS_RASTER_WRITE, {p});
  FilterResult cutHeader = RunIntake(stream + RawHeader(p.header).substr(0, 100));
  EXPECT_EQ(cutHeader.status, 1);
  EXPECT_EQ(cutHeader.err, "ERROR: cupstoztraster: page 2 has a broken CUPS raster page header.\n");
  EXPECT_TRUE(cutHeader.out == ExpectedPage(MakeHeader(8, 8, 8, ZT_CS_GRAY), p.pixels));
}

TEST(IntakeStream, CommandLine) {
  FilterResult usage = RunFilter({ProgramPath("cupstoztraster"), "1", "u", "t", "1"}, "");
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.err, "ERROR: cupstoztraster job-id user title copies options [file]\n");

  auto argv = FilterArgv("cupstoztraster");
  argv.push_back("/nonexistent-zt/job.ras");
  FilterResult missing = RunFilter(argv, "");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "ERROR: unable to open raster file.\n");

  Page p{CupsHeader(5, 4, CUPS_CSPACE_RGB), PatternBytes(60, 8)};
  TempFile job(WriteRaster(CUPS_RASTER_WRITE, {p}));
  argv.back() = job.path();
  FilterResult fromFile = RunFilter(argv, "ignored standard input");
  EXPECT_EQ(fromFile.status, 0);
  EXPECT_TRUE(fromFile.out == ExpectedPage(MakeHeader(5, 4, 24, ZT_CS_RGB), p.pixels));
}

TEST(IntakeStream, ClosedOutputIsAnError) {
  Page p{CupsHeader(1000, 1000, CUPS_CSPACE_RGB), {}};
  p.pixels = PagePixels(p.header, 9);
  RunOptions opts;
  opts.closeStdoutEarly = true;
  FilterResult r = RunFilter(FilterArgv("cupstoztraster"), WriteRaster(CUPS_RASTER_WRITE, {p}), opts);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: cupstoztraster: cannot write the output: Broken pipe\n");
}

// SIGTERM while the filter waits for the next page: it ends with 0 after the
// page it finished, and later pages are not written.
TEST(IntakeStream, CancelStopsBetweenPages) {
  Page first{CupsHeader(100, 50, CUPS_CSPACE_RGB), {}};
  first.pixels = PagePixels(first.header, 11);
  Page second{CupsHeader(10, 10, CUPS_CSPACE_K), std::string(100, '\x22')};
  std::string stream = WriteRaster(CUPS_RASTER_WRITE, {first, second});
  const size_t firstBytes = 4 + sizeof(cups_page_header2_t) + first.pixels.size();
  const std::string expected = ExpectedPage(MakeHeader(100, 50, 24, ZT_CS_RGB), first.pixels);

  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  auto argv = FilterArgv("cupstoztraster");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    execl(argv[0].c_str(), argv[0].c_str(), "1", "u", "t", "1", "", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  signal(SIGPIPE, SIG_IGN);
  ASSERT_EQ(write(in[1], stream.data(), firstBytes), static_cast<ssize_t>(firstBytes));
  std::string got;
  char buf[65536];
  while (got.size() < expected.size()) {
    ssize_t n = read(out[0], buf, sizeof buf);
    ASSERT_GT(n, 0);
    got.append(buf, static_cast<size_t>(n));
  }
  kill(pid, SIGTERM);
  (void)!write(in[1], stream.data() + firstBytes, stream.size() - firstBytes);
  close(in[1]);
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(got == expected);
}

}  // namespace
