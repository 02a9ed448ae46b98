#include "mivolrle.h"

#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mivo {

void Referer::init_pref(int d) {
  differ = d;
  source = SOURCE_CURRENT;
  offset = -1;
  if (d == DIFFER_LEFT) {
    type = REFERER_LEFT;
  } else if (d > DIFFER_LEFT && d <= DIFFER_LEFT_MAX) {
    type = REFERER_MATCH;
    offset = -d;
  } else if (d >= DIFFER_UP_LEFT && d <= DIFFER_UP_RIGHT2) {
    type = REFERER_MATCH;
    source = SOURCE_PREVIOUS;
    offset = d - DIFFER_UP;
  } else if (d == DIFFER_RUC) {
    type = REFERER_RUC;
  } else if (d == DIFFER_CONSTANT) {
    type = REFERER_MATCH;
    source = SOURCE_CONSTANT;
    offset = 0;
  } else if (d == DIFFER_END) {
    type = REFERER_UNUSED;
  } else {
    throw Exception(120, "Referer::init_pref(): referer can't constructed");
  }
}

namespace {

// Error byte of pixel byte p against prediction byte q, and its inverse.
inline uint8_t ErrorByte(int method, uint8_t p, uint8_t q) {
  switch (method) {
    case ERROR_METHOD_DIFF: return static_cast<uint8_t>(p - q);
    case ERROR_METHOD_XOR: return static_cast<uint8_t>(p ^ q);
    default: return p;
  }
}

inline uint8_t RebuildByte(int method, uint8_t q, int e) {
  switch (method) {
    case ERROR_METHOD_DIFF: return static_cast<uint8_t>(q + e);
    case ERROR_METHOD_XOR: return static_cast<uint8_t>(q ^ e);
    default: return static_cast<uint8_t>(e);
  }
}

// Pixels as integers of their storage size, so that runs compare whole pixels.
template <class P>
inline uint64_t PixelValue(P p) {
  return static_cast<uint64_t>(p);
}

// True when the pixel has the given number of colour components and the
// error symbols of component k go to stream k + 1 of five.
bool SplitErrors(const Info& info, int colours) {
  if (info.colour_components != colours || info.stream_count != MAX_STREAMS) return false;
  for (int k = 0; k < colours; ++k)
    if (info.error_stream(k) != k + 1) return false;
  return true;
}

// Calls f(k) for the components k = 0 .. count - 1; with a fixed count C the
// calls are spelt out, so that k is a constant in each.
template <int C, class F>
inline void ForComponents(int count, F&& f) {
  if constexpr (C > 0) {
    [&]<int... K>(std::integer_sequence<int, K...>) { (f(K), ...); }(std::make_integer_sequence<int, C>{});
  } else {
    for (int k = 0; k < count; ++k) f(k);
  }
}

// matches[i] for x <= i < width: bit r set when cur[i] == base[r][i].
template <class P>
void MarkMatches(const P* cur, const P* const* base, int x, int width, uint32_t* matches) {
  const P *b0 = base[0], *b1 = base[1], *b2 = base[2], *b3 = base[3], *b4 = base[4];
  int i = x;
  if constexpr (sizeof(P) == 4) {
    // Four pixels at a time in vector registers.
    using V = uint32_t __attribute__((vector_size(16)));
    auto load = [](const P* p) {
      V v;
      std::memcpy(&v, p, sizeof v);
      return v;
    };
    for (; i + 4 <= width; i += 4) {
      const V v = load(cur + i);
      const V m = ((load(b0 + i) == v) & 1) | ((load(b1 + i) == v) & 2) | ((load(b2 + i) == v) & 4) |
                  ((load(b3 + i) == v) & 8) | ((load(b4 + i) == v) & 16);
      std::memcpy(matches + i, &m, sizeof m);
    }
  }
  for (; i < width; ++i) {
    const P v = cur[i];
    matches[i] = static_cast<uint32_t>(b0[i] == v) | static_cast<uint32_t>(b1[i] == v) << 1 |
                 static_cast<uint32_t>(b2[i] == v) << 2 | static_cast<uint32_t>(b3[i] == v) << 3 |
                 static_cast<uint32_t>(b4[i] == v) << 4;
  }
}

// The first i in [k, limit) with a[i] != b[i] (b[i] == c for every i when b
// is null), or limit. Most runs of a photograph are a few pixels long: four
// pixels compared at once end such a run without a branch per pixel.
template <class P>
inline int RunEnd(const P* a, const P* b, P c, int k, int limit) {
#if defined(__SSE2__)
  if constexpr (sizeof(P) == 4) {
    const __m128i cv = _mm_set1_epi32(static_cast<int>(c));
    for (; k + 4 <= limit; k += 4) {
      const __m128i av = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
      const __m128i bv = b ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k)) : cv;
      const unsigned same = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(av, bv))));
      if (same != 15u) return k + std::countr_one(same);
    }
  }
