// Markers and long runs: raw lines, CPY, FIL, EOB bands, text, run breaks,
// runs longer than the maximum and runs spanning many lines.
#include <gtest/gtest.h>

#include <string>

#include "mivotestutil.h"

using mivotest::Decode;
using mivotest::Encode;
using mivotest::LineMarker;
using mivotest::MakeImage;
using mivotest::Pattern;
using mivotest::Streams;

namespace {

mivo::Info CmykInfo(int width, int height) {
  mivo::Info info;
  info.width = width;
  info.height = height;
  info.image_bit = 32;
  info.multi_stream = true;
  info.initial_component = 255;
  return info;
}

// Lines y of an image of `bpl` bytes per line.
std::string Line(const std::string& img, size_t bpl, int y) { return img.substr(static_cast<size_t>(y) * bpl, bpl); }

TEST(MivoMarkers, RawCpyFilEobAndRunBreakLinesRoundTrip) {
  const int w = 33, h = 40;
  const size_t bpl = static_cast<size_t>(w) * 4;
  std::string full = MakeImage(Pattern::kTwoColours, bpl, h, 4, 7);
  // Marker per line; the line after CPY repeats its line, the one after FIL
  // is filled, so those lines are not part of the encoder's input.
  auto plan = [](int y) -> LineMarker {
    switch (y % 10) {
      case 1: return {mivo::MARKER_RAW, 0};
      case 3: return {mivo::MARKER_CPY, 0};
      case 5: return {mivo::MARKER_FIL, 0x5a};
      case 7: return {mivo::MARKER_EOB, 0};
      case 8: return {mivo::MARKER_RUN_BREAK, 0};
      default: return {};
    }
  };
  std::string input, expected;
  for (int y = 0; y < h; ++y) {
    LineMarker m = plan(y);
    input += Line(full, bpl, y);
    expected += Line(full, bpl, y);
    if (m.marker == mivo::MARKER_CPY) {
      expected += Line(full, bpl, y);
      ++y;
    } else if (m.marker == mivo::MARKER_FIL) {
      expected += std::string(bpl, '\x5a');
      ++y;
    }
  }
  mivo::Info info = CmykInfo(w, h);
  Streams s = Encode(info, input, plan);
  EXPECT_EQ(Decode(info, s, h), expected);
  EXPECT_EQ(Decode(info, s, h, 1), expected);
}

TEST(MivoMarkers, TextReachesTheDecoderBetweenLines) {
  const int w = 20, h = 9;
  std::string img = MakeImage(Pattern::kText, w * 4, h, 4, 3);
  mivo::Info info = CmykInfo(w, h);
  auto text = [](int y) { return y % 4 == 2 ? "page " + std::to_string(y) : std::string(); };
  Streams s = Encode(info, img, nullptr, text);
  std::vector<std::string> texts;
  EXPECT_EQ(Decode(info, s, h, 3, &texts), img);
  EXPECT_EQ(texts, (std::vector<std::string>{"page 2", "page 6"}));
}

TEST(MivoMarkers, BandsEndedByTerminateWithEobGoOn) {
  const int w = 16, h = 12;
  std::string img = MakeImage(Pattern::kGradient, w, h, 1, 5);
  mivo::Info info;
  info.width = w;
  info.height = h;
  info.image_bit = 8;
  std::string out;
  info.callback_out = [](void* ctx, const unsigned char* b, size_t n) {
    static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(b), n);
    return n;
  };
  info.out_context[0] = &out;
  size_t pos = 0;
  std::pair<const std::string*, size_t*> src{&img, &pos};
  info.callback_in = [](void* ctx, unsigned char* b, size_t n) {
    auto* s = static_cast<std::pair<const std::string*, size_t*>*>(ctx);
    s->first->copy(reinterpret_cast<char*>(b), n, *s->second);
    *s->second += n;
    return n;
  };
  info.in_context[0] = &src;
  mivo::CoreEnc enc(info);
  std::vector<size_t> bandEnds;
  for (int y = 0; y < h; ++y) {
    enc.encode_line();
    if (y % 4 == 3 && y + 1 < h) {
      enc.terminate(mivo::MARKER_EOB);
      bandEnds.push_back(out.size());
    }
  }
  enc.terminate(mivo::MARKER_EOI);
  // Each band was flushed whole when it ended.
  ASSERT_EQ(bandEnds.size(), 2u);
  EXPECT_LT(bandEnds[0], bandEnds[1]);
  EXPECT_LT(bandEnds[1], out.size());
  Streams s;
  s.s[0] = out;
  EXPECT_EQ(Decode(info, s, h), img);
}

