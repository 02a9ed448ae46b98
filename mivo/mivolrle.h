// The line model. Each line is described as runs, each copying pixels from
// one of five referers, and single pixels coded as prediction errors:
//
//   match referer (differer 2-32, 128-131, 241): pixels equal to those at a
//     fixed place on this line, the line above or the constant line
//   left-value referer (differer 1): pixels equal to the pixel to the left
//   RUC referer (differer 240): pixels of a remembered colour c0, or c1 when
//     c0 equals the pixel to the left; c0 and c1 are the last two
//     error-coded pixels
//
// The referers stand in a most-recently-used order; a run is coded by its
// referer's place in the order (line-mode symbols 0 to 4) and its length.
// After a run stopped by a mismatch the front referer cannot start a new run
// at once, so the places shift down by one (offset -1); after a run of the
// maximum length, an RUC run or an error-coded pixel they do not (offset 0).
// A run that reaches the end of a line stays pending and may go on into the
// next lines; it is written once it ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mivohuffman.h"
#include "mivoimage.h"
#include "mivoinfo.h"

namespace mivo {

enum RefererType { REFERER_UNUSED = 0, REFERER_MATCH = 1, REFERER_LEFT = 2, REFERER_RUC = 3 };
enum LineSource { SOURCE_CURRENT = 0, SOURCE_PREVIOUS = 1, SOURCE_CONSTANT = 2 };

class Referer {
 public:
  virtual ~Referer() = default;

  // Sets type, line and offset from the differer; throws on an unknown one.
  void init_pref(int differer);

  // The reference pixel for position 0 of the current line; position x reads
  // reference<P>(image)[x].
  template <class P>
  const P* reference(const ImageBuffer& image) const {
    const P* line = source == SOURCE_CURRENT    ? image.cur<P>()
                    : source == SOURCE_PREVIOUS ? image.prev<P>()
                                                : image.constant<P>();
    return line + offset;
  }
  // The colour an RUC run started at x would have.
  template <class P>
  P ruc_colour(const P* cur, int x) const {
    return static_cast<P>(c0) == cur[x - 1] ? static_cast<P>(c1) : static_cast<P>(c0);
  }

  int type = REFERER_UNUSED;
  int differ = DIFFER_END;
  int source = SOURCE_CURRENT;
  ptrdiff_t offset = -1;
  uint64_t c0 = 0;  // remembered colours (RUC)
  uint64_t c1 = 0;
  uint64_t run_colour = 0;  // colour of the RUC run in progress
};

// Encoder-side referer: measures runs.
class Predictor : public Referer {
 public:
  ~Predictor() override = default;

  // Pixels from x on (at most limit) that this referer reproduces.
  template <class P>
  int run(const P* cur, const P* ref, int x, int limit) const {
    int i = 0;
    if (type == REFERER_RUC) {
      const P v = static_cast<P>(run_colour);
      while (i < limit && cur[x + i] == v) ++i;
    } else {
      const P* a = cur + x;
      const P* b = ref + x;
      while (i < limit && a[i] == b[i]) ++i;
    }
    return i;
  }
};

// Decoder-side referer: writes runs.
class Distributor : public Referer {
 public:
  ~Distributor() override = default;

  template <class P>
  void distribute_run(P* cur, const P* ref, int x, int n) const {
    if (type == REFERER_UNUSED) unused();
    if (type == REFERER_RUC) {
      std::fill(cur + x, cur + x + n, static_cast<P>(run_colour));
    } else {
      copy_run(cur, ref, x, n, source != SOURCE_CURRENT);
    }
  }
  // The n pixels from x on copied from ref; other_line: ref is not the line
  // being written.
  template <class P>
  static void copy_run(P* cur, const P* ref, int x, int n, bool other_line) {
    if (other_line && n > 16) {
      std::copy(ref + x, ref + x + n, cur + x);
    } else {
      // Short runs (most of a photo's) and runs whose source overlaps the
      // pixels being written: forwards one by one.
      for (int i = 0; i < n; ++i) cur[x + i] = ref[x + i];
    }
  }
  // A run of a referer that is not in use.
  [[noreturn]] static void unused() { throw Exception(200, "Distributor::distribute_run(): stated is no in use"); }
};

template <class ImageT, class RefererT>
class Lrle {
 public:
  Lrle(const Info& info, int failure_number, const char* failure_message)
      : info_(info), image_(info_, failure_number, failure_message) {
    for (int k = 0; k < info_.colour_components; ++k) error_stream_[k] = info_.error_stream(k);
    apply_initial_order();
  }
  virtual ~Lrle() = default;
  Lrle(const Lrle&) = delete;
  Lrle& operator=(const Lrle&) = delete;

