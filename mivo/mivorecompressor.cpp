#include "mivorecompressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mivocore.h"

namespace mivo {

namespace {

// Pixels of room before and after every line held, so that the referers of
// the first and last image pixel and the four-pixel loads read storage.
constexpr int kLineGuard = 8;
// Share of the target a first pass aims at; each step aims this much lower.
constexpr double kAim = 0.97;
constexpr double kAimStep = 0.06;
constexpr double kAimLowest = 0.5;
// Coded size falls by about this factor per tolerance unit on photographs;
// the controller uses it to turn a size error into a tolerance change.
constexpr double kSlope = 0.09;
// Tolerances the controller may choose; beyond it only the strongest.
constexpr double kControlLimit = 64.0;
constexpr int kFullTolerance = 255;
// Pixels taken from above come in stretches of at least this many; gaps of
// up to kWidestGap pixels between stretches are bridged within the
// tolerance times (1 + kGapToleranceNum / 4).
constexpr int kShortestStretch = 3;
constexpr int kWidestGap = 2;
constexpr int kGapToleranceNum = 2;
// The controller measures over about 1 / kWindows of the page's old bytes
// and moves at most kMaxGain of the way to the tolerance it wants per line.
constexpr double kWindows = 24.0;
constexpr double kMaxGain = 0.25;
// Old bytes a measurement must cover before the controller trusts it.
constexpr double kMinMeasure = 64.0;
// Bytes a line can cost at most per pixel (four 11-bit errors and a mode),
// and what a collapsed line and the end of the streams cost at most.
constexpr uint64_t kWorstPixelBytes = 6;
constexpr uint64_t kCollapsedLineBytes = 2;
constexpr uint64_t kEndBytes = 64;

#if defined(__SSE2__)
inline __m128i Load4(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline bool Within(uint32_t a, uint32_t b, int t) {
  const __m128i va = _mm_cvtsi32_si128(static_cast<int>(a));
  const __m128i vb = _mm_cvtsi32_si128(static_cast<int>(b));
  const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
  return _mm_cvtsi128_si32(_mm_subs_epu8(d, _mm_set1_epi8(static_cast<char>(t)))) == 0;
}
#else
inline bool Within(uint32_t a, uint32_t b, int t) {
  for (int k = 0; k < 32; k += 8) {
    const int d = static_cast<int>((a >> k) & 255) - static_cast<int>((b >> k) & 255);
    if (d > t || -d > t) return false;
  }
  return true;
}
#endif

// Per-pixel flags of a line: bit x % 64 of word x / 64 for pixel x, with
// spare words after the line so that bits shifted in from beyond it are 0.
class LineBits {
 public:
  LineBits(const Info& info, int pixels)
      : words_(pixels / 64 + 2), store_(info, static_cast<size_t>(words_) * sizeof(uint64_t)) {}
  uint64_t* w() const { return reinterpret_cast<uint64_t*>(store_.data()); }
  int words() const { return words_; }

 private:
  int words_;
  Buffer store_;
};

// Bit i of the result: bit i + k (k < 64) of s; bits beyond the end are 0.
inline uint64_t BitsFrom(const uint64_t* s, int i, int n, int k) {
  return k == 0 ? s[i] : (s[i] >> k) | (i + 1 < n ? s[i + 1] << (64 - k) : 0);
}
// Bit i of the result: bit i - k (k < 64) of s; bits before the start are 0.
inline uint64_t BitsBefore(const uint64_t* s, int i, int k) {
  return k == 0 ? s[i] : (s[i] << k) | (i > 0 ? s[i - 1] >> (64 - k) : 0);
}
// d = pixels whose next `length` pixels (themselves included) are all set.
void Erode(const uint64_t* s, uint64_t* d, int n, int length) {
  for (int i = 0; i < n; ++i) {
    uint64_t v = s[i];
    for (int k = 1; k < length; ++k) v &= BitsFrom(s, i, n, k);
    d[i] = v;
  }
}
// d = pixels with a set pixel among themselves and the `length` - 1 before.
void Dilate(const uint64_t* s, uint64_t* d, int n, int length) {
  for (int i = 0; i < n; ++i) {
    uint64_t v = s[i];
    for (int k = 1; k < length; ++k) v |= BitsBefore(s, i, k);
    d[i] = v;
  }
}

// Builds the new pixels first .. end - 1 of a line. A pixel may take the new
// pixel straight above it when every component of the two differs by at most
// the tolerance and the pixel is not inside a flat area (equal to its four
// neighbours). Such pixels are taken only in stretches of at least
// kShortestStretch: a stretch continues a run of the line above, which the
// encoder codes with one decision, whereas a pixel or two between coded
// pixels would cost a decision each and save little. Gaps of up to
// kWidestGap pixels between stretches are bridged when their pixels lie
// within the wider gap tolerance, so that two runs become one. Every other
// pixel stays exact. The strongest tolerance collapses the line into a
// single run of its first pixel. Returns the largest change allowed.
int ReplaceLine(const uint32_t* orig, const uint32_t* orig_up, const uint32_t* orig_down, const uint32_t* up,
                uint32_t* out, int first, int end, int tolerance, LineBits* const bits[3]) {
  if (tolerance >= kFullTolerance) {
    for (int x = first; x < end; ++x) out[x] = out[x - 1];
    return kFullTolerance;
  }
  const int wide = std::min(kFullTolerance - 1, tolerance + tolerance * kGapToleranceNum / 4);
  uint64_t* near = bits[0]->w();  // within the tolerance
  uint64_t* loose = bits[1]->w();  // within the gap tolerance
  uint64_t* work = bits[2]->w();
  const int n = bits[0]->words();
  std::fill(near, near + n, 0);
  std::fill(loose, loose + n, 0);
  int x = first;
#if defined(__SSE2__)
  const __m128i t = _mm_set1_epi8(static_cast<char>(tolerance));
  const __m128i t2 = _mm_set1_epi8(static_cast<char>(wide));
  // Bit b stands for pixel first + b; the four bits of a step lie in one word.
  for (; x + 4 <= end; x += 4) {
    const __m128i o = Load4(orig + x);
    const __m128i u = Load4(up + x);
    const __m128i flat = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi32(o, Load4(orig + x - 1)), _mm_cmpeq_epi32(o, Load4(orig + x + 1))),
        _mm_and_si128(_mm_cmpeq_epi32(o, Load4(orig_up + x)), _mm_cmpeq_epi32(o, Load4(orig_down + x))));
    const __m128i d = _mm_or_si128(_mm_subs_epu8(o, u), _mm_subs_epu8(u, o));
    const __m128i zero = _mm_setzero_si128();
    const __m128i in1 = _mm_andnot_si128(flat, _mm_cmpeq_epi32(_mm_subs_epu8(d, t), zero));
    const __m128i in2 = _mm_andnot_si128(flat, _mm_cmpeq_epi32(_mm_subs_epu8(d, t2), zero));
    const int b = x - first;
    near[b >> 6] |= static_cast<uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(in1))) << (b & 63);
    loose[b >> 6] |= static_cast<uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(in2))) << (b & 63);
  }
