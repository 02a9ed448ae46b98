// Lossless round trips: images built to exercise each mechanism of the line
// model are encoded and decoded again, and must come back byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "mivotestutil.h"

using mivotest::Decode;
using mivotest::Encode;
using mivotest::LineMarker;
using mivotest::MakeImage;
using mivotest::Pattern;
using mivotest::Streams;

namespace {

struct Config {
  const char* name;
  int image_bit;
  int tag_bits;
  int tag_position;
  int tag_method;
  int error_method;
  int error_table;
  int run_table;
  int marker_table;
  bool multi;
  int differ[5];
  int selected;
  int max_run;
  int initial;
  int width;
  int height;
};

const Config kConfigs[] = {
    // name           bit tag pos tm em et rt mt multi differ                      sel maxrun init  w   h
    {"FilterColour",  32, 0, 0, 2, 1, 1, 1, 5, true, {1, 129, 128, 130, 131},     0, 0,    255, 45, 21},
    {"FilterMono",     8, 0, 0, 2, 1, 1, 1, 5, true, {1, 129, 128, 130, 8},       0, 0,    0,   61, 19},
    {"GreyXorT2",      8, 0, 0, 2, 2, 2, 1, 6, false, {1, 129, 128, 130, 131},    2, 0,    7,   33, 17},
    {"RgbRawT3",      24, 0, 0, 2, 3, 3, 2, 6, false, {129, 1, 2, 3, 130},        1, 0,    255, 29, 15},
    {"Two16T4",       16, 0, 0, 2, 1, 4, 1, 6, true, {1, 129, 128, 130, 131},     4, 0,    0,   27, 13},
    {"Bit1",           1, 0, 0, 2, 2, 3, 1, 6, false, {1, 129, 128, 130, 5},      0, 0,    0,   100, 20},
    {"Bit4Tag2",       4, 2, 0, 2, 1, 2, 2, 6, false, {1, 129, 128, 130, 131},    1, 0,    0,   30, 12},
    {"CmykTag3First", 32, 3, 1, 1, 1, 1, 1, 6, true, {1, 129, 128, 130, 131},     0, 0,    255, 23, 14},
    {"RgbTag1Raw",    24, 1, 0, 3, 2, 1, 2, 6, true, {1, 129, 128, 130, 131},     0, 0,    128, 19, 11},
    {"RucList",        8, 0, 0, 2, 1, 1, 1, 6, false, {240, 129, 2, 241, 255},    1, 0,    9,   41, 16},
    {"RucCmyk",       32, 0, 0, 2, 1, 2, 1, 6, true, {1, 240, 129, 32, 131},      2, 0,    0,   37, 12},
    {"ShortRuns",     32, 0, 0, 2, 1, 1, 2, 6, true, {1, 129, 128, 130, 131},     0, 3,    255, 40, 12},
    {"ConstPredict",   8, 0, 0, 2, 1, 1, 1, 6, false, {241, 1, 129, 255, 255},    0, 0,    200, 25, 9},
    {"OneColumn",     32, 0, 0, 2, 1, 1, 1, 5, true, {1, 129, 128, 130, 131},     0, 0,    255, 1, 30},
};

mivo::Info MakeInfo(const Config& c) {
  mivo::Info info;
  info.width = c.width;
  info.height = c.height;
  info.image_bit = c.image_bit;
  info.tag_bits = c.tag_bits;
  info.tag_position = c.tag_position;
  info.tag_method = c.tag_method;
  info.error_method = c.error_method;
  info.error_table = c.error_table;
  info.run_table = c.run_table;
  info.marker_table = c.marker_table;
  info.multi_stream = c.multi;
  for (int i = 0; i < 5; ++i) info.differ[i] = c.differ[i];
  info.selected_differ = c.selected;
  info.max_run = c.max_run;
  info.initial_component = static_cast<uint8_t>(c.initial);
  info.initial_tag = static_cast<uint8_t>(c.tag_bits ? 1 : 0);
  return info;
}

// Bytes per line and components in the caller's layout.
void Layout(const mivo::Info& info, size_t* bpl, int* comps) {
  mivo::Info n = info;
  n.normalize_mivo_info();
  *bpl = n.bytes_per_line;
  *comps = n.components;
}

// Tag bytes only carry their tag bits: mask them as the codec does.
std::string MaskTags(std::string img, const mivo::Info& info) {
  if (!info.tag_bits) return img;
  size_t bpl;
  int comps;
  Layout(info, &bpl, &comps);
  size_t tagAt = info.tag_position == 1 ? 0 : static_cast<size_t>(comps - 1);
  for (size_t i = tagAt; i < img.size(); i += static_cast<size_t>(comps))
    img[i] = static_cast<char>(img[i] & ((1 << info.tag_bits) - 1));
  return img;
}

class MivoRoundTrip : public ::testing::TestWithParam<std::tuple<Config, Pattern>> {};

TEST_P(MivoRoundTrip, DecodesToTheInput) {
  const auto& [config, pattern] = GetParam();
  mivo::Info info = MakeInfo(config);
  size_t bpl;
  int comps;
  Layout(info, &bpl, &comps);
  std::string image = MaskTags(MakeImage(pattern, bpl, info.height, comps, 1234u + config.width), info);
  Streams s = Encode(info, image);
  EXPECT_EQ(Decode(info, s, info.height), image);
  // The same streams handed over one byte per call.
  EXPECT_EQ(Decode(info, s, info.height, 1), image);
}

INSTANTIATE_TEST_SUITE_P(
    Images, MivoRoundTrip,
    ::testing::Combine(::testing::ValuesIn(kConfigs),
                       ::testing::Values(Pattern::kNoise, Pattern::kText, Pattern::kFlat, Pattern::kGradient,
                                         Pattern::kRepeat, Pattern::kStripes, Pattern::kTwoColours,
                                         Pattern::kWhite)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + mivotest::PatternName(std::get<1>(info.param));
    });

}  // namespace

// Images whose streams fill many of the codec's stream blocks (32 KiB out,
// 16 KiB in), so that the coding loops meet full blocks mid-line, also
// between raw lines written byte by byte; decoded whole and in pieces that
// end anywhere.
TEST(MivoRoundTripLarge, StreamsSpanningManyBlocksDecodeToTheInput) {
  struct Case {
    const char* name;
    int image_bit;
    bool multi;
    int marker_table;
  };
  const Case cases[] = {{"colour", 32, true, 5}, {"grey", 8, true, 5}, {"oneStreamRawLines", 32, false, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mivo::Info info;
    info.width = 517;
    info.height = 90;
    info.image_bit = c.image_bit;
    info.multi_stream = c.multi;
    info.marker_table = c.marker_table;
    info.initial_component = 255;
    size_t bpl;
    int comps;
    Layout(info, &bpl, &comps);
    std::string image = MakeImage(Pattern::kNoise, bpl, info.height, comps, 99);
    auto plan = [&c](int y) {
      return LineMarker{c.marker_table == 6 && y % 7 == 3 ? mivo::MARKER_RAW : mivo::MARKER_NONE, 0};
    };
    Streams s = Encode(info, image, plan);
    size_t longest = 0;
    for (const std::string& stream : s.s) longest = std::max(longest, stream.size());
    EXPECT_GT(longest, mivo::OutCodeBuffer::kCapacity);
    for (size_t chunk : {size_t{1} << 20, size_t{4093}, size_t{7}}) EXPECT_EQ(Decode(info, s, info.height, chunk), image);
  }
}