  // Referers from the differer list in list order; no run pending.
  void apply_initial_order() {
    ruc_ = -1;
    for (int i = 0; i < DIFFER_COUNT; ++i) {
      referers_[i] = RefererT();
      referers_[i].init_pref(info_.differ[i]);
      if (referers_[i].type == REFERER_RUC) {
        if (ruc_ >= 0) throw Exception(190, "Lrle::apply_initial_order(): RUC defined doubly");
        ruc_ = i;
      }
      order_[i] = i;
    }
    predictor_ = info_.selected_differ;
    pending_symbol_ = LINE_MODE_MARKER;
    pending_run_ = 0;
    offset_ = 0;
  }

  ImageT& image() { return image_; }
  void set_offset(int offset) { offset_ = offset; }

 protected:
  RefererT& at(int pos) { return referers_[order_[pos]]; }
  void move_to_front(int pos) {
    int r = order_[pos];
    for (int i = pos; i > 0; --i) order_[i] = order_[i - 1];
    order_[0] = r;
  }
  // Offset after a run of the given length has ended.
  int offset_after_run(int length) const { return (length == info_.max_run || order_[0] == ruc_) ? 0 : -1; }
  // After an error-coded pixel: c0 takes c1, c1 the new pixel.
  void remember_colour(uint64_t pixel) {
    if (ruc_ >= 0) {
      referers_[ruc_].c0 = referers_[ruc_].c1;
      referers_[ruc_].c1 = pixel;
    }
  }

  Info info_;
  ImageT image_;
  RefererT referers_[DIFFER_COUNT];
  int order_[DIFFER_COUNT] = {};
  int predictor_ = 0;
  int pending_symbol_ = LINE_MODE_MARKER;  // LINE_MODE_MARKER: no run pending
  int pending_run_ = 0;
  int offset_ = 0;
  int ruc_ = -1;
  int error_stream_[8] = {};  // stream of each colour component's errors
};

class LrleEnc : public Lrle<InImageBuffer, Predictor> {
 public:
  LrleEnc(const Info& info, int failure_number, const char* failure_message)
      : Lrle(info, failure_number, failure_message) {
    const size_t n = static_cast<size_t>(info_.line_pixels) + 1;
    if (!matches_.allocate(info_, n * sizeof(uint32_t)) || !errors_.allocate(info_, n * sizeof(uint32_t)))
      throw Exception(failure_number, failure_message);
  }
  ~LrleEnc() override = default;

  // Whole storage back to the initial pixel (start and end of band).
  void reset_reference_line() { image_.reset_all(); }
  bool pending() const { return pending_symbol_ != LINE_MODE_MARKER; }
  // True when the pending run writes pixels other than the initial pixel.
  // Only an RUC run can: every other referer, started at the first pixel of
  // the image, reproduces the initial pixel.
  bool pending_differs_from_initial() const {
    if (!pending() || order_[0] != ruc_) return false;
    uint64_t initial = 0;
    std::memcpy(&initial, image_.initial_pixel(), static_cast<size_t>(info_.pixel_bytes));
    return referers_[ruc_].run_colour != initial;
  }
  // Writes the pending run, if any, and clears it.
  void emit_pending(HuffmanEnc& h);
  // Codes the current line (already read).
  template <class P>
  void code_line(HuffmanEnc& h);

 private:
  template <class P>
  void code_error(HuffmanEnc& h, const P* cur, int x);
  template <class P, int C>
  void code_pixels(HuffmanEnc& h, const P* cur, const P* const* base, int x);

  // Per pixel of the line: bit i set when the pixel equals base[i] there.
  Buffer matches_;
  // The error bytes of the line's error-coded pixels (see code_pixels).
  Buffer errors_;
};

class LrleDec : public Lrle<OutImageBuffer, Distributor> {
 public:
  LrleDec(const Info& info, int failure_number, const char* failure_message)
      : Lrle(info, failure_number, failure_message) {}
  ~LrleDec() override = default;

  void reset_reference_line() { image_.reset_all(); }
  void start_line() {
    image_.swap_lines();
    x_ = 0;
  }
  // Decodes until the line is complete (-1) or a marker has been read (its
  // number; the position is kept for the next call).
  template <class P>
  int decode_symbols(HuffmanDec& h);
  // The line is complete from x on (raw, copied or filled lines).
  void complete_line() {
    x_ = info_.line_pixels;
    remaining_ = 0;
  }
  int x() const { return x_; }
  int remaining() const { return remaining_; }

 private:
  template <class P>
  void decode_error(HuffmanDec& h, P* cur, const P* predictions, int x);
  template <class P, int C>
  int decode_pixels(HuffmanDec& h, P* cur, const P* predictions);

  int x_ = 0;
  int remaining_ = 0;  // pixels still to come from the run in progress
  int run_length_ = 0;
};

}  // namespace mivo
