// The compression filter as CUPS runs it: coded page layout, decoding the
// streams back to the input pixels, the fallback and its threshold, and every
// failure with its message and status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "mivocore.h"
#include "mivorecompressor.h"
#include "runfilter.h"
#include "ztstreams.h"

namespace {

// The documented parameter set of a coded page.
mivo::Info PageInfo(int width, int height, bool colour, bool lead) {
  mivo::Info info;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.multi_stream = true;
  info.ihdr_level = 195;
  info.width = width / 8 * 8 + 8 + (lead ? 8 : 0);
  info.height = height;
  info.image_bit = colour ? 32 : 8;
  info.initial_component = colour ? 255 : 0;
  int differ[5] = {1, 129, 128, 130, colour ? 131 : 8};
  std::copy(differ, differ + 5, info.differ);
  return info;
}

struct Body {
  uint32_t words[4];
  std::string streams[5];  // by sink number
};

// Splits a coded page body into its length words and streams.
Body SplitBody(const ParsedPage& page, bool colour) {
  Body b{};
  EXPECT_GE(page.data.size(), 16u);
  std::memcpy(b.words, page.data.data(), 16);
  size_t pos = 16;
  if (colour) {
    const int order[5] = {0, 4, 1, 2};
    for (int i = 0; i < 4; ++i) {
      b.streams[order[i]] = page.data.substr(pos, b.words[i]);
      pos += b.words[i];
    }
    b.streams[3] = page.data.substr(pos);
  } else {
    b.streams[0] = page.data.substr(16, b.words[0]);
    b.streams[1] = page.data.substr(16 + b.words[0], b.words[1]);
  }
  return b;
}

struct Reader {
  const std::string* s;
  size_t pos;
};

// Decodes a coded page into its coded lines (lead pixels and fill included).
std::string DecodePage(const ParsedPage& page, int sourceWidth, bool colour, bool lead) {
  Body b = SplitBody(page, colour);
  mivo::Info info = PageInfo(sourceWidth, page.header.height, colour, lead);
  Reader r[5];
  for (int i = 0; i < 5; ++i) {
    r[i] = Reader{&b.streams[i], 0};
    info.in_context[i] = &r[i];
  }
  info.callback_in = [](void* ctx, unsigned char* buf, size_t n) {
    auto* rd = static_cast<Reader*>(ctx);
    size_t k = rd->s->copy(reinterpret_cast<char*>(buf), n, rd->pos);
    rd->pos += k;
    return k;
  };
  std::string out;
  info.callback_out = [](void* ctx, const unsigned char* buf, size_t n) {
    static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
    return n;
  };
  info.out_context[0] = &out;
  mivo::CoreDec dec(info);
  for (int y = 0; y < page.header.height; ++y) dec.decode_line();
  dec.terminate();
  return out;
}

// The coded lines the filter should produce for an input page.
std::string ExpectedLines(const std::string& pixels, int width, int height, bool colour, bool lead) {
  const size_t comps = colour ? 4 : 1;
  const size_t coded = static_cast<size_t>(width / 8 * 8 + 8 + (lead ? 8 : 0));
  std::string out;
  for (int y = 0; y < height; ++y) {
    std::string line(coded * comps, '\0');
    size_t at = 0;
    if (lead) {
      std::memset(&line[0], 255, comps);
      at = 8 * comps;
    }
    for (int x = 0; x < width; ++x) {
      const char* px = &pixels[(static_cast<size_t>(y) * width + x) * 4];
      if (colour) {
        std::memcpy(&line[at], px, 4);
        at += 4;
      } else {
        line[at++] = px[3];
      }
    }
    out += line;
  }
  return out;
}

std::string Ppd(const std::string& extra = "") {
  static std::vector<std::unique_ptr<TempFile>> keep;
  keep.push_back(std::make_unique<TempFile>(SamplePPDText({}, extra), ".ppd"));
  return keep.back()->path();
}

FilterResult RunMivo5(const std::string& input, const std::string& ppd, const std::string& options = "") {
  RunOptions o;
  o.ppd = ppd;
  return RunFilter(FilterArgv("ztmivo5", options), input, o);
}

struct LayoutCase {
  bool colour;
  bool lead;
  int width;
};

class MivoFilterLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MivoFilterLayout, HeaderWordsAndStreamsDecodeToTheInput) {
  const LayoutCase c = GetParam();
  const int h = 13;
  ZTRasterHeader in = MakeHeader(c.width, h, 32, 3);
  std::string pixels = PatternBytes(static_cast<size_t>(in.pageBytes), 42);
  // Some flat areas so that runs appear beside noise.
  std::memset(&pixels[0], 0, pixels.size() / 3);
  std::string input = PageBytes(in, pixels) + PageBytes(in, std::string(in.pageBytes, '\0'));
  std::string extra = c.lead ? "*QKNeedLPHMarker: \"True\"\n" : "";
  FilterResult r = RunMivo5(input, Ppd(extra), c.colour ? "" : "QKColorMode=Black");
  ASSERT_EQ(r.status, 0) << r.err;
  auto pages = ParseStream(r.out);
  ASSERT_EQ(pages.size(), 2u);
  for (int p = 0; p < 2; ++p) {
    const ParsedPage& page = pages[p];
    ZTRasterHeader want = in;
    want.width = in.width + (c.lead ? 8 : 0);
    want.encoding = c.lead ? 7 : 6;
    want.colorSpace = c.colour ? 3 : 0;
    want.pageBytes = static_cast<int32_t>(page.data.size());
    EXPECT_EQ(HeaderBytes(page.header), HeaderBytes(want));
    Body b = SplitBody(page, c.colour);
    if (c.colour) {
      EXPECT_EQ(b.words[0] + b.words[1] + b.words[2] + b.words[3] + b.streams[3].size() + 16, page.data.size());
    } else {
      EXPECT_EQ(b.words[2], 0u);
      EXPECT_EQ(b.words[3], 0u);
      EXPECT_EQ(16 + b.words[0] + b.words[1], page.data.size());
    }
    std::string source = p == 0 ? pixels : std::string(in.pageBytes, '\0');
    EXPECT_EQ(DecodePage(page, c.width, c.colour, c.lead), ExpectedLines(source, c.width, h, c.colour, c.lead));
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, MivoFilterLayout,
                         ::testing::Values(LayoutCase{true, false, 37}, LayoutCase{true, true, 37},
                                           LayoutCase{false, false, 37}, LayoutCase{false, true, 37},
                                           LayoutCase{true, false, 16}, LayoutCase{false, false, 8}));

// ---- Fallback ------------------------------------------------------------------

// Every pixel error-coded (component 0 never repeats a neighbour); `pairs`
// pairs of (2, 0) in component 1 each add four bits to stream 2.
std::string TunedPage(int width, int height, int pairs) {
  std::string px(static_cast<size_t>(width) * height * 4, '\0');
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) px[(static_cast<size_t>(y) * width + x) * 4] = static_cast<char>((x + 64 * y) & 255);
  for (int k = 0; k < pairs; ++k) {
    size_t at = static_cast<size_t>(k) * 4;  // pixel 2k of the page, counted from the start
    px[at * 2 + 1] = 2;
  }
  return px;
}

