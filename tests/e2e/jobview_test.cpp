// The job inspector against jobs made by the driver's own filters: pages
// render to the pixels they were made from, and broken jobs are refused
// with the offset of the first bad byte.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runfilter.h"
#include "ztjobview_check.h"
#include "ztjobview_render.h"
#include "ztstreams.h"

namespace {

using ztinspect::Fault;
using ztinspect::JobInfo;
using ztinspect::PageStats;

// Pixels with long runs and noisy stretches, so that MIVO uses both.
std::string MixedPixels(int width, int height, int components, uint32_t seed) {
  std::string noise = PatternBytes(static_cast<size_t>(width) * height * components, seed);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if ((x / 7 + y / 3) % 2 == 0) continue;  // keep the noise
      for (int c = 0; c < components; ++c)
        noise[(static_cast<size_t>(y) * width + x) * components + c] = static_cast<char>((c * 60 + y) & 0xff);
    }
  }
  return noise;
}

// The job ztrastertohbpl makes of a ZT raster stream (ztmivo5 first when
// `mivo` is set).
std::string MakeJob(const std::string& stream, bool mivo, const std::string& options = "",
                    const std::string& ppd = DataPath("korva-zt.ppd")) {
  RunOptions run;
  run.ppd = ppd;
  std::string input = stream;
  if (mivo) {
    FilterResult coded = RunFilter(FilterArgv("ztmivo5", options), input, run);
    EXPECT_EQ(coded.status, 0) << coded.err;
    input = coded.out;
  }
  FilterResult job = RunFilter(FilterArgv("ztrastertohbpl", options), input, run);
  EXPECT_EQ(job.status, 0) << job.err;
  return job.out;
}

// Reads a PNG as 8-bit RGB.
std::vector<unsigned char> ReadPng(const std::string& path, uint32_t* width, uint32_t* height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  *width = image.width;
  *height = image.height;
  return pixels;
}

// The RGB the inspector shows for one pixel of `components` bytes: CMYK
// through 255 - min(255, C + K), RGB as it is, one component as K.
void ExpectedRgb(const unsigned char* px, int components, unsigned char rgb[3]) {
  if (components == 4) {
    for (int i = 0; i < 3; ++i) rgb[i] = static_cast<unsigned char>(255 - std::min(255, px[i] + px[3]));
  } else if (components == 3) {
    std::memcpy(rgb, px, 3);
  } else {
    rgb[0] = rgb[1] = rgb[2] = static_cast<unsigned char>(255 - px[0]);
  }
}

// How a page is laid out in its source: bytes per pixel, the first byte
// that is shown, and how many bytes from there the page shows.
struct Layout {
  int sourceBytes;
  int first;
  int components;
};
constexpr Layout kCmyk{4, 0, 4}, kRgb{3, 0, 3}, kGrey{1, 0, 1}, kMonoFromCmyk{4, 3, 1};

// Renders every page of a sound job and compares each PNG and the ink
// counts with the source pixels.
void ExpectPagesShow(const std::string& job, const std::vector<std::string>& sources, int width, int height,
                     Layout layout) {
  JobInfo info;
  Fault fault;
  ASSERT_TRUE(ztinspect::InspectJob(job, &info, &fault)) << fault.offset << ": " << fault.message;
  ASSERT_EQ(info.pages.size(), sources.size());
  TempDir dir;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string png = dir.path() + "/p" + std::to_string(i) + ".png";
    PageStats stats;
    ASSERT_EQ(ztinspect::RenderPage(job, info.pages[i], {}, png, &stats, &fault), ztinspect::kRendered)
        << fault.offset << ": " << fault.message;
    EXPECT_EQ(info.pages[i].number, i + 1);
    uint32_t w = 0, h = 0;
    std::vector<unsigned char> rgb = ReadPng(png, &w, &h);
    ASSERT_EQ(w, static_cast<uint32_t>(width));
    ASSERT_EQ(h, static_cast<uint32_t>(height));
    uint64_t ink[4] = {};
    size_t mismatches = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const auto* p = reinterpret_cast<const unsigned char*>(sources[i].data()) +
                        (static_cast<size_t>(y) * width + x) * layout.sourceBytes + layout.first;
        unsigned char shown[3];
        ExpectedRgb(p, layout.components, shown);
        if (std::memcmp(shown, &rgb[(static_cast<size_t>(y) * width + x) * 3], 3) != 0) ++mismatches;
        if (layout.components == 4) {
          for (int c = 0; c < 4; ++c) ink[c] += p[c] != 0;
        } else if (layout.components == 3) {
          for (int c = 0; c < 3; ++c) ink[c] += p[c] != 255;
        } else {
          ink[3] += p[0] != 0;
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << "page " << i + 1;
    for (int c = 0; c < 4; ++c) EXPECT_EQ(stats.ink[c], ink[c]) << "page " << i + 1 << " component " << c;
  }
}

