// The chain with compression as CUPS drives it: CUPS raster into
// ztmainfilter, which runs the intake, a CMYK conversion, ztmivo5 and
// ztrastertohbpl. The printer job is parsed record by record, and every
// page's code streams, decoded with the codec, must give back the CMYK
// pixels that went into the compression, with the lead pixels and the
// padding of the coded line where they belong.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hbpljob.h"
#include "mivoexception.h"
#include "mivotestutil.h"
#include "chainjob.h"
#include "runfilter.h"

namespace {

// The conversion the chain's test filter applies (under-colour removal).
void RgbToCmyk(const unsigned char* rgb, unsigned char* cmyk) {
  const unsigned char c = 255 - rgb[0], m = 255 - rgb[1], y = 255 - rgb[2];
  const unsigned char k = std::min({c, m, y});
  cmyk[0] = c - k;
  cmyk[1] = m - k;
  cmyk[2] = y - k;
  cmyk[3] = k;
}

// An RGB page in four bands: flat colour blocks, noise, a noisy gradient
// and black marks on white.
std::string MixedPage(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  const unsigned char palette[6][3] = {{255, 255, 255}, {0, 0, 0}, {200, 30, 30}, {20, 160, 60}, {90, 90, 90},
                                       {250, 240, 10}};
  std::string page(static_cast<size_t>(width) * height * 3, '\0');
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* px = reinterpret_cast<unsigned char*>(&page[(static_cast<size_t>(y) * width + x) * 3]);
      const int band = 4 * y / height;
      if (band == 0) {
        std::memcpy(px, palette[(x / 13 + y / 7) % 6], 3);
      } else if (band == 1) {
        for (int c = 0; c < 3; ++c) px[c] = static_cast<unsigned char>(rng());
      } else if (band == 2) {
        const int noise = static_cast<int>(rng() % 5) - 2;
        px[0] = static_cast<unsigned char>(std::clamp((3 * x + y) % 256 + noise, 0, 255));
        px[1] = static_cast<unsigned char>(std::clamp((x + 2 * y) % 256 - noise, 0, 255));
        px[2] = static_cast<unsigned char>(std::clamp((2 * x) % 256 + noise, 0, 255));
      } else {
        const bool mark = rng() % 7 == 0 || y % 11 == 0;
        std::memset(px, mark ? 0 : 255, 3);
      }
    }
  }
  return page;
}

// The coded lines the codec must give back for one RGB page: per line the
// lead pixels (first all 255, then seven of 0) when asked for, the CMYK
// pixels (only K on a monochrome page), then 0 up to the coded width.
std::string ExpectedLines(const std::string& rgb, int width, int height, int codedWidth, bool colour, bool lead) {
  const size_t comps = colour ? 4 : 1;
  std::string out(static_cast<size_t>(codedWidth) * comps * height, '\0');
  for (int y = 0; y < height; ++y) {
    unsigned char* line = reinterpret_cast<unsigned char*>(&out[static_cast<size_t>(y) * codedWidth * comps]);
    if (lead) std::memset(line, 255, comps);
    unsigned char* px = line + (lead ? 8 * comps : 0);
    for (int x = 0; x < width; ++x, px += comps) {
      unsigned char cmyk[4];
      RgbToCmyk(reinterpret_cast<const unsigned char*>(&rgb[(static_cast<size_t>(y) * width + x) * 3]), cmyk);
      if (colour) {
        std::memcpy(px, cmyk, 4);
      } else {
        *px = cmyk[3];
      }
    }
  }
  return out;
}

// The decoder's parameter set for a page the compression filter coded.
mivo::Info CodedPageInfo(int codedWidth, int height, bool colour) {
  mivo::Info info;
  info.run_table = mivo::RUN_TABLE_1;
  info.error_table = 1;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.multi_stream = true;
  info.ihdr_level = mivo::IHDR_LEVEL_MAX;
  info.width = codedWidth;
  info.height = height;
  info.image_bit = colour ? 32 : 8;
  info.initial_component = colour ? 255 : 0;
  const int differ[mivo::DIFFER_COUNT] = {1, 129, 128, 130, colour ? 131 : 8};
  std::copy(differ, differ + mivo::DIFFER_COUNT, info.differ);
  return info;
}

// The code streams of one page by sink number, from the printer job's
// image record: colour S0 S4 S1 S2 with their lengths, then S3 to the end;
// monochrome S0 S1 and two zero lengths.
mivotest::Streams PageStreams(const hbpljob::MivoChunk& chunk, bool colour) {
  mivotest::Streams s;
  std::string_view rest = chunk.streams;
  const int order[4] = {0, 4, 1, 2};
  for (int i = 0; i < (colour ? 4 : 2); ++i) {
    const int sink = colour ? order[i] : i;
    s.s[sink] = std::string(rest.substr(0, chunk.lengths[i]));
    rest.remove_prefix(chunk.lengths[i]);
  }
  if (colour) {
    s.s[3] = std::string(rest);
  } else {
    EXPECT_EQ(chunk.lengths[2], 0u);
    EXPECT_EQ(chunk.lengths[3], 0u);
    EXPECT_TRUE(rest.empty()) << rest.size() << " bytes after the monochrome streams";
  }
  return s;
}