uint64_t CodedSize(const std::string& px, int width, int height) {
  mivo::Info info = PageInfo(width, height, true, false);
  info.intake.source_width = width;
  Reader r{&px, 0};
  info.in_context[0] = &r;
  info.callback_in = [](void* ctx, unsigned char* buf, size_t n) {
    auto* rd = static_cast<Reader*>(ctx);
    size_t k = rd->s->copy(reinterpret_cast<char*>(buf), n, rd->pos);
    rd->pos += k;
    return k;
  };
  info.callback_out = [](void*, const unsigned char*, size_t n) { return n; };
  mivo::CoreEnc enc(info);
  for (int y = 0; y < height; ++y) enc.encode_line();
  return enc.terminate();
}

TEST(MivoFilterFallback, ExactlyTheThresholdIsKeptOneByteMoreIsRecompressed) {
  const int w = 512, h = 1255;
  const uint64_t target = 1048576;
  // Find the number of pairs that makes the streams exactly 1 MiB.
  int lo = 0, hi = 12000;
  ASSERT_LT(CodedSize(TunedPage(w, h, lo), w, h), target);
  ASSERT_GT(CodedSize(TunedPage(w, h, hi), w, h), target);
  while (hi - lo > 1) {
    int mid = (lo + hi) / 2;
    (CodedSize(TunedPage(w, h, mid), w, h) <= target ? lo : hi) = mid;
  }
  ASSERT_EQ(CodedSize(TunedPage(w, h, lo), w, h), target);
  int more = lo;
  while (CodedSize(TunedPage(w, h, more), w, h) == target) ++more;
  ASSERT_EQ(CodedSize(TunedPage(w, h, more), w, h), target + 1);

  ZTRasterHeader in = MakeHeader(w, h, 32, 3);
  std::string ppdText = SamplePPDText({{"*QKFallbackThreshold: \"80\"", "*QKFallbackThreshold: \"1\""}});
  TempFile small(ppdText, ".ppd");

  std::string exact = TunedPage(w, h, lo);
  FilterResult r = RunMivo5(PageBytes(in, exact), small.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto pages = ParseStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].header.pageBytes, static_cast<int32_t>(target + 16));
  EXPECT_EQ(DecodePage(pages[0], w, true, false), ExpectedLines(exact, w, h, true, false));

  std::string over = TunedPage(w, h, more);
  r = RunMivo5(PageBytes(in, over), small.path());
  ASSERT_EQ(r.status, 0) << r.err;
  pages = ParseStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_LE(pages[0].header.pageBytes, static_cast<int32_t>(target + 16));
  std::string decoded = DecodePage(pages[0], w, true, false);
  EXPECT_EQ(decoded.size(), ExpectedLines(over, w, h, true, false).size());
  EXPECT_NE(decoded, ExpectedLines(over, w, h, true, false));
}

