// The format itself: exact bits of small images, parameter checking, and the
// decoder's answer to streams that are broken, cut short or hostile.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

#include "mivotestutil.h"

using mivotest::Decode;
using mivotest::Encode;
using mivotest::Extra;
using mivotest::MakeImage;
using mivotest::PackBits;
using mivotest::Pattern;
using mivotest::Streams;

namespace {

// Codewords of the tables these tests use.
const std::string kModeErrorA = "10";   // line mode 5, table A
const std::string kModeRunA = "0";      // line mode 0, table A
const std::string kModeMarker = "11111";
const std::string kMarker5Eoi = "111";  // marker table 5
const std::string kMarker5Toggle = "0";
std::string Marker6(int m) { return m < 3 ? "100" + Extra(static_cast<unsigned>(m), 4) : "101" + Extra(static_cast<unsigned>(m - 3), 4); }
// Error table 1: 0, 1, -1, then signed rows.
std::string Error1(int v) {
  if (v == 0) return "000";
  if (v == 1) return "001";
  if (v == -1) return "010";
  std::string s = v < 0 ? "1" : "0";
  int a = std::abs(v);
  if (a <= 3) return "011" + s + Extra(a - 2, 1);
  if (a <= 7) return "100" + s + Extra(a - 4, 2);
  if (a <= 15) return "101" + s + Extra(a - 8, 3);
  if (a <= 47) return "110" + s + Extra(a - 16, 5);
  if (a <= 79) return "1110" + s + Extra(a - 48, 5);
  return "1111" + s + Extra(a - 80, 6);
}

mivo::Info GreyInfo(int width, int height) {
  mivo::Info info;
  info.width = width;
  info.height = height;
  info.image_bit = 8;
  info.marker_table = mivo::MARKER_TABLE_5;
  return info;
}

TEST(MivoKnownAnswer, RunOfTheMaximumLengthWithRunTable1) {
  // One error-coded pixel (5 against the initial 0), then a left-value run
  // of 17057 pixels that stays pending until the EOI.
  mivo::Info info = GreyInfo(17058, 1);
  Streams s = Encode(info, std::string(17058, '\x05'));
  std::string bits = kModeErrorA + Error1(5) + kModeRunA + "111111" + Extra(17057 - 674, 14) + kModeMarker + kMarker5Eoi;
  EXPECT_EQ(Extra(17057 - 674, 14), "11111111111111");
  EXPECT_EQ(s.s[0], PackBits(bits));
}

TEST(MivoKnownAnswer, EoiWithMarkerTable5IsOneByteOfOnes) {
  mivo::Info info = GreyInfo(1, 1);
  Streams s = Encode(info, std::string(1, '\x05'));
  EXPECT_EQ(s.s[0], std::string("\xa1\xff", 2));
  EXPECT_EQ(s.s[0], PackBits(kModeErrorA + Error1(5) + kModeMarker + kMarker5Eoi));
}

TEST(MivoKnownAnswer, ErrorsOfEachComponentGoToTheirOwnStream) {
  mivo::Info info = GreyInfo(1, 1);
  info.image_bit = 32;
  info.multi_stream = true;
  Streams s = Encode(info, std::string("\x01\x02\x03\xff", 4));
  EXPECT_EQ(s.s[0], PackBits(kModeErrorA + kModeMarker + kMarker5Eoi));
  EXPECT_EQ(s.s[1], PackBits(Error1(1)));
  EXPECT_EQ(s.s[2], PackBits(Error1(2)));
  EXPECT_EQ(s.s[3], PackBits(Error1(3)));
  EXPECT_EQ(s.s[4], PackBits(Error1(-1)));
}

TEST(MivoKnownAnswer, ImageOfZeroLinesGivesEmptyStreams) {
  mivo::Info info = GreyInfo(100, 0);
  info.multi_stream = true;
  Streams s = Encode(info, "");
  EXPECT_EQ(s.total(), 0u);
  EXPECT_EQ(Decode(info, s, 0), "");
}

TEST(MivoKnownAnswer, LineModeTableTogglesAtTheEndOfALine) {
  mivo::Info info = GreyInfo(1, 1);
  info.normalize_mivo_info();
  std::string out;
  info.callback_out = [](void* ctx, const unsigned char* b, size_t n) {
    static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(b), n);
    return n;
  };
  info.out_context[0] = &out;
  mivo::HuffmanEnc h(info);
  h.toggle_count = -9;  // nine error-coded pixels: table B is shorter
  h.end_of_line_toggle();
  h.put_line_mode(mivo::LINE_MODE_ERROR);  // "0" in table B
  h.toggle_count = 8;   // not enough to switch back
  h.end_of_line_toggle();
  h.put_line_mode(0);   // "10" in table B
  h.toggle_count = 9;
  h.end_of_line_toggle();
  h.put_line_mode(0);   // "0" in table A again
  h.flush_all();
  EXPECT_EQ(out, PackBits(kModeMarker + kMarker5Toggle + "0" + "10" + kModeMarker + kMarker5Toggle + "0"));
}