TEST(InspectorRender, RawPagesShowTheirPixels) {
  const int w = 37, h = 23;
  const struct {
    int bits;
    uint32_t colorSpace;
    Layout layout;
  } kinds[] = {{32, ZT_CS_CMYK, kCmyk}, {24, ZT_CS_RGB, kRgb}, {8, ZT_CS_GRAY, kGrey}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.bits);
    const std::string a = MixedPixels(w, h, k.bits / 8, 1), b = MixedPixels(w, h, k.bits / 8, 2);
    const ZTRasterHeader hdr = MakeHeader(w, h, k.bits, k.colorSpace);
    ExpectPagesShow(MakeJob(PageBytes(hdr, a) + PageBytes(hdr, b), false), {a, b}, w, h, k.layout);
  }
}

#ifdef ZT_HAVE_MIVO5
TEST(InspectorRender, MivoPagesDecodeToTheirSource) {
  const int w = 61, h = 17;  // not a multiple of 8: the coded line has padding
  const std::string a = MixedPixels(w, h, 4, 3), b = MixedPixels(w, h, 4, 4);
  const ZTRasterHeader hdr = MakeHeader(w, h, 32, ZT_CS_CMYK);
  const std::string stream = PageBytes(hdr, a) + PageBytes(hdr, b);
  {
    SCOPED_TRACE("colour");
    ExpectPagesShow(MakeJob(stream, true), {a, b}, w, h, kCmyk);
  }
  {
    SCOPED_TRACE("monochrome");
    ExpectPagesShow(MakeJob(stream, true, "QKColorMode=Black"), {a, b}, w, h, kMonoFromCmyk);
  }
  {
    SCOPED_TRACE("lead pixels");
    TempFile ppd(SamplePPDText({}, "*QKNeedLPHMarker: \"True\"\n"), ".ppd");
    ExpectPagesShow(MakeJob(stream, true, "", ppd.path()), {a, b}, w, h, kCmyk);
  }
}
#endif

// A small sound job of two raw CMYK pages.
std::string SmallRawJob() {
  const ZTRasterHeader hdr = MakeHeader(8, 4, 32, ZT_CS_CMYK);
  return MakeJob(PageBytes(hdr, PatternBytes(128, 5)) + PageBytes(hdr, PatternBytes(128, 6)), false);
}

// Inspects and renders all pages; false with the fault when anything fails.
bool InspectAll(const std::string& job, Fault* fault, const ztinspect::RenderLimits& limits = {}) {
  JobInfo info;
  if (!ztinspect::InspectJob(job, &info, fault)) return false;
  for (const auto& page : info.pages) {
    PageStats stats;
    if (ztinspect::RenderPage(job, page, limits, "", &stats, fault) == ztinspect::kBadData) return false;
  }
  return true;
}