// Photo-like pages: smooth shading under grain, a flat patch and a dark bar
// with sharp edges. `cell` > 1 repeats each grain value over cell x cell
// pixels, as an enlarged photograph does.
struct PhotoCase {
  const char* name;
  int width, height;
  int grain;  // noise amplitude
  int cell;
  bool lead;
  double minPsnr;
};

void PrintTo(const PhotoCase& c, std::ostream* os) { *os << c.name; }

std::string PhotoPixels(const PhotoCase& c) {
  std::mt19937 rng(c.width * 7 + c.grain);
  std::vector<int> noise(static_cast<size_t>(c.width) * 4);
  std::string px(static_cast<size_t>(c.width) * c.height * 4, '\0');
  for (int y = 0; y < c.height; ++y) {
    if (y % c.cell == 0)
      for (int& n : noise) n = static_cast<int>(rng() % (2 * c.grain + 1)) - c.grain;
    for (int x = 0; x < c.width; ++x)
      for (int k = 0; k < 4; ++k) {
        int v = 60 + (x * (k + 1)) / 9 % 120 + y / (4 + k) % 60 + noise[(x / c.cell * c.cell) * 4 + k];
        if (x >= c.width / 2 && x < c.width / 2 + 60 && y >= 40 && y < 140) v = 17 * k;  // flat patch
        if (k == 3 && y % 150 >= 100 && y % 150 < 112) v = 250;                           // dark bar
        px[(static_cast<size_t>(y) * c.width + x) * 4 + k] = static_cast<char>(std::clamp(v, 0, 255));
      }
  }
  return px;
}

class MivoFilterFallbackQuality : public ::testing::TestWithParam<PhotoCase> {};