#endif
  if (b) {
    while (k < limit && a[k] == b[k]) ++k;
  } else {
    while (k < limit && a[k] == c) ++k;
  }
  return k;
}

// The error bytes of a pixel of C components against its prediction, byte k
// at bits 8k.
template <class P, int C>
inline uint32_t ErrorWord(int method, uint64_t pv, uint64_t qv);

// Shift of the k-th byte of a pixel held as an integer of its storage size.
template <class P>
constexpr int ByteShift(int k) {
  return std::endian::native == std::endian::little ? 8 * k : 8 * (static_cast<int>(sizeof(P)) - 1 - k);
}

// Offset in memory of the byte at bits 8k of a 32-bit word.
constexpr int WordByteOffset(int k) { return std::endian::native == std::endian::little ? k : 3 - k; }

template <class P>
inline uint8_t PixelByte(uint64_t pixel, int k) {
  return static_cast<uint8_t>(pixel >> ByteShift<P>(k));
}

template <class P, int C>
inline uint32_t ErrorWord(int method, uint64_t pv, uint64_t qv) {
  static_assert(C >= 1 && C <= 4, "error words hold up to four bytes");
  if constexpr (C == 4 && sizeof(P) == 4 && std::endian::native == std::endian::little) {
    const uint32_t p = static_cast<uint32_t>(pv), q = static_cast<uint32_t>(qv);
    if (method == ERROR_METHOD_DIFF) {
      // Four byte-wise differences modulo 256 at once.
      constexpr uint32_t kHigh = 0x80808080u;
      return ((p | kHigh) - (q & ~kHigh)) ^ ((p ^ ~q) & kHigh);
    }
    return method == ERROR_METHOD_XOR ? p ^ q : p;
  }
  uint32_t word = 0;
  for (int k = 0; k < C; ++k)
    word |= static_cast<uint32_t>(ErrorByte(method, PixelByte<P>(pv, k), PixelByte<P>(qv, k))) << (8 * k);
  return word;
}

// The pixel of C components rebuilt from its prediction and the error bytes
// (byte k at ByteShift<P>(k)); the inverse of ErrorWord.
template <class P, int C>
inline P RebuildWord(int method, uint64_t qv, uint32_t e) {
  static_assert(C >= 1 && C <= 4, "error words hold up to four bytes");
  if constexpr (C == 4 && sizeof(P) == 4) {
    const uint32_t q = static_cast<uint32_t>(qv);
    if (method == ERROR_METHOD_DIFF) {
      // Four byte-wise sums modulo 256 at once.
      constexpr uint32_t kHigh = 0x80808080u;
      return static_cast<P>(((q & ~kHigh) + (e & ~kHigh)) ^ ((q ^ e) & kHigh));
    }
    return static_cast<P>(method == ERROR_METHOD_XOR ? q ^ e : e);
  }
  uint64_t v = 0;
  for (int k = 0; k < C; ++k)
    v |= static_cast<uint64_t>(RebuildByte(method, PixelByte<P>(qv, k), static_cast<uint8_t>(e >> ByteShift<P>(k))))
         << ByteShift<P>(k);
  return static_cast<P>(v);
}

}  // namespace

// ---- Encoder ---------------------------------------------------------------

void LrleEnc::emit_pending(HuffmanEnc& h) {
  if (!pending()) return;
  h.put_line_mode(pending_symbol_);
  h.put_run(pending_run_);
  offset_ = offset_after_run(pending_run_);
  pending_symbol_ = LINE_MODE_MARKER;
  pending_run_ = 0;
}

template <class P>
void LrleEnc::code_error(HuffmanEnc& h, const P* cur, int x) {
  const P pix = cur[x];
  const P pred = referers_[predictor_].reference<P>(image_)[x];
  unsigned char pb[sizeof(P)], qb[sizeof(P)];
  std::memcpy(pb, &pix, sizeof(P));
  std::memcpy(qb, &pred, sizeof(P));
  const int colours = info_.colour_components;
  const int method = info_.error_method;
  int tag = -1;
  if (info_.tag_bits) {
    const int mask = (1 << info_.tag_bits) - 1;
    const uint8_t pt = pb[colours], qt = qb[colours];
    tag = info_.tag_method == 3 ? (pt & mask) : ((info_.tag_method == 1 ? pt - qt : pt ^ qt) & mask);
    if (info_.tag_position == 1) h.put_tag(tag);
  }
  if (method == ERROR_METHOD_DIFF) {
    for (int k = 0; k < colours; ++k) h.put_error(error_stream_[k], static_cast<int8_t>(pb[k] - qb[k]));
  } else {
    for (int k = 0; k < colours; ++k) h.put_error(error_stream_[k], static_cast<int8_t>(ErrorByte(method, pb[k], qb[k])));
  }
  if (tag >= 0 && info_.tag_position == 0) h.put_tag(tag);
  remember_colour(PixelValue(pix));
}