#endif
  for (; x < end; ++x) {
    const uint32_t o = orig[x];
    if (o == orig[x - 1] && o == orig[x + 1] && o == orig_up[x] && o == orig_down[x]) continue;
    const int b = x - first;
    if (Within(o, up[x], tolerance)) near[b >> 6] |= uint64_t{1} << (b & 63);
    if (Within(o, up[x], wide)) loose[b >> 6] |= uint64_t{1} << (b & 63);
  }
  // Bridged gaps: closing (dilate, then erode) marks the gaps of up to
  // kWidestGap pixels between set pixels; those within the gap tolerance
  // join. Then opening (erode, then dilate) drops the stretches shorter
  // than kShortestStretch.
  uint64_t* take = near;
  if constexpr (kWidestGap > 0) {
    Dilate(near, work, n, kWidestGap + 1);
    for (int i = 0; i < n; ++i) {
      uint64_t closed = work[i];
      for (int k = 1; k <= kWidestGap; ++k) closed &= BitsFrom(work, i, n, k);
      loose[i] = near[i] | (closed & loose[i]);
    }
    take = loose;
  }
  if constexpr (kShortestStretch > 1) {
    Erode(take, work, n, kShortestStretch);
    Dilate(work, take, n, kShortestStretch);
  }
  x = first;