TEST_P(MivoFilterFallbackQuality, FitsTheTargetClosely) {
  const PhotoCase c = GetParam();
  const uint64_t target = 1048576;
  std::string px = PhotoPixels(c);
  ASSERT_GT(CodedSize(px, c.width, c.height), target + target / 4);
  ZTRasterHeader in = MakeHeader(c.width, c.height, 32, 3);
  TempFile ppd(SamplePPDText({{"*QKFallbackThreshold: \"80\"", "*QKFallbackThreshold: \"1\""}},
                             c.lead ? "*QKNeedLPHMarker: \"True\"\n" : ""),
               ".ppd");
  FilterResult r = RunMivo5(PageBytes(in, px), ppd.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto pages = ParseStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].header.encoding, c.lead ? 7u : 6u);
  const uint64_t coded = static_cast<uint64_t>(pages[0].header.pageBytes) - 16;
  EXPECT_LE(coded, target);
  EXPECT_GE(coded, target * 9 / 10);

  std::string decoded = DecodePage(pages[0], c.width, true, c.lead);
  std::string original = ExpectedLines(px, c.width, c.height, true, c.lead);
  ASSERT_EQ(decoded.size(), original.size());
  const size_t lineBytes = original.size() / c.height;
  const size_t first = c.lead ? 32 : 0, end = first + static_cast<size_t>(c.width) * 4;
  double squares = 0;
  for (int y = 0; y < c.height; ++y) {
    const size_t at = y * lineBytes;
    // Lead pixels and fill stay as they were.
    ASSERT_EQ(decoded.compare(at, first, original, at, first), 0) << "line " << y;
    ASSERT_EQ(decoded.compare(at + end, lineBytes - end, original, at + end, lineBytes - end), 0) << "line " << y;
    for (size_t i = first; i < end; ++i) {
      const int d = static_cast<unsigned char>(decoded[at + i]) - static_cast<unsigned char>(original[at + i]);
      squares += d * d;
    }
    // The inside of the flat patch stays exact.
    if (y > 40 && y < 139) {
      const size_t patch = at + first + (static_cast<size_t>(c.width / 2) + 1) * 4;
      EXPECT_EQ(decoded.compare(patch, 58 * 4, original, patch, 58 * 4), 0) << "line " << y;
    }
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 * c.width * c.height * 4 / squares);
  EXPECT_GE(psnr, c.minPsnr);
}

INSTANTIATE_TEST_SUITE_P(Pages, MivoFilterFallbackQuality,
                         ::testing::Values(PhotoCase{"FineGrain", 1000, 800, 6, 1, false, 35},
                                           PhotoCase{"CoarseGrain", 900, 900, 12, 1, true, 31},
                                           PhotoCase{"EnlargedPhoto", 1200, 1500, 10, 2, false, 34}),
                         [](const auto& info) { return std::string(info.param.name); });

// The recompressor over in-memory streams of a page coded as the filter
// codes it.
struct RecompressRig {
  int w, h;
  bool lead;
  std::string px;
  std::string streams[5], result[5];
  Reader readers[5];
  void* in[5];
  void* out[5];

  static size_t Read(void* ctx, unsigned char* buf, size_t n) {
    auto* rd = static_cast<Reader*>(ctx);
    size_t k = rd->s->copy(reinterpret_cast<char*>(buf), n, rd->pos);
    rd->pos += k;
    return k;
  }
  static size_t Append(void* ctx, const unsigned char* buf, size_t n) {
    static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
    return n;
  }
  RecompressRig(int width, int height, bool withLead, std::string pixels)
      : w(width), h(height), lead(withLead), px(std::move(pixels)) {
    mivo::Info e = PageInfo(w, h, true, lead);
    e.intake.source_width = w;
    e.intake.lead_pixels = lead;
    Reader source{&px, 0};
    e.callback_in = Read;
    e.in_context[0] = &source;
    e.callback_out = Append;
    for (int i = 0; i < 5; ++i) e.out_context[i] = &streams[i];
    mivo::CoreEnc enc(e);
    for (int y = 0; y < h; ++y) enc.encode_line();
    enc.terminate();
  }
  void Rewind() {
    for (int i = 0; i < 5; ++i) {
      readers[i] = Reader{&streams[i], 0};
      in[i] = &readers[i];
      result[i].clear();
      out[i] = &result[i];
    }
  }
  int Pass(mivo::Recompressor& r) {
    Rewind();
    return r.pass(Read, in, Append, out);
  }
  // The coded lines of the last pass's streams.
  std::string Decoded() const {
    ParsedPage page{MakeHeader(w, h, 32, 3), std::string(16, '\0')};
    const uint32_t words[4] = {static_cast<uint32_t>(result[0].size()), static_cast<uint32_t>(result[4].size()),
                               static_cast<uint32_t>(result[1].size()), static_cast<uint32_t>(result[2].size())};
    std::memcpy(&page.data[0], words, 16);
    page.data += result[0] + result[4] + result[1] + result[2] + result[3];
    return DecodePage(page, w, true, lead);
  }
};