template <class P>
void LrleEnc::code_line(HuffmanEnc& h) {
  P* cur = image_.cur<P>();
  const int width = info_.line_pixels;
  const int maxrun = info_.max_run;
  int x = 0;

  // A run pending from the line above goes on from the first pixel.
  if (pending()) {
    Predictor& r = at(0);
    const int k = r.run(cur, r.reference<P>(image_), 0, std::min(width, maxrun - pending_run_));
    pending_run_ += k;
    if (k == width) return;
    x = k;
    emit_pending(h);
  }

  const P* base[DIFFER_COUNT];
  for (int i = 0; i < DIFFER_COUNT; ++i) base[i] = referers_[i].reference<P>(image_);

  if (info_.tag_bits == 0) {
    if (SplitErrors(info_, 4) && sizeof(P) == 4) {
      code_pixels<P, 4>(h, cur, base, x);
    } else if (SplitErrors(info_, 1) && sizeof(P) == 1) {
      code_pixels<P, 1>(h, cur, base, x);
    } else {
      code_pixels<P, 0>(h, cur, base, x);
    }
    return;
  }

  while (x < width) {
    const int limit = std::min(width - x, maxrun);
    int best = 0;
    int bestPos = -1;
    P bestColour = 0;
    for (int p = offset_ < 0 ? 1 : 0; p < DIFFER_COUNT; ++p) {
      const int idx = order_[p];
      const Predictor& r = referers_[idx];
      int k = 0;
      if (r.type == REFERER_RUC) {
        const P v = r.ruc_colour(cur, x);
        while (k < limit && cur[x + k] == v) ++k;
        if (k > best) bestColour = v;
      } else if (r.type != REFERER_UNUSED) {
        const P* a = cur + x;
        const P* b = base[idx] + x;
        while (k < limit && a[k] == b[k]) ++k;
      }
      if (k > best) {
        best = k;
        bestPos = p;
        if (k == limit) break;  // nothing later can be longer
      }
    }

    if (best > 0) {
      const int sym = bestPos + offset_;
      move_to_front(bestPos);
      if (order_[0] == ruc_) referers_[ruc_].run_colour = PixelValue(bestColour);
      if (sym == 0) ++h.toggle_count;
      if (x + best == width) {
        pending_symbol_ = sym;
        pending_run_ = best;
        return;
      }
      h.put_line_mode(sym);
      h.put_run(best);
      x += best;
      offset_ = offset_after_run(best);
    } else {
      --h.toggle_count;
      h.put_line_mode(LINE_MODE_ERROR);
      code_error(h, cur, x);
      ++x;
      offset_ = 0;
    }
  }
}

