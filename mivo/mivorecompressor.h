// The fallback recompressor: makes the code streams of a page smaller when
// they exceed a target size, at a bounded cost in fine texture.
//
// The MIVO encoder codes a pixel cheaply when it repeats one of its
// referers (the pixel to the left, or one of four pixels on the line above)
// and dearly when it must code it as prediction errors. The recompressor
// decodes the page line by line and, within the image columns, replaces a
// pixel by the new pixel straight above it when every component of the two
// differs by at most the current tolerance. Such pixels are replaced only in
// stretches of three or more, and gaps of up to two pixels between stretches
// are bridged when they lie within one and a half times the tolerance: each
// stretch extends a run of the line above, which the encoder codes in a few
// bits with one decision, while lone replaced pixels would cost a decision
// each and make the re-encode slow for little gain. Every other pixel stays
// exactly as it was. So:
//   - no sample moves by more than 1.5 times the tolerance, and edges that
//     are steeper than it keep their place and values;
//   - a pixel equal to its four neighbours (inside a flat area) stays exact;
//   - lead pixels and the fill after the image are never touched.
// The result is coded again with the same parameter set, so the same
// decoder reads it. Only five lines (and three rows of flags) are held at
// any time.
//
// One pass does the work: while it decodes, it compares the bytes written so
// far with the share of the old streams read so far and steers the
// tolerance (a fraction, spread over the lines) so that the page ends just
// below the target; should the bytes left come close to running out, the
// remaining lines collapse into runs, so a pass overshoots only a target
// that not even collapsed lines meet. The first pass only reads the old
// streams to learn their size, predicts the tolerance that size calls for
// and picks the level whose starting tolerance lies nearest below it.
//
// Settings: a setting s of 1 to 254 starts at the tolerance s / 16 (levels
// 0 to 3: 32, 58, 106, 182), except that the level the first pass picked
// starts at its finer prediction; 255, the strongest, holds the tolerance at
// 255, so that every line collapses into runs.
//
// Usage:
//   Recompressor r(info, firstColumn, columns, target);
//   int level = r.first_pass(read, inContexts);   // -1: none
//   r.apply_level(level);
//   int result = r.pass(read, inContexts, write, outContexts);   // 0 or -4
//   if (result == -4) { r.step(); result = r.pass(...); }
//   if (result == -4) { r.set_strongest(); r.pass(...); }
#pragma once

#include <cstdint>

#include "mivobuffer.h"
#include "mivoinfo.h"

namespace mivo {

constexpr int RECOMPRESS_LEVELS = 4;
constexpr int RECOMPRESS_LEVEL_SETTING[RECOMPRESS_LEVELS] = {32, 58, 106, 182};
constexpr int RECOMPRESS_STRONGEST = 255;
constexpr int RECOMPRESS_TOO_LARGE = -4;
// Tolerance units per setting step: setting s starts at s / 16.
constexpr double RECOMPRESS_SETTING_SCALE = 16.0;

class Recompressor {
 public:
  // info: the parameter set the streams were coded with (four-byte pixels).
  // Columns from first_column on, `columns` of them, are image pixels; the
  // others (lead pixels, fill) are kept as they are. target: the size the
  // page's streams should not exceed, in bytes.
  Recompressor(const Info& info, int first_column, int columns, uint64_t target);
  virtual ~Recompressor() = default;
  Recompressor(const Recompressor&) = delete;
  Recompressor& operator=(const Recompressor&) = delete;

  // Reads the old streams to their end and measures them. Returns the level
  // whose starting tolerance is nearest below the predicted one (0 when the
  // streams already fit), or -1 when the page has no image pixel.
  int first_pass(ReadCallback read, void* const in_context[MAX_STREAMS]);
  uint64_t source_size() const { return source_size_; }

  void apply_level(int level);
  // After a pass that came out too large: aims 6 % of the target lower and
  // starts one tolerance unit above the larger of the last start and the
  // mean tolerance the last pass used.
  void step();
  void set_strongest() { setting_ = RECOMPRESS_STRONGEST; }
  int setting() const { return setting_; }

  // Decodes, replaces pixels within the tolerance and writes the new
  // streams. 0 when they fit the target, RECOMPRESS_TOO_LARGE when not.
  // Without a first pass (old size unknown) the tolerance stays where the
  // setting starts it. Codec errors are thrown as mivo::Exception.
  int pass(ReadCallback read, void* const in_context[MAX_STREAMS], WriteCallback write,
           void* const out_context[MAX_STREAMS]);
  uint64_t last_size() const { return last_size_; }
  // Mean tolerance the last pass used, and the largest change it allowed.
  double mean_tolerance() const { return mean_tolerance_; }
  int largest_tolerance() const { return largest_tolerance_; }

 private:
  Info info_;
  int first_column_;
  int columns_;
  uint64_t target_;
  uint64_t source_size_ = 0;
  int setting_ = RECOMPRESS_LEVEL_SETTING[0];
  int selected_level_ = -1;
  double predicted_ = 0;   // starting tolerance the first pass predicted
  double aim_ = 0;         // share of the target the controller aims at
  double start_ = 0;       // starting tolerance of the next pass
  uint64_t last_size_ = 0;
  double mean_tolerance_ = 0;
  int largest_tolerance_ = 0;
};

}  // namespace mivo