// A target no pass can meet: every pass reports -4, each step is stronger,
// and the strongest setting still writes streams the decoder reads, with
// the lead pixels kept and every image pixel repeating the one before the
// image.
TEST(MivoRecompressor, UnreachableTargetStepsUpToTheStrongestSetting) {
  const int w = 64, h = 40;
  RecompressRig rig(w, h, true, PatternBytes(static_cast<size_t>(w) * h * 4, 9));
  mivo::Recompressor r(PageInfo(w, h, true, true), 8, w, 1);
  rig.Rewind();
  ASSERT_EQ(r.first_pass(RecompressRig::Read, rig.in), 3);
  r.apply_level(3);
  EXPECT_EQ(rig.Pass(r), mivo::RECOMPRESS_TOO_LARGE);
  r.step();
  EXPECT_GT(r.setting(), 182);
  EXPECT_LT(r.setting(), 255);
  EXPECT_EQ(rig.Pass(r), mivo::RECOMPRESS_TOO_LARGE);
  r.set_strongest();
  EXPECT_EQ(rig.Pass(r), mivo::RECOMPRESS_TOO_LARGE);
  EXPECT_LT(r.last_size(), 100u);

  std::string decoded = rig.Decoded();
  std::string original = ExpectedLines(rig.px, w, h, true, true);
  ASSERT_EQ(decoded.size(), original.size());
  const size_t lineBytes = original.size() / h;
  for (int y = 0; y < h; ++y) {
    EXPECT_EQ(decoded.compare(y * lineBytes, 32, original, y * lineBytes, 32), 0);
    EXPECT_EQ(decoded.substr(y * lineBytes + 32, w * 4), std::string(w * 4, '\0'));
  }
}

// Seeded pages of many shapes (widths around multiples of 4 and 8, single
// lines and columns) at targets from mild to harsh: the result fits, and
// where no line collapsed every sample lies within the largest tolerance
// the last pass used, while lead pixels and fill stay exact.
TEST(MivoRecompressor, EverySampleStaysWithinTheTolerance) {
  std::mt19937 rng(77);
  for (int round = 0; round < 40; ++round) {
    const int w = 1 + static_cast<int>(rng() % 70), h = 150 + static_cast<int>(rng() % 250);
    const bool lead = rng() % 2;
    std::string px(static_cast<size_t>(w) * h * 4, '\0');
    const int grain = 1 + static_cast<int>(rng() % 40);
    for (size_t i = 0; i < px.size(); ++i)
      px[i] = static_cast<char>(std::clamp(100 + static_cast<int>(i / 4 % w) + static_cast<int>(rng() % grain), 0, 255));
    RecompressRig rig(w, h, lead, px);
    uint64_t size = 0;
    for (const auto& s : rig.streams) size += s.size();
    const uint64_t target = size * (60 + rng() % 35) / 100;
    mivo::Recompressor r(PageInfo(w, h, true, lead), lead ? 8 : 0, w, target);
    rig.Rewind();
    r.apply_level(r.first_pass(RecompressRig::Read, rig.in));
    // The filter's order of passes.
    if (rig.Pass(r) == mivo::RECOMPRESS_TOO_LARGE) {
      r.step();
      if (rig.Pass(r) == mivo::RECOMPRESS_TOO_LARGE) {
        r.set_strongest();
        rig.Pass(r);
      }
    }
    std::string decoded = rig.Decoded();
    std::string original = ExpectedLines(px, w, h, true, lead);
    ASSERT_EQ(decoded.size(), original.size()) << "round " << round;
    if (r.largest_tolerance() == 255) continue;
    const size_t lineBytes = original.size() / h, first = lead ? 32 : 0, end = first + w * 4u;
    for (size_t i = 0; i < decoded.size(); ++i) {
      const int d = std::abs(static_cast<unsigned char>(decoded[i]) - static_cast<unsigned char>(original[i]));
      const size_t col = i % lineBytes;
      ASSERT_LE(d, col >= first && col < end ? r.largest_tolerance() : 0) << "round " << round << " byte " << i;
    }
  }
}

TEST(MivoFilterFallback, MonochromePagesAreNeverRecompressed) {
  const int w = 1100, h = 1100;
  ZTRasterHeader in = MakeHeader(w, h, 32, 3);
  std::string px = PatternBytes(static_cast<size_t>(in.pageBytes), 5);
  TempFile small(SamplePPDText({{"*QKFallbackThreshold: \"80\"", "*QKFallbackThreshold: \"1\""}}), ".ppd");
  FilterResult r = RunMivo5(PageBytes(in, px), small.path(), "QKColorMode=Black");
  ASSERT_EQ(r.status, 0) << r.err;
  auto pages = ParseStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_GT(pages[0].header.pageBytes, 1048576 + 16);
  EXPECT_EQ(DecodePage(pages[0], w, false, false), ExpectedLines(px, w, h, false, false));
}