// The coding loop of lines without a tag plane. It makes the same choices as
// the general loop of code_line, but keeps the model state and the streams'
// bit writers in locals, and tests the first pixel of every referer at once:
// most positions of a photo give no run, and those go straight to error
// coding.
//
// C > 0: the pixel has C colour components and the error symbols of
// component k go to stream k + 1 of five; the loops then have fixed counts
// and the writers can live in registers. C = 0: any layout.
template <class P, int C>
void LrleEnc::code_pixels(HuffmanEnc& h, const P* cur, const P* const* base, int x) {
  const int width = info_.line_pixels;
  const int maxrun = info_.max_run;
  const int colours = C ? C : info_.colour_components;
  const int method = info_.error_method;
  const int ruc = ruc_;
  const int streams = C ? MAX_STREAMS : h.stream_count();
  const DirectCodewordEnc* lineCodes = h.line_mode_codes();
  const DirectCodewordEnc* runCodes = h.run_codes();
  const DirectCodewordEnc* errorCodes = h.error_codes();
  const P* pred = base[predictor_];
  // The line-mode table changes only between lines.
  const DirectCodewordEnc errorLineCode = lineCodes[LINE_MODE_ERROR];

  // Referers whose run is a plain comparison with base[i].
  unsigned compared = 0;
  for (int i = 0; i < DIFFER_COUNT; ++i)
    if (referers_[i].type == REFERER_MATCH || referers_[i].type == REFERER_LEFT) compared |= 1u << i;

  BitWriter w[MAX_STREAMS];
  for (int s = 0; s < streams; ++s) w[s] = h.stream(s).writer();
  int order[DIFFER_COUNT];
  std::copy(order_, order_ + DIFFER_COUNT, order);
  int offset = offset_;
  int toggle = h.toggle_count;
  int stream[8];
  std::copy(error_stream_, error_stream_ + 8, stream);

  // Which referers reproduce each pixel: the coding loop reads one word per
  // pixel instead of comparing five. After an error-coded pixel, more
  // usually follow, so a stretch of pixels is looked at in one loop that
  // the compiler can vectorise; after a run only the next pixel is, since
  // another run may well jump over the stretch.
  constexpr int kStretch = 32;
  uint32_t* matches = reinterpret_cast<uint32_t*>(matches_.data());
  int marked = x;  // matches[] is valid from x up to marked
  bool afterRun = true;
  const P *b0 = base[0], *b1 = base[1], *b2 = base[2], *b3 = base[3], *b4 = base[4];
  // Bit r set when pixel i equals base[r][i], as in matches[].
  auto matchesAt = [&](int i) {
    const P v = cur[i];
    return static_cast<unsigned>(b0[i] == v) | static_cast<unsigned>(b1[i] == v) << 1 |
           static_cast<unsigned>(b2[i] == v) << 2 | static_cast<unsigned>(b3[i] == v) << 3 |
           static_cast<unsigned>(b4[i] == v) << 4;
  };

  // With C > 0 the error bytes of the line's error-coded pixels are kept
  // (C bytes packed in a word) and written stream by stream after the line,
  // each stream in one tight loop; the main stream's writer stays in
  // registers meanwhile.
  uint32_t* errors = reinterpret_cast<uint32_t*>(errors_.data());
  int errorCount = 0;
  BitWriter mw = w[MAIN_STREAM];
  // The RUC referer's remembered colours, in registers while the line is
  // coded (every error-coded pixel changes them).
  uint64_t ruc0 = ruc >= 0 ? referers_[ruc].c0 : 0;
  uint64_t ruc1 = ruc >= 0 ? referers_[ruc].c1 : 0;
  auto rucColour = [&](int at) { return static_cast<P>(ruc0) == cur[at - 1] ? static_cast<P>(ruc1) : static_cast<P>(ruc0); };
  // With C > 0, the line-mode codewords of consecutive error-coded pixels
  // are all the same: they are counted and written together, as many as
  // fit one put, before the next other codeword of the main stream.
  const int errorModeLen = errorLineCode.len;
  const int errorModesPerPut = errorModeLen > 0 ? 32 / errorModeLen : 1;
  uint64_t errorModes = 0;  // the codeword repeated errorModesPerPut times
  for (int i = 0; i < errorModesPerPut; ++i) errorModes = (errorModes << errorModeLen) | errorLineCode.code;
  int errorModesHeld = 0;

  auto put = [&w](int s, const DirectCodewordEnc& c) {
    if (c.len == 0) [[unlikely]] HuffmanEnc::undefined_symbol();
    w[s].put(c.code, c.len);
  };
  auto putMain = [&](const DirectCodewordEnc& c) {
    if (c.len == 0) [[unlikely]] HuffmanEnc::undefined_symbol();
    if constexpr (C > 0) {
      mw.put(c.code, c.len);
    } else {
      w[MAIN_STREAM].put(c.code, c.len);
    }
  };
  auto flushErrorModes = [&]() {
    if constexpr (C > 0) {
      if (errorModesHeld == 0) return;
      if (errorModeLen == 0) [[unlikely]] HuffmanEnc::undefined_symbol();
      while (errorModesHeld > errorModesPerPut) {
        mw.put(static_cast<uint32_t>(errorModes), errorModesPerPut * errorModeLen);
        errorModesHeld -= errorModesPerPut;
      }
      const int bits = errorModesHeld * errorModeLen;
      mw.put(static_cast<uint32_t>(errorModes & ((uint64_t{1} << bits) - 1)), bits);
      errorModesHeld = 0;
    }
  };
  auto putRun = [&](int length) {
    if (length <= RUN_DIRECT_MAX) {
      putMain(runCodes[length - 1]);
    } else {
      putMain(h.long_run_code(length));
    }
  };

  while (x < width) {
    const P v = cur[x];
    unsigned match;
    if (x < marked) {
      match = matches[x];
    } else if (afterRun) {
      match = matchesAt(x);
    } else {
      marked = std::min(width, x + kStretch);
      MarkMatches(cur, base, x, marked, matches);
      match = matches[x];
    }
    match &= compared;
    if (ruc >= 0 && v == rucColour(x)) match |= 1u << ruc;
    if (offset < 0) match &= ~(1u << order[0]);

    if (match == 0) {
      // No referer gives a run: code the pixel by its errors.
      --toggle;
      if constexpr (C > 0) {
        ++errorModesHeld;
      } else {
        putMain(errorLineCode);
      }
      const uint64_t pv = PixelValue(v);
      const uint64_t qv = PixelValue(pred[x]);
      if constexpr (C > 0) {
        errors[errorCount++] = ErrorWord<P, C>(method, pv, qv);
      } else if (method == ERROR_METHOD_DIFF) {
        ForComponents<C>(colours, [&](int k) {
          put(C ? k + 1 : stream[k], errorCodes[static_cast<int8_t>(PixelByte<P>(pv, k) - PixelByte<P>(qv, k)) + 128]);
        });
      } else {
        ForComponents<C>(colours, [&](int k) {
          put(C ? k + 1 : stream[k],
              errorCodes[static_cast<int8_t>(ErrorByte(method, PixelByte<P>(pv, k), PixelByte<P>(qv, k))) + 128]);
        });
      }
      ruc0 = ruc1;
      ruc1 = PixelValue(v);
      ++x;
      offset = 0;
      afterRun = false;
      continue;
    }

    // Some referer gives a run: the longest one, the earliest on a tie.
    // Most runs of a photograph are one pixel long: the referers that also
    // give the next pixel are found at once, and when there is none the
    // earliest referer in the order wins without measuring any run.
    const int limit = std::min(width - x, maxrun);
    const P rucC = ruc >= 0 ? rucColour(x) : 0;
    unsigned longer = 0;
    if (limit >= 2) {
      const int i = x + 1;
      longer = (i < marked ? matches[i] : matchesAt(i)) & compared;
      if (ruc >= 0 && cur[i] == rucC) longer |= 1u << ruc;
      longer &= match;
    }
    int best = 0;
    int bestPos = -1;
    if (longer == 0) {
      best = 1;
      bestPos = 0;
      while (!(match & (1u << order[bestPos]))) ++bestPos;
    } else {
      for (int p = 0; p < DIFFER_COUNT; ++p) {
        const int idx = order[p];
        if (!(longer & (1u << idx))) continue;
        const P* a = cur + x;
        const int k = idx == ruc ? RunEnd<P>(a, nullptr, rucC, 2, limit) : RunEnd<P>(a, base[idx] + x, 0, 2, limit);
        if (k > best) {
          best = k;
          bestPos = p;
          if (k == limit) break;  // nothing later can be longer
        }
      }
    }
    const int sym = bestPos + offset;
    const int r = order[bestPos];
    for (int i = bestPos; i > 0; --i) order[i] = order[i - 1];
    order[0] = r;
    if (r == ruc) referers_[ruc].run_colour = PixelValue(rucC);
    if (sym == 0) ++toggle;
    if (x + best == width) {
      pending_symbol_ = sym;
      pending_run_ = best;
      break;
    }
    flushErrorModes();
    if (best <= RUN_DIRECT_MAX) {
      // Line-mode symbol and run length in one put: at most 5 + 15 bits.
      const DirectCodewordEnc lm = lineCodes[sym];
      const DirectCodewordEnc rc = runCodes[best - 1];
      if (lm.len == 0 || rc.len == 0) [[unlikely]] HuffmanEnc::undefined_symbol();
      putMain(DirectCodewordEnc{(lm.code << rc.len) | rc.code, static_cast<uint8_t>(lm.len + rc.len)});
    } else {
      putMain(lineCodes[sym]);
      putRun(best);
    }
    x += best;
    offset = (best == maxrun || r == ruc) ? 0 : -1;
    afterRun = true;
  }

  if (ruc >= 0) {
    referers_[ruc].c0 = ruc0;
    referers_[ruc].c1 = ruc1;
  }
  if constexpr (C > 0) {
    flushErrorModes();
    w[MAIN_STREAM] = mw;
    const bool complete = h.error_codes_complete();
    ForComponents<C>(colours, [&](int k) {
      // Locals, so that the byte stores of the writer cannot make the
      // compiler reload them.
      BitWriter ew = w[k + 1];
      const int n = errorCount;
      int i = 0;
      if (complete) {
        // Every error byte has a codeword of at most ERROR_CODE_BITS_MAX
        // bits: four of them join the at most 7 bits held (after a put) and
        // go out with one store, which moves the writer by at most six
        // bytes, so this many quads go without the test for room; near the
        // end of the block and for the last few, one at a time.
        static_assert(7 + 4 * ERROR_CODE_BITS_MAX <= 64, "four codewords fit the accumulator");
        const unsigned char* e = reinterpret_cast<const unsigned char*>(errors) + WordByteOffset(k);
        const DirectCodewordEnc* codes = h.error_codes_by_byte();
        while (i < n) {
          const DirectCodewordEnc& c = codes[e[4 * i]];
          ew.put(c.code, c.len);  // also brings the bits held down to at most 7
          ++i;
          const ptrdiff_t room = (ew.end - ew.ptr - 16) / 6;
          const int quads = room > 0 ? static_cast<int>(std::min<ptrdiff_t>(room, (n - i) / 4)) : 0;
          for (const int stop = i + 4 * quads; i < stop; i += 4) {
            const unsigned char* q = e + 4 * i;
            const DirectCodewordEnc c0 = codes[q[0]], c1 = codes[q[4]], c2 = codes[q[8]], c3 = codes[q[12]];
            ew.append(c0.code, c0.len);
            ew.append(c1.code, c1.len);
            ew.append(c2.code, c2.len);
            ew.append(c3.code, c3.len);
            ew.store_whole_bytes();
          }
        }
      }
      const uint32_t* e = errors;
      const DirectCodewordEnc* codes = errorCodes;
      const int shift = 8 * k;
      while (i < n) {
        // An error codeword has at most 12 bits, so it moves the writer by
        // at most two bytes (five for the first, after up to 31 bits held):
        // this many go without the test for room.
        const ptrdiff_t room = (ew.end - ew.ptr - 16) / 2;
        const int batch = room > 0 ? static_cast<int>(std::min<ptrdiff_t>(room, n - i)) : 0;
        for (const int stop = i + batch; i < stop; ++i) {
          const DirectCodewordEnc& c = codes[((e[i] >> shift) & 0xff) ^ 0x80];
          if (c.len == 0) [[unlikely]] HuffmanEnc::undefined_symbol();
          ew.put_within(c.code, c.len);
        }
        if (batch == 0) {
          const DirectCodewordEnc& c = codes[((e[i] >> shift) & 0xff) ^ 0x80];
          if (c.len == 0) [[unlikely]] HuffmanEnc::undefined_symbol();
          ew.put(c.code, c.len);
          ++i;
        }
      }
      w[k + 1] = ew;
    });
  }
  for (int s = 0; s < streams; ++s) h.stream(s).take(w[s]);
  std::copy(order, order + DIFFER_COUNT, order_);
  offset_ = offset;
  h.toggle_count = toggle;
}