TEST(MivoKnownAnswer, ErrorOf128DecodesLikeMinus128) {
  // Error table 1 codes -128 in its last row; a stream holding +128 there
  // rebuilds the same byte.
  mivo::Info info = GreyInfo(1, 1);
  Streams minus = Encode(info, std::string(1, '\x80'));
  EXPECT_EQ(minus.s[0], PackBits(kModeErrorA + Error1(-128) + kModeMarker + kMarker5Eoi));
  Streams plus;
  plus.s[0] = PackBits(kModeErrorA + Error1(128) + kModeMarker + kMarker5Eoi);
  EXPECT_EQ(Decode(info, plus, 1), std::string(1, '\x80'));
}

// ---- Parameter checks ------------------------------------------------------

struct BadParameter {
  const char* name;
  void (*change)(mivo::Info&);
  int number;
};

const BadParameter kBadParameters[] = {
    {"ImageBit3", [](mivo::Info& i) { i.image_bit = 3; }, 111},
    {"ImageBitUnset", [](mivo::Info& i) { i.image_bit = 0; }, 111},
    {"TagBits4", [](mivo::Info& i) { i.tag_bits = 4; }, 111},
    {"TagPosition2", [](mivo::Info& i) { i.tag_position = 2; }, 111},
    {"Level196", [](mivo::Info& i) { i.ihdr_level = 196; }, 111},
    {"NegativeWidth", [](mivo::Info& i) { i.width = -1; }, 111},
    {"Differ33", [](mivo::Info& i) { i.differ[2] = 33; }, 112},
    {"Differ132", [](mivo::Info& i) { i.differ[1] = 132; }, 112},
    {"Differ242", [](mivo::Info& i) { i.differ[4] = 242; }, 112},
    {"NegativeMaxRun", [](mivo::Info& i) { i.max_run = -1; }, 112},
    {"SelectedPastList", [](mivo::Info& i) { i.differ[2] = 255; i.selected_differ = 2; }, 112},
    {"ErrorMethod4", [](mivo::Info& i) { i.error_method = 4; }, 112},
    {"TagMethod0", [](mivo::Info& i) { i.tag_method = 0; }, 112},
    {"RunTable3", [](mivo::Info& i) { i.run_table = 3; }, 112},
    {"ErrorTable5", [](mivo::Info& i) { i.error_table = 5; }, 112},
    {"MarkerTable4", [](mivo::Info& i) { i.marker_table = 4; }, 112},
    {"HSampling3", [](mivo::Info& i) { i.h_sampling = 3; }, 113},
    {"ChromaWithoutTransform", [](mivo::Info& i) { i.chroma_mode = 1; }, 113},
    {"TransformWithoutChroma", [](mivo::Info& i) { i.image_bit = 24; i.color_transform = 1; }, 113},
    {"SamplingBelow8Bits", [](mivo::Info& i) { i.image_bit = 4; i.v_sampling = 2; }, 113},
    {"TransformOn32Bits", [](mivo::Info& i) { i.color_transform = 1; i.chroma_mode = 1; }, 113},
};