struct ChainCase {
  bool colour;
  bool lead;
  int width;
  int height;
};

std::string CaseName(const ::testing::TestParamInfo<ChainCase>& info) {
  const ChainCase& c = info.param;
  return std::string(c.colour ? "Colour" : "Mono") + (c.lead ? "Lead" : "NoLead") + "W" + std::to_string(c.width) +
         "H" + std::to_string(c.height);
}

void PrintTo(const ChainCase& c, std::ostream* os) {
  *os << (c.colour ? "colour" : "monochrome") << (c.lead ? " with" : " without") << " lead pixels, " << c.width
      << " x " << c.height;
}

class MivoChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(MivoChain, PrinterJobPagesDecodeToTheConvertedInput) {
  const ChainCase c = GetParam();
  // A mixed page, an all-white page (its monochrome form codes to empty
  // streams without lead pixels) and a second mixed page.
  const std::vector<std::string> pages = {MixedPage(c.width, c.height, 7),
                                          std::string(static_cast<size_t>(c.width) * c.height * 3, '\xff'),
                                          MixedPage(c.width, c.height, 8)};

  TempFile ppdFile(ChainPPDText("cupstoztraster,ztt_rgbtocmyk,ztmivo5,ztrastertohbpl") +
                       (c.lead ? "*QKNeedLPHMarker: \"True\"\n" : ""),
                   ".ppd");

  RunOptions opts;
  opts.ppd = ppdFile.path();
  const FilterResult r = RunFilter(FilterArgv("ztmainfilter", c.colour ? "" : "QKColorMode=Black"),
                                   RgbCupsRaster(pages, c.width, c.height), opts);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("ERROR:"), std::string::npos) << r.err;

  hbpljob::Job job;
  hbpljob::Error error;
  ASSERT_TRUE(hbpljob::ParseJob(r.out, &job, &error)) << error.message << " at " << error.offset;
  EXPECT_EQ(job.jobAttributes.at(1).first, c.lead ? 7u : 6u) << "BeginJob announces the coding";
  ASSERT_EQ(job.pages.size(), pages.size());

  const int codedWidth = c.width / 8 * 8 + 8 + (c.lead ? 8 : 0);
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const hbpljob::Page& page = job.pages[p];
    EXPECT_EQ(page.Get(0x9A).first, static_cast<uint32_t>(c.width + (c.lead ? 8 : 0)));
    EXPECT_EQ(page.Get(0x9A).second, static_cast<uint32_t>(c.height));
    EXPECT_EQ(page.Get(0x9D).first, c.colour ? 139u : 9u);
    ASSERT_EQ(page.Get(0xA2).first, static_cast<uint32_t>(codedWidth));
    ASSERT_EQ(page.images.size(), 1u);
    ASSERT_TRUE(page.images[0].mivo);

    const mivotest::Streams streams = PageStreams(page.images[0].chunk, c.colour);
    // A white monochrome page without lead pixels is one run from the first
    // pixel; while that run stays below the longest codable run, nothing is
    // emitted and every stream is empty.
    if (p == 1 && !c.colour && !c.lead && codedWidth * c.height < mivo::RUN_TABLE_1_MAX) {
      EXPECT_EQ(streams.total(), 0u) << "a white page emits no symbol";
    }
    std::string decoded;
    try {
      decoded = mivotest::Decode(CodedPageInfo(codedWidth, c.height, c.colour), streams, c.height);
    } catch (const mivo::Exception& e) {
      FAIL() << "decoder: " << e.what();
    }
    const std::string want = ExpectedLines(pages[p], c.width, c.height, codedWidth, c.colour, c.lead);
    ASSERT_EQ(decoded.size(), want.size());
    const auto diff = std::mismatch(decoded.begin(), decoded.end(), want.begin());
    EXPECT_TRUE(diff.first == decoded.end())
        << "first difference at coded byte " << (diff.first - decoded.begin()) << " of " << want.size();
  }
}

INSTANTIATE_TEST_SUITE_P(MivoChainJobs, MivoChain,
                         ::testing::Values(ChainCase{true, false, 61, 40}, ChainCase{true, true, 61, 40},
                                           ChainCase{false, false, 61, 40}, ChainCase{false, true, 61, 40},
                                           ChainCase{true, false, 64, 24}, ChainCase{false, true, 64, 24},
                                           ChainCase{true, true, 1203, 160}, ChainCase{false, false, 1203, 160}),
                         CaseName);

}  // namespace