// ---- Decoder ---------------------------------------------------------------

template <class P>
void LrleDec::decode_error(HuffmanDec& h, P* cur, const P* predictions, int x) {
  const P pred = predictions[x];
  unsigned char qb[sizeof(P)];
  unsigned char pb[sizeof(P)] = {};
  std::memcpy(qb, &pred, sizeof(P));
  const int colours = info_.colour_components;
  const int method = info_.error_method;
  int tag = -1;
  if (info_.tag_bits && info_.tag_position == 1) tag = h.get_tag();
  if (method == ERROR_METHOD_DIFF) {
    for (int k = 0; k < colours; ++k) pb[k] = static_cast<uint8_t>(qb[k] + h.get_error(error_stream_[k]));
  } else {
    for (int k = 0; k < colours; ++k) pb[k] = RebuildByte(method, qb[k], h.get_error(error_stream_[k]));
  }
  if (info_.tag_bits && info_.tag_position == 0) tag = h.get_tag();
  if (info_.tag_bits) {
    const int mask = (1 << info_.tag_bits) - 1;
    const uint8_t qt = qb[colours];
    pb[colours] = static_cast<uint8_t>(
        (info_.tag_method == 3 ? tag : info_.tag_method == 1 ? qt + tag : qt ^ tag) & mask);
  }
  P pix;
  std::memcpy(&pix, pb, sizeof(P));
  cur[x] = pix;
  remember_colour(PixelValue(pix));
}