TEST(InspectorFaults, EveryTruncatedJobIsRefused) {
  const std::string job = SmallRawJob();
  Fault fault;
  ASSERT_TRUE(InspectAll(job, &fault)) << fault.message;
  for (size_t n = 0; n < job.size(); ++n) {
    ASSERT_FALSE(InspectAll(job.substr(0, n), &fault)) << "prefix of " << n << " bytes accepted";
    EXPECT_LE(fault.offset, n) << fault.message;
  }
}

TEST(InspectorFaults, ABadByteIsNamedByItsOffset) {
  const std::string sound = SmallRawJob();
  JobInfo info;
  Fault fault;
  ASSERT_TRUE(ztinspect::InspectJob(sound, &info, &fault));
  const hbpljob::Page& page = info.job.pages[1];
  auto attr = [&](uint8_t id) { return page.Get(id).offset; };
  const size_t image = page.images[0].offset;
  const size_t endImage = static_cast<size_t>(page.images[0].bytes.data() - sound.data()) + page.images[0].bytes.size();
  struct Case {
    const char* what;
    size_t at;       // byte to change
    char value;      // new value
    size_t expect;   // offset the fault must name
  };
  const Case cases[] = {
      {"attribute id out of order", attr(0x94), '\x95', attr(0x94)},
      {"pair where a scalar belongs", attr(0x96) + 1, '\xC1', attr(0x96)},
      {"unknown type byte", attr(0x98) + 1, '\xB7', attr(0x98) + 1},
      {"constant attribute changed", attr(0x93) + 2, 2, attr(0x93)},
      {"duplex side beyond 2", attr(0x98) + 2, 3, attr(0x98)},
      {"unknown payload kind", attr(0x9C) + 2, 9, attr(0x9C)},
      {"ImageData's first attribute", image + 3, 1, image + 1},
      {"image height against the line block", attr(0x9A) + 6, 5, attr(0xA2)},
      {"EndImage replaced", endImage, 'D', endImage},
      {"EndJob replaced", sound.size() - 19, 'X', sound.size() - 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string job = sound;
    ASSERT_LT(c.at, job.size());
    job[c.at] = c.value;
    EXPECT_FALSE(InspectAll(job, &fault));
    EXPECT_EQ(fault.offset, c.expect) << fault.message;
  }
  // Bytes after "@PJL EOJ\n" are named where they start.
  EXPECT_FALSE(InspectAll(sound + "x", &fault));
  EXPECT_EQ(fault.offset, sound.size());
}

TEST(InspectorFaults, LyingSizesAreRefusedWithoutTheWorkTheyAskFor) {
  const std::string sound = SmallRawJob();
  JobInfo info;
  Fault fault;
  ASSERT_TRUE(ztinspect::InspectJob(sound, &info, &fault));
  const hbpljob::Page& page = info.job.pages[0];
  auto put32 = [](std::string* s, size_t at, uint32_t v) { std::memcpy(&(*s)[at], &v, 4); };

  // An array length beyond the end of the job.
  std::string job = sound;
  put32(&job, page.images[0].offset + 7, 0xFFFFFFF0u);
  EXPECT_FALSE(InspectAll(job, &fault));

  // A raw image whose geometry disagrees with its data.
  job = sound;
  put32(&job, page.Get(0x9A).offset + 2, 9);
  put32(&job, page.Get(0xA2).offset + 2, 9);
  EXPECT_FALSE(InspectAll(job, &fault));
  EXPECT_EQ(fault.offset, page.images[0].offset);

  // A page far beyond the render limits: refused before anything is allocated.
  const ztinspect::RenderLimits small{64, 1000};
  EXPECT_FALSE(InspectAll(sound, &fault, ztinspect::RenderLimits{4, 1000}));
  EXPECT_NE(fault.message.find("beyond"), std::string::npos) << fault.message;
  EXPECT_TRUE(InspectAll(sound, &fault, small)) << fault.message;
}

#ifdef ZT_HAVE_MIVO5
TEST(InspectorFaults, BrokenCodeStreamsAreRefused) {
  const int w = 40, h = 12;
  const ZTRasterHeader hdr = MakeHeader(w, h, 32, ZT_CS_CMYK);
  const std::string sound = MakeJob(PageBytes(hdr, MixedPixels(w, h, 4, 7)), true);
  JobInfo info;
  Fault fault;
  ASSERT_TRUE(ztinspect::InspectJob(sound, &info, &fault)) << fault.message;
  const ztinspect::PageInfo& p = info.pages[0];
  ASSERT_EQ(p.coding, ztinspect::Coding::kMivo);
  auto put32 = [](std::string* s, size_t at, uint32_t v) { std::memcpy(&(*s)[at], &v, 4); };
  const size_t lengths = p.dataOffset + 32;

  // Stream lengths that add up to more than the image data.
  std::string job = sound;
  put32(&job, lengths, static_cast<uint32_t>(p.dataLength));
  EXPECT_FALSE(InspectAll(job, &fault));
  EXPECT_TRUE(fault.offset == lengths || fault.offset == info.job.pages[0].images[0].offset) << fault.offset << ": " << fault.message;

  // A main stream cut short: the remainder moves into the last stream and
  // the image no longer decodes (or leaves bytes over).
  job = sound;
  put32(&job, lengths, static_cast<uint32_t>(p.streams[0].length / 2));
  EXPECT_FALSE(InspectAll(job, &fault));

  // Bytes after the end of the image in the last stream (the array grows
  // by four bytes, which the last stream takes).
  job = sound;
  const size_t record = info.job.pages[0].images[0].offset;
  put32(&job, record + 7, static_cast<uint32_t>(p.dataLength + 4));
  job.insert(p.dataOffset + p.dataLength, "\x11\x22\x33\x44", 4);
  EXPECT_FALSE(InspectAll(job, &fault));
  EXPECT_NE(fault.message.find("after the end of the image"), std::string::npos) << fault.message;
  EXPECT_EQ(fault.offset, p.dataOffset + p.dataLength);

  // A main stream of garbage.
  job = sound;
  for (size_t i = 0; i < p.streams[0].length; ++i) job[p.streams[0].offset + i] = '\xFF';
  EXPECT_FALSE(InspectAll(job, &fault));
  EXPECT_GE(fault.offset, p.streams[0].offset);
  EXPECT_LE(fault.offset, p.streams[0].offset + p.streams[0].length);

  // Every truncation of the job is refused.
  for (size_t n = p.dataOffset; n < sound.size(); n += 3) {
    ASSERT_FALSE(InspectAll(sound.substr(0, n), &fault)) << n;
  }
}
#endif

TEST(InspectorProgram, ExitStatusSummaryAndPngFiles) {
  TempFile job(SmallRawJob(), ".bin");
  TempDir out;
  FilterResult r = RunFilter({ProgramPath("ztjobview"), "-o", out.path() + "/pages", job.path()}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\npages: 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pjl: @PJL ENTER LANGUAGE=HBPL\n"), std::string::npos);
  EXPECT_NE(r.out.find("page 2: "), std::string::npos);
  uint32_t w = 0, h = 0;
  EXPECT_FALSE(ReadPng(out.path() + "/pages/page-2.png", &w, &h).empty());
  EXPECT_EQ(w, 8u);
  EXPECT_EQ(h, 4u);

  const std::string text = job.Read();
  TempFile cut(text.substr(0, text.size() - 30), ".bin");
  r = RunFilter({ProgramPath("ztjobview"), cut.path()}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("ERROR: offset ", 0), 0u) << r.err;

  r = RunFilter({ProgramPath("ztjobview"), out.path() + "/missing.bin"}, "");
  EXPECT_EQ(r.status, 2);
  r = RunFilter({ProgramPath("ztjobview"), "-o", job.path() + "/sub", job.path()}, "");
  EXPECT_EQ(r.status, 2) << r.err;
}

}  // namespace