#if defined(__SSE2__)
  for (; x + 4 <= end; x += 4) {
    const int b = x - first;
    const unsigned four = static_cast<unsigned>(take[b >> 6] >> (b & 63)) & 15u;
    const __m128i sel = _mm_cmpgt_epi32(
        _mm_and_si128(_mm_set1_epi32(static_cast<int>(four)), _mm_setr_epi32(1, 2, 4, 8)), _mm_setzero_si128());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), Select(sel, Load4(up + x), Load4(orig + x)));
  }
#endif
  for (; x < end; ++x) out[x] = (take[(x - first) >> 6] >> ((x - first) & 63)) & 1 ? up[x] : orig[x];
  return wide;
}

// A line of pixels with room around it.
class Line {
 public:
  Line(const Info& info, int pixels)
      : store_(info, (static_cast<size_t>(pixels) + 2 * kLineGuard) * sizeof(uint32_t)), pixels_(pixels) {}
  uint32_t* px() const { return reinterpret_cast<uint32_t*>(store_.data()) + kLineGuard; }
  // Every pixel, guards included, to v.
  void fill(uint32_t v) const { std::fill(px() - kLineGuard, px() + pixels_ + kLineGuard, v); }
  // The guards after the line repeat its last pixel, as the codec's
  // reference lines do; the guards before it hold the initial pixel.
  void set_guards(uint32_t initial) const {
    std::fill(px() - kLineGuard, px(), initial);
    std::fill(px() + pixels_, px() + pixels_ + kLineGuard, pixels_ ? px()[pixels_ - 1] : initial);
  }

 private:
  Buffer store_;
  int pixels_;
};

// Decoded lines go into the newest of three original lines.
struct DecodedLines {
  uint32_t* target;
  size_t line_bytes;
};

size_t TakeLine(void* context, const unsigned char* line, size_t n) {
  auto* sink = static_cast<DecodedLines*>(context);
  if (n != sink->line_bytes) return 0;
  std::memcpy(sink->target, line, n);
  return n;
}

// Hands the encoder the line it is to code next.
struct NextLine {
  const unsigned char* line;
  size_t line_bytes;
  size_t taken;
};

size_t GiveLine(void* context, unsigned char* buffer, size_t n) {
  auto* src = static_cast<NextLine*>(context);
  size_t k = std::min(n, src->line_bytes - src->taken);
  std::memcpy(buffer, src->line + src->taken, k);
  src->taken += k;
  return k;
}

// Steers the tolerance so that the new streams end near the aim: the old
// bytes read so far tell how much of the page is done, the recent ratio of
// new to old bytes how the current tolerance does, and the slope turns the
// ratio still needed into a tolerance.
class Controller {
 public:
  Controller(double start, uint64_t source, double aim_bytes, uint64_t target, int height, int line_pixels)
      : tolerance_(start), source_(source), aim_(aim_bytes), target_(target), height_(height),
        worst_line_(static_cast<uint64_t>(line_pixels) * kWorstPixelBytes) {}

  // Tolerance for line y, spreading the fraction over the lines.
  int next(int y, uint64_t written) {
    // Room for the next line (twice the dearest line so far, at most the
    // worst a line can cost) and collapsed lines after it.
    const uint64_t room = std::min(worst_line_, 2 * dearest_line_ + kEndBytes);
    if (!collapsed_ && written + room + static_cast<uint64_t>(height_ - y) * kCollapsedLineBytes + kEndBytes >= target_)
      collapsed_ = true;  // only collapsed lines still fit
    if (collapsed_) return kFullTolerance;
    const double whole = std::floor(tolerance_);
    carry_ += tolerance_ - whole;
    int t = static_cast<int>(whole);
    if (carry_ >= 1.0) {
      carry_ -= 1.0;
      ++t;
    }
    return t;
  }