template <class P>
int LrleDec::decode_symbols(HuffmanDec& h) {
  P* cur = image_.cur<P>();
  const int width = info_.line_pixels;

  // The rest of a run from the line above.
  if (remaining_ > 0 && x_ < width) {
    Distributor& r = at(0);
    const int n = std::min(remaining_, width - x_);
    r.distribute_run(cur, r.reference<P>(image_), x_, n);
    x_ += n;
    remaining_ -= n;
    if (remaining_ == 0) offset_ = offset_after_run(run_length_);
  }

  // The predictor's line stays put while this line is decoded (markers that
  // change the model are handled between calls).
  const P* predictions = referers_[predictor_].reference<P>(image_);
  if (info_.tag_bits == 0) {
    if (SplitErrors(info_, 4) && sizeof(P) == 4) return decode_pixels<P, 4>(h, cur, predictions);
    if (SplitErrors(info_, 1) && sizeof(P) == 1) return decode_pixels<P, 1>(h, cur, predictions);
    return decode_pixels<P, 0>(h, cur, predictions);
  }
  const int colours = info_.colour_components;
  const bool plainErrors = info_.error_method == ERROR_METHOD_DIFF && info_.tag_bits == 0;

  while (x_ < width) {
    const int sym = h.get_line_mode();
    if (sym == LINE_MODE_ERROR && plainErrors) {
      // The common case of decode_error: differences, no tag.
      unsigned char qb[sizeof(P)];
      unsigned char pb[sizeof(P)] = {};
      std::memcpy(qb, &predictions[x_], sizeof(P));
      for (int k = 0; k < colours; ++k) pb[k] = static_cast<uint8_t>(qb[k] + h.get_error(error_stream_[k]));
      P pix;
      std::memcpy(&pix, pb, sizeof(P));
      cur[x_] = pix;
      remember_colour(PixelValue(pix));
      ++x_;
      offset_ = 0;
    } else if (sym < LINE_MODE_REFERERS) {
      const int pos = sym - offset_;
      if (pos >= DIFFER_COUNT) Distributor::unused();
      move_to_front(pos);
      Distributor& r = at(0);
      if (r.type == REFERER_RUC) r.run_colour = PixelValue(r.ruc_colour(cur, x_));
      const int length = h.get_run();
      run_length_ = length;
      const int n = std::min(length, width - x_);
      r.distribute_run(cur, r.reference<P>(image_), x_, n);
      x_ += n;
      remaining_ = length - n;
      if (remaining_ == 0) offset_ = offset_after_run(length);
    } else if (sym == LINE_MODE_ERROR) {
      decode_error(h, cur, predictions, x_);
      ++x_;
      offset_ = 0;
    } else {
      return h.get_marker();
    }
  }
  return -1;
}