// ---- Failures --------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::vector<std::string> argv;  // empty: the usual six arguments
  std::string input;
  bool missingPpd;
  int status;
  std::string message;
  size_t outputPages;
};

std::string GoodPage() {
  ZTRasterHeader h = MakeHeader(10, 4, 32, 3);
  return PageBytes(h, PatternBytes(160, 1));
}

std::string BadDepthPage() {
  ZTRasterHeader h = MakeHeader(10, 4, 24, 1);
  return PageBytes(h, PatternBytes(120, 1));
}

std::string LyingPage() {
  ZTRasterHeader h = MakeHeader(10, 4, 32, 3);
  h.pageBytes = 100;
  return PageBytes(h, PatternBytes(100, 1));
}

std::string TruncatedPage() {
  ZTRasterHeader h = MakeHeader(10, 4, 32, 3);
  return PageBytes(h, PatternBytes(100, 1));
}

class MivoFilterFails : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MivoFilterFails, WithItsMessageAndStatus) {
  const FailureCase& c = GetParam();
  RunOptions o;
  o.ppd = c.missingPpd ? "/nonexistent/ppd.ppd" : DataPath("korva-zt.ppd");
  std::vector<std::string> argv = c.argv.empty() ? FilterArgv("ztmivo5") : c.argv;
  if (!c.argv.empty()) argv[0] = ProgramPath("ztmivo5");
  FilterResult r = RunFilter(argv, c.input, o);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(ParseStream(r.out).size(), c.outputPages);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MivoFilterFails,
    ::testing::Values(
        FailureCase{"TooFewArguments", {"x", "1", "u", "t", "1"}, "", false, 1,
                    "ERROR: [Usage:] ztmivo5 job-id user title copies options [InFile]\n", 0},
        FailureCase{"TooManyArguments", {"x", "1", "u", "t", "1", "", "/dev/null", "extra"}, "", false, 1,
                    "ERROR: [Usage:] ztmivo5 job-id user title copies options [InFile]\n", 0},
        FailureCase{"MissingInputFile", {"x", "1", "u", "t", "1", "", "/nonexistent/input"}, "", false, 255,
                    "DEBUG: ztmivo5: Unable to open input file\n", 0},
        FailureCase{"MissingPpd", {}, GoodPage(), true, 1, "ERROR: ztmivo5ch-bile: CreatePPDSetting() Error.\n", 0},
        FailureCase{"TruncatedPageData", {}, GoodPage() + TruncatedPage(), false, 255,
                    "ERROR: compress_mivo5ch - error occured.\nERROR: ztmivo5: Error in ztmivo5Proc = -1, 2 pages.\n",
                    1},
        FailureCase{"NotThirtyTwoBits", {}, GoodPage() + BadDepthPage() + GoodPage(), false, 1,
                    "ERROR: ztmivo5: page 2: 24 bits per pixel, 32 needed.\n", 1},
        FailureCase{"LyingPageBytes", {}, LyingPage() + GoodPage(), false, 1, "ERROR: ztmivo5: page 1: ", 0},
        FailureCase{"EmptyInput", {}, "", false, 0, "", 0},
        FailureCase{"PartialHeader", {}, GoodPage() + std::string(30, '\x01'), false, 0, "", 1}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(MivoFilterFails, ClosedOutputIsReported) {
  RunOptions o;
  o.ppd = DataPath("korva-zt.ppd");
  o.closeStdoutEarly = true;
  FilterResult r = RunFilter(FilterArgv("ztmivo5"), GoodPage(), o);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("ERROR: ztmivo5"), std::string::npos) << r.err;
}

TEST(MivoFilterFails, InputFileArgumentIsRead) {
  TempFile file(GoodPage());
  RunOptions o;
  o.ppd = DataPath("korva-zt.ppd");
  std::vector<std::string> argv = FilterArgv("ztmivo5");
  argv.push_back(file.path());
  FilterResult r = RunFilter(argv, "", o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ParseStream(r.out).size(), 1u);
}

}  // namespace