class MivoBadParameter : public ::testing::TestWithParam<BadParameter> {};

TEST_P(MivoBadParameter, IsRefusedWithItsGroup) {
  mivo::Info info = GreyInfo(10, 10);
  info.image_bit = 32;
  GetParam().change(info);
  static const char* kGroup[] = {"IHDR", "APRM", "BPRM"};
  try {
    mivo::CoreEnc enc(info);
    FAIL() << "accepted";
  } catch (const mivo::Exception& e) {
    EXPECT_EQ(e.number(), GetParam().number);
    EXPECT_EQ(std::string(e.what()),
              std::string("Info::normalize_mivo_info(): bad parameter of ") + kGroup[GetParam().number - 111]);
  }
}

INSTANTIATE_TEST_SUITE_P(Groups, MivoBadParameter, ::testing::ValuesIn(kBadParameters),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(MivoParameters, MaximumRunDefaultsAndIsClamped) {
  mivo::Info info = GreyInfo(1, 1);
  info.normalize_mivo_info();
  EXPECT_EQ(info.max_run, 17057);
  info.max_run = 0;
  info.run_table = 2;
  info.normalize_mivo_info();
  EXPECT_EQ(info.max_run, 1040);
  info.max_run = 20000;
  info.run_table = 1;
  info.normalize_mivo_info();
  EXPECT_EQ(info.max_run, 17057);
}

TEST(MivoParameters, VersionOneDefaultsAndDifferSelection) {
  mivo::Info info;
  try {
    info.set_v1_default();
    FAIL() << "accepted without image_bit";
  } catch (const mivo::Exception& e) {
    EXPECT_STREQ(e.what(), "Info::set_v1_default(): image_bit not stated");
  }
  info.image_bit = 24;
  info.set_v1_default(1, 3);
  EXPECT_EQ(info.initial_component, 255);
  EXPECT_EQ(info.marker_table, 5);
  EXPECT_EQ(info.run_table, 2);
  EXPECT_EQ(info.error_table, 3);
  EXPECT_EQ(info.differ[4], 3);
  mivo::Info mono;
  mono.image_bit = 8;
  mono.set_v1_default(true);
  EXPECT_EQ(mono.initial_component, 0);
  EXPECT_EQ(mono.differ[4], 8);
  mono.differ[3] = mivo::DIFFER_END;
  try {
    mono.set_differ(3);
    FAIL() << "accepted an unused differer";
  } catch (const mivo::Exception& e) {
    EXPECT_EQ(e.number(), 110);
  }
}

TEST(MivoParameters, SecondRucReferer) {
  mivo::Info info = GreyInfo(4, 1);
  int differ[5] = {240, 1, 240, 255, 255};
  std::copy(differ, differ + 5, info.differ);
  try {
    mivo::CoreEnc enc(info);
    FAIL() << "accepted";
  } catch (const mivo::Exception& e) {
    EXPECT_STREQ(e.what(), "Lrle::apply_initial_order(): RUC defined doubly");
  }
}

// ---- Decoder refusals --------------------------------------------------------

struct Refusal {
  const char* name;
  std::string bits;
  int number;
};

class MivoDecoderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(MivoDecoderRefuses, WithItsException) {
  // Two-pixel grey lines, marker table 6.
  mivo::Info info = GreyInfo(2, 2);
  info.marker_table = mivo::MARKER_TABLE_6;
  Streams s;
  s.s[0] = PackBits(GetParam().bits);
  try {
    Decode(info, s, 2);
    FAIL() << "accepted";
  } catch (const mivo::Exception& e) {
    EXPECT_EQ(e.number(), GetParam().number) << e.what();
  }
}

const std::string kPixel = kModeErrorA + Error1(0);  // one error-coded pixel
INSTANTIATE_TEST_SUITE_P(
    Streams, MivoDecoderRefuses,
    ::testing::Values(Refusal{"CpyMidline", kPixel + kModeMarker + Marker6(4), 30},
                      Refusal{"FilMidline", kPixel + kModeMarker + Marker6(5) + "00000000", 30},
                      Refusal{"EobMidline", kPixel + kModeMarker + Marker6(7), 30},
                      Refusal{"EarlyEoi", kModeMarker + Marker6(2), 32},
                      Refusal{"UnknownMarker", kModeMarker + "100" + Extra(9, 4), 33},
                      Refusal{"NoEoi", kPixel + kPixel + kPixel + kPixel + kPixel, 34},
                      Refusal{"UndefinedMarkerCode", kModeMarker + "000000", 150},
                      Refusal{"Truncated", kPixel + kPixel + kPixel, 181},
                      // a run of one, then symbol 4 while the places are shifted by one
                      Refusal{"PlaceBeyondTheOrder", kModeRunA + "00" + "11110" + "00", 200}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(MivoDecoderRefuses, CorruptAndTruncatedStreamsOnlyEverThrow) {
  // Valid streams of several kinds, cut at random lengths and with random
  // bytes changed, handed over in pieces of many sizes: decoding either
  // succeeds or throws mivo::Exception.
  std::mt19937 rng(99);
  int thrown = 0, runs = 0;
  for (Pattern p : {Pattern::kText, Pattern::kNoise, Pattern::kRepeat}) {
    mivo::Info info = GreyInfo(23, 11);
    info.image_bit = 32;
    info.multi_stream = true;
    info.marker_table = mivo::MARKER_TABLE_6;
    std::string img = MakeImage(p, 23 * 4, 11, 4, 5);
    Streams good = Encode(info, img);
    for (int trial = 0; trial < 300; ++trial) {
      Streams bad = good;
      std::string& s = bad.s[rng() % 5];
      if (s.empty()) continue;
      if (trial % 3 == 0) {
        s.resize(rng() % s.size());
      } else {
        for (int k = 0; k < 1 + trial % 4; ++k) s[rng() % s.size()] = static_cast<char>(rng());
      }
      ++runs;
      try {
        // Small pieces exercise the byte-wise refill, larger ones the
        // eight-byte refill near the ends of a block.
        static constexpr size_t kChunks[] = {1, 2, 3, 5, 7, 8, 9, 13, 64, 1 << 20};
        std::string out = Decode(info, bad, 11, kChunks[rng() % std::size(kChunks)]);
        EXPECT_EQ(out.size(), img.size());
      } catch (const mivo::Exception&) {
        ++thrown;
      }
    }
  }
  EXPECT_GT(thrown, runs / 4);
}

TEST(MivoDecoderRefuses, BrokenStreamsEndAlikeInOnePieceAndByteByByte) {
  // Whole streams let the decoder take its fast paths (eight-byte top-ups,
  // codewords read without the refill test); single bytes never do. Cut or
  // changed streams must give the same lines or the same exception either
  // way.
  mivo::Info info = GreyInfo(101, 40);
  info.image_bit = 32;
  info.multi_stream = true;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.initial_component = 255;
  const std::string img = MakeImage(Pattern::kNoise, 101 * 4, 40, 4, 17);
  const Streams good = Encode(info, img);
  auto outcome = [&info](const Streams& s, size_t chunk) {
    try {
      return Decode(info, s, 40, chunk);
    } catch (const mivo::Exception& e) {
      return std::string("exception: ") + e.what();
    }
  };
  std::mt19937 rng(3);
  int refused = 0;
  for (int trial = 0; trial < 60; ++trial) {
    Streams bad = good;
    std::string& s = bad.s[trial % 5];
    if (trial % 2) {
      s.resize(rng() % s.size());
    } else {
      s[rng() % s.size()] = static_cast<char>(rng());
    }
    const std::string whole = outcome(bad, 1 << 20);
    EXPECT_EQ(outcome(bad, 1), whole) << "trial " << trial;
    if (whole.rfind("exception: ", 0) == 0) ++refused;
  }
  EXPECT_GT(refused, 20);
}

// ---- Callbacks ----------------------------------------------------------------

TEST(MivoCallbacks, FailuresOfTheCallbacksRaiseTheirExceptions) {
  mivo::Info info = GreyInfo(8, 2);
  std::string img = MakeImage(Pattern::kNoise, 8, 2, 1, 1);
  // The input ends after one line.
  {
    mivo::Info i = info;
    i.height = 3;
    try {
      Encode(i, img);
      FAIL() << "short input accepted";
    } catch (const mivo::Exception& e) {
      EXPECT_STREQ(e.what(), "InImageBuffer::read_line(): callback_in failed");
    }
  }
  // The stream sink refuses.
  {
    mivo::Info i = info;
    i.callback_in = [](void*, unsigned char* b, size_t n) { std::fill(b, b + n, 7); return n; };
    i.callback_out = [](void*, const unsigned char*, size_t n) { return n - 1; };
    mivo::CoreEnc enc(i);
    enc.encode_line();
    try {
      enc.terminate();
      FAIL() << "refused write accepted";
    } catch (const mivo::Exception& e) {
      EXPECT_EQ(e.number(), 171);
    }
  }
  // The allocation callback fails.
  {
    mivo::Info i = info;
    i.callback_alloc = [](void*, size_t) -> void* { return nullptr; };
    try {
      mivo::CoreEnc enc(i);
      FAIL() << "construction without memory";
    } catch (const mivo::Exception& e) {
      EXPECT_STREQ(e.what(), "::my_malloc (): bad alloc on alloc callback");
    }
  }
  // The line sink refuses.
  {
    Streams s = Encode(info, img);
    mivo::Info i = info;
    std::pair<const std::string*, size_t> src{&s.s[0], 0};
    i.in_context[0] = &src;
    i.callback_in = [](void* ctx, unsigned char* b, size_t n) {
      auto* p = static_cast<std::pair<const std::string*, size_t>*>(ctx);
      size_t k = p->first->copy(reinterpret_cast<char*>(b), n, p->second);
      p->second += k;
      return k;
    };
    i.callback_out = [](void*, const unsigned char*, size_t) -> size_t { return 0; };
    mivo::CoreDec dec(i);
    try {
      dec.decode_line();
      FAIL() << "refused line accepted";
    } catch (const mivo::Exception& e) {
      EXPECT_EQ(e.number(), 11);
    }
  }
}

TEST(MivoCallbacks, AllocationCallbackServesEveryBlock) {
  struct Count {
    int allocs = 0;
    int frees = 0;
  } count;
  mivo::Info info = GreyInfo(30, 6);
  info.image_bit = 32;
  info.multi_stream = true;
  info.alloc_context = &count;
  info.callback_alloc = [](void* ctx, size_t n) { ++static_cast<Count*>(ctx)->allocs; return std::malloc(n); };
  info.callback_free = [](void* ctx, void* p) { ++static_cast<Count*>(ctx)->frees; std::free(p); };
  std::string img = MakeImage(Pattern::kFlat, 120, 6, 4, 2);
  Streams s = Encode(info, img);
  EXPECT_EQ(Decode(info, s, 6), img);
  EXPECT_GT(count.allocs, 10);
  EXPECT_EQ(count.allocs, count.frees);
}

TEST(MivoColourTransform, RoundTripStaysWithinRounding) {
  mivo::Info info = GreyInfo(64, 8);
  info.image_bit = 24;
  info.color_transform = 1;
  info.chroma_mode = 1;
  std::string img = MakeImage(Pattern::kNoise, 64 * 3, 8, 3, 4);
  Streams s = Encode(info, img);
  std::string out = Decode(info, s, 8);
  ASSERT_EQ(out.size(), img.size());
  int worst = 0;
  for (size_t i = 0; i < img.size(); ++i)
    worst = std::max(worst, std::abs(static_cast<unsigned char>(out[i]) - static_cast<unsigned char>(img[i])));
  EXPECT_LE(worst, 2);
}

}  // namespace