  // Accounts for a coded line: old bytes read and new bytes written so far.
  void update(uint64_t read, uint64_t written) {
    // Progress counts in old bytes, not lines: lines that cost nothing (blank
    // paper) neither age the measurement nor move the tolerance, which has
    // no effect on them.
    const double share = source_ > 0 ? static_cast<double>(read - read_) / static_cast<double>(source_) : 0;
    const double keep = std::exp(-kWindows * share);
    dearest_line_ = std::max(dearest_line_, written - written_);
    num_ = num_ * keep + static_cast<double>(written - written_);
    den_ = den_ * keep + static_cast<double>(read - read_);
    read_ = read;
    written_ = written;
    if (collapsed_ || den_ < kMinMeasure || read >= source_) return;
    const double left = aim_ - static_cast<double>(written);
    const double need = left / static_cast<double>(source_ - read);
    double wanted = kControlLimit;
    if (need > 0) wanted = tolerance_ + std::log(std::max(num_, 1.0) / den_ / need) / kSlope;
    wanted = std::clamp(wanted, 0.0, kControlLimit);
    tolerance_ += std::min(kMaxGain, 2 * kWindows * share) * (wanted - tolerance_);
  }

 private:
  double tolerance_;
  uint64_t source_;
  double aim_;
  uint64_t target_;
  int height_;
  uint64_t worst_line_;
  uint64_t dearest_line_ = 0;
  double num_ = 0, den_ = 0;
  double carry_ = 0;
  uint64_t read_ = 0, written_ = 0;
  bool collapsed_ = false;
};

}  // namespace

Recompressor::Recompressor(const Info& info, int first_column, int columns, uint64_t target)
    : info_(info), first_column_(first_column), columns_(columns), target_(target), aim_(kAim) {
  info_.normalize_mivo_info();
  if (first_column_ < 0 || columns_ < 0 || first_column_ > info_.line_pixels - columns_ ||
      info_.pixel_bytes != 4 || info_.components != 4 || info_.bytes_per_line != info_.plane_bytes_per_line * 4)
    throw Exception(210, "Recompressor::Recompressor(): bad geometry");
  start_ = setting_ / RECOMPRESS_SETTING_SCALE;
}

int Recompressor::first_pass(ReadCallback read, void* const in_context[MAX_STREAMS]) {
  constexpr size_t kPiece = 65536;
  Buffer piece(info_, kPiece);
  source_size_ = 0;
  for (int i = 0; i < info_.stream_count; ++i)
    for (size_t n; (n = read(in_context[i], piece.data(), kPiece)) > 0;) source_size_ += n;
  if (columns_ == 0 || info_.height == 0) return -1;

  aim_ = kAim;
  const double aimBytes = aim_ * static_cast<double>(target_);
  predicted_ = 0;
  if (static_cast<double>(source_size_) > aimBytes)
    predicted_ = std::min(kControlLimit, std::log(static_cast<double>(source_size_) / aimBytes) / kSlope);
  selected_level_ = 0;
  for (int level = 1; level < RECOMPRESS_LEVELS; ++level)
    if (RECOMPRESS_LEVEL_SETTING[level] / RECOMPRESS_SETTING_SCALE <= predicted_) selected_level_ = level;
  return selected_level_;
}

void Recompressor::apply_level(int level) {
  setting_ = RECOMPRESS_LEVEL_SETTING[level];
  start_ = level == selected_level_ ? predicted_ : setting_ / RECOMPRESS_SETTING_SCALE;
}