// The decoding loop of lines without a tag plane: the inverse of
// LrleEnc::code_pixels, with the model state and the streams' bit readers in
// locals. It leaves the model as decode_symbols does, also when it throws.
// C as for LrleEnc::code_pixels.
template <class P, int C>
int LrleDec::decode_pixels(HuffmanDec& h, P* cur, const P* predictions) {
  const int width = info_.line_pixels;
  const int colours = C ? C : info_.colour_components;
  const int method = info_.error_method;
  const int streams = C ? MAX_STREAMS : h.stream_count();
  const FastCodewordDec* lineFast = h.fast_table(ALPHA_LINE_MODE);
  const FastCodewordDec* runFast = h.fast_table(ALPHA_RUN);
  const FastCodewordDec* errorFast = h.fast_table(ALPHA_ERROR);
  const FastCodewordDec* markerFast = h.fast_table(ALPHA_MARKER);
  const P* base[DIFFER_COUNT];
  for (int i = 0; i < DIFFER_COUNT; ++i) base[i] = referers_[i].reference<P>(image_);
  int stream[8];
  std::copy(error_stream_, error_stream_ + 8, stream);

  BitReader r[MAX_STREAMS];
  for (int s = 0; s < streams; ++s) r[s] = h.stream(s).reader();
  // The referer order packed four bits a place, so that a move to the
  // front is a few register operations; and the referers' kinds as masks.
  uint32_t order = 0;
  for (int i = 0; i < DIFFER_COUNT; ++i) order |= static_cast<uint32_t>(order_[i]) << (4 * i);
  unsigned unusedMask = 0, currentMask = 0;
  for (int i = 0; i < DIFFER_COUNT; ++i) {
    if (referers_[i].type == REFERER_UNUSED) unusedMask |= 1u << i;
    if (referers_[i].source == SOURCE_CURRENT) currentMask |= 1u << i;
  }
  const int ruc = ruc_;
  const int maxRun = info_.max_run;
  int x = x_;
  int offset = offset_;
  int unchecked = 0;  // error-coded pixels whose symbols need no bit-count check
  // With a complete error table of short codewords, a top-up to 56 bits
  // holds the codewords of this many pixels whole.
  const ErrorCodewordDec* errorFull = C > 0 ? h.error_full_table() : nullptr;
  constexpr int kFullPixels = 56 / ERROR_CODE_BITS_MAX;
  auto store = [&]() {
    for (int s = 0; s < streams; ++s) h.stream(s).take(r[s]);
    for (int i = 0; i < DIFFER_COUNT; ++i) order_[i] = static_cast<int>((order >> (4 * i)) & 15u);
    x_ = x;
    offset_ = offset;
  };

  int marker = -1;
  try {
    while (x < width) {
      const int sym = h.get_value(r[MAIN_STREAM], lineFast, ALPHA_LINE_MODE);
      if (sym == LINE_MODE_ERROR) {
        // The pixel is put together in a register: byte stores followed by
        // a wide load would stall.
        const uint64_t q = PixelValue(predictions[x]);
        uint64_t v = 0;
        if constexpr (C > 0) {
          // Each error stream gives one symbol per error-coded pixel. After
          // a top-up to 56 bits each stream holds five short codewords (at
          // most FAST_BITS bits each), so the next five pixels skip the
          // test for a refill, a branch that no processor foresees; the
          // codeword's length is still checked against the bits held, and
          // anything else goes the checked way.
          if (unchecked == 0) {
            bool all = true;
            ForComponents<C>(C, [&](int k) { all = r[k + 1].top_up() && all; });
            unchecked = all ? (errorFull ? kFullPixels : 5) : 0;
          }
          if (unchecked > 0 && errorFull) {
            // Each stream holds the codewords of the next kFullPixels
            // pixels whole, and every bit pattern begins one: no test at all.
            --unchecked;
            uint32_t e = 0;
            ForComponents<C>(C, [&](int k) {
              BitReader& rd = r[k + 1];
              const ErrorCodewordDec f = errorFull[rd.acc >> (64 - ERROR_CODE_BITS_MAX)];
              rd.drop(f.len);
              e |= static_cast<uint32_t>(f.byte) << ByteShift<P>(k);
            });
            const P pix = RebuildWord<P, C>(method, q, e);
            cur[x] = pix;
            remember_colour(PixelValue(pix));
            ++x;
            offset = 0;
            continue;
          }
          if (unchecked > 0) {
            --unchecked;
            ForComponents<C>(C, [&](int k) {
              BitReader& rd = r[k + 1];
              const FastCodewordDec f = errorFast[rd.acc >> (64 - FAST_BITS)];
              int e;
              if (f.len <= rd.bits) [[likely]] {
                rd.drop(f.len);
                e = f.value;
              } else {
                e = h.get_value(rd, errorFast, ALPHA_ERROR);
                unchecked = 0;
              }
              const uint8_t b = method == ERROR_METHOD_DIFF ? static_cast<uint8_t>(PixelByte<P>(q, k) + e)
                                                            : RebuildByte(method, PixelByte<P>(q, k), e);
              v |= static_cast<uint64_t>(b) << ByteShift<P>(k);
            });
            const P pix = static_cast<P>(v);
            cur[x] = pix;
            remember_colour(PixelValue(pix));
            ++x;
            offset = 0;
            continue;
          }
        }
        if (method == ERROR_METHOD_DIFF) {
          ForComponents<C>(colours, [&](int k) {
            const int e = h.get_value(r[C ? k + 1 : stream[k]], errorFast, ALPHA_ERROR);
            v |= static_cast<uint64_t>(static_cast<uint8_t>(PixelByte<P>(q, k) + e)) << ByteShift<P>(k);
          });
        } else {
          ForComponents<C>(colours, [&](int k) {
            const int e = h.get_value(r[C ? k + 1 : stream[k]], errorFast, ALPHA_ERROR);
            v |= static_cast<uint64_t>(RebuildByte(method, PixelByte<P>(q, k), e)) << ByteShift<P>(k);
          });
        }
        const P pix = static_cast<P>(v);
        cur[x] = pix;
        remember_colour(PixelValue(pix));
        ++x;
        offset = 0;
      } else if (sym < LINE_MODE_REFERERS) {
        const int pos = sym - offset;
        if (pos >= DIFFER_COUNT) Distributor::unused();
        const unsigned shift = 4 * static_cast<unsigned>(pos);
        const int idx = static_cast<int>((order >> shift) & 15u);
        order = (order & ~((16u << shift) - 1)) | ((order & ((1u << shift) - 1)) << 4) | static_cast<uint32_t>(idx);
        if (idx == ruc) referers_[ruc].run_colour = PixelValue(referers_[ruc].ruc_colour(cur, x));
        const int length = h.get_value(r[MAIN_STREAM], runFast, ALPHA_RUN);
        run_length_ = length;
        const int n = std::min(length, width - x);
        if (unusedMask & (1u << idx)) Distributor::unused();
        if (idx == ruc) {
          std::fill(cur + x, cur + x + n, static_cast<P>(referers_[ruc].run_colour));
        } else {
          Distributor::copy_run(cur, base[idx], x, n, !(currentMask & (1u << idx)));
        }
        x += n;
        remaining_ = length - n;
        if (remaining_ == 0) offset = (length == maxRun || idx == ruc) ? 0 : -1;
      } else {
        marker = h.get_value(r[MAIN_STREAM], markerFast, ALPHA_MARKER);
        break;
      }
    }
  } catch (...) {
    store();
    throw;
  }
  store();
  return marker;
}

template void LrleEnc::code_line<uint8_t>(HuffmanEnc&);
template void LrleEnc::code_line<uint16_t>(HuffmanEnc&);
template void LrleEnc::code_line<uint32_t>(HuffmanEnc&);
template void LrleEnc::code_line<uint64_t>(HuffmanEnc&);
template int LrleDec::decode_symbols<uint8_t>(HuffmanDec&);
template int LrleDec::decode_symbols<uint16_t>(HuffmanDec&);
template int LrleDec::decode_symbols<uint32_t>(HuffmanDec&);
template int LrleDec::decode_symbols<uint64_t>(HuffmanDec&);

}  // namespace mivo