struct LongRunCase {
  int run_table;
  int max_run;
  int width;
  int height;
};

class MivoLongRuns : public ::testing::TestWithParam<LongRunCase> {};

// One noise pixel, then a constant colour for the rest of the image: runs
// go on across lines and are split at the maximum run.
TEST_P(MivoLongRuns, SplitAndSpanningRunsRoundTrip) {
  const LongRunCase c = GetParam();
  mivo::Info info;
  info.width = c.width;
  info.height = c.height;
  info.image_bit = 8;
  info.run_table = c.run_table;
  info.max_run = c.max_run;
  std::string img(static_cast<size_t>(c.width) * c.height, '\x33');
  img[0] = '\x01';
  img[img.size() / 2] = '\x02';
  Streams s = Encode(info, img);
  EXPECT_EQ(Decode(info, s, c.height), img);
  // Each run of the maximum length costs at most four bytes.
  const int limit = c.run_table == 1 ? 17057 : 1040;
  const size_t maxRun = static_cast<size_t>(c.max_run == 0 || c.max_run > limit ? limit : c.max_run);
  EXPECT_LE(s.total(), 16 + 4 * (img.size() / maxRun + 4));
}

INSTANTIATE_TEST_SUITE_P(Tables, MivoLongRuns,
                         ::testing::Values(LongRunCase{1, 0, 1000, 60}, LongRunCase{2, 0, 1000, 60},
                                           LongRunCase{1, 17057, 17057, 3}, LongRunCase{2, 1040, 1040, 5},
                                           LongRunCase{2, 7, 50, 10}, LongRunCase{1, 1, 9, 4},
                                           LongRunCase{1, 40000, 300, 200}));

TEST(MivoMarkers, WhiteImageLeavesEveryStreamEmptyAndDecodes) {
  // Every line continues the run started at the first pixel: nothing is
  // ever written, and the decoder takes the empty streams as initial pixels.
  mivo::Info info;
  info.width = 40;
  info.height = 30;
  info.image_bit = 8;
  info.multi_stream = true;
  std::string img(40 * 30, '\0');
  Streams s = Encode(info, img);
  EXPECT_EQ(s.total(), 0u);
  EXPECT_EQ(Decode(info, s, 30), img);
}

TEST(MivoMarkers, RucRunOverTheWholeImageIsWrittenOut) {
  // An RUC run of colour 0 over an image whose initial pixel is 9 would be
  // lost in empty streams; the encoder writes it.
  mivo::Info info;
  info.width = 10;
  info.height = 3;
  info.image_bit = 8;
  info.initial_component = 9;
  int differ[5] = {240, 129, 255, 255, 255};
  std::copy(differ, differ + 5, info.differ);
  std::string img(30, '\0');
  Streams s = Encode(info, img);
  EXPECT_GT(s.total(), 0u);
  EXPECT_EQ(Decode(info, s, 3), img);
}

TEST(MivoMarkers, MarkersTheMarkerTableCannotCodeAreRefusedBeforeWriting) {
  mivo::Info info = CmykInfo(8, 4);
  info.marker_table = mivo::MARKER_TABLE_5;
  std::string img(8 * 4 * 4, '\x10');
  for (int m : {mivo::MARKER_RAW, mivo::MARKER_CPY, mivo::MARKER_FIL, mivo::MARKER_EOB}) {
    try {
      Encode(info, img, [m](int) { return LineMarker{m, 0}; });
      ADD_FAILURE() << "marker " << m << " accepted";
    } catch (const mivo::Exception& e) {
      EXPECT_EQ(e.number(), 47) << e.what();
    }
  }
  try {
    Encode(info, img, nullptr, [](int) { return std::string("x"); });
    ADD_FAILURE() << "text accepted";
  } catch (const mivo::Exception& e) {
    EXPECT_EQ(e.number(), 48) << e.what();
  }
  try {
    Encode(info, img, nullptr, nullptr, mivo::MARKER_EOB);
    ADD_FAILURE() << "EOB accepted";
  } catch (const mivo::Exception& e) {
    EXPECT_EQ(e.number(), 49) << e.what();
  }
}

}  // namespace
