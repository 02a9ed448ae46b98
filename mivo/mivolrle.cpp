#include "mivolrle.h"

#include <cstring>

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
      if (pos >= DIFFER_COUNT) throw Exception(200, "Distributor::distribute_run(): stated is no in use");
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

template void LrleEnc::code_line<uint8_t>(HuffmanEnc&);
template void LrleEnc::code_line<uint16_t>(HuffmanEnc&);
template void LrleEnc::code_line<uint32_t>(HuffmanEnc&);
template void LrleEnc::code_line<uint64_t>(HuffmanEnc&);
template int LrleDec::decode_symbols<uint8_t>(HuffmanDec&);
template int LrleDec::decode_symbols<uint16_t>(HuffmanDec&);
template int LrleDec::decode_symbols<uint32_t>(HuffmanDec&);
template int LrleDec::decode_symbols<uint64_t>(HuffmanDec&);

}  // namespace mivo