void Recompressor::step() {
  aim_ = std::max(kAimLowest, aim_ - kAimStep);
  start_ = std::min(kControlLimit, std::max(start_, mean_tolerance_) + 1.0);
  setting_ = std::clamp(static_cast<int>(std::ceil(start_ * RECOMPRESS_SETTING_SCALE)), setting_ + 1,
                        RECOMPRESS_STRONGEST - 1);
}

int Recompressor::pass(ReadCallback read, void* const in_context[MAX_STREAMS], WriteCallback write,
                       void* const out_context[MAX_STREAMS]) {
  const int width = info_.line_pixels;
  const int height = info_.height;
  const int first = first_column_;
  const int end = first_column_ + columns_;
  const size_t lineBytes = info_.bytes_per_line;
  uint32_t initial;
  std::memset(&initial, info_.initial_component, sizeof initial);

  // Three original lines (above, current, below) and two new ones.
  Line origLines[3] = {Line(info_, width), Line(info_, width), Line(info_, width)};
  Line newLines[2] = {Line(info_, width), Line(info_, width)};
  LineBits near(info_, width), loose(info_, width), work(info_, width);
  LineBits* const bits[3] = {&near, &loose, &work};
  for (auto& l : origLines) l.fill(initial);
  newLines[0].fill(initial);  // the encoder's reference for the first line
  newLines[1].fill(initial);

  DecodedLines sink{nullptr, lineBytes};
  Info d = info_;
  d.callback_in = read;
  for (int i = 0; i < MAX_STREAMS; ++i) d.in_context[i] = in_context[i];
  d.callback_out = TakeLine;
  d.out_context[0] = &sink;
  CoreDec dec(d);

  NextLine source{nullptr, lineBytes, 0};
  Info e = info_;
  e.intake = RasterIntake();
  e.callback_in = GiveLine;
  e.in_context[0] = &source;
  e.callback_out = write;
  for (int i = 0; i < MAX_STREAMS; ++i) e.out_context[i] = out_context[i];
  CoreEnc enc(e);

  const bool strongest = setting_ == RECOMPRESS_STRONGEST;
  Controller control(start_, source_size_, aim_ * static_cast<double>(target_), target_, height, width);
  auto decodeInto = [&](const Line& line) {
    sink.target = line.px();
    dec.decode_line();
    line.set_guards(initial);
  };

  double toleranceSum = 0;
  largest_tolerance_ = 0;
  uint64_t written = 0;
  if (height > 0) decodeInto(origLines[1]);
  for (int y = 0; y < height; ++y) {
    const Line& cur = origLines[(y + 1) % 3];
    const Line& below = origLines[(y + 2) % 3];
    const Line& above = origLines[y % 3];
    if (y + 1 < height) decodeInto(below);
    const uint32_t* orig = cur.px();
    const uint32_t* origUp = y > 0 ? above.px() : orig;
    const uint32_t* origDown = y + 1 < height ? below.px() : orig;

    const Line& upLine = newLines[y % 2];
    const Line& outLine = newLines[(y + 1) % 2];
    uint32_t* out = outLine.px();
    // Lead pixels and fill as they are.
    std::copy(orig, orig + first, out);
    std::copy(orig + end, orig + width, out + end);
    int tolerance = kFullTolerance;
    if (!strongest) tolerance = source_size_ > 0 ? control.next(y, written) : static_cast<int>(start_);
    const int allowed = ReplaceLine(orig, origUp, origDown, upLine.px(), out, first, end, tolerance, bits);
    outLine.set_guards(initial);
    toleranceSum += tolerance;
    largest_tolerance_ = std::max(largest_tolerance_, allowed);

    source = NextLine{reinterpret_cast<const unsigned char*>(out), lineBytes, 0};
    written = enc.encode_line();
    if (!strongest) control.update(dec.consumed(), written);
  }
  dec.terminate();
  last_size_ = enc.terminate();
  mean_tolerance_ = height > 0 ? toleranceSum / height : 0;
  return last_size_ > target_ ? RECOMPRESS_TOO_LARGE : 0;
}

}  // namespace mivo
