// The fallback recompressor: makes the code streams of a page smaller when
// they exceed a target size, at some cost in fine texture.
//
// It decodes the page's streams line by line, takes the decoded page in
// bands of three lines and, per colour component, in blocks of 3 x 3 pixels.
// A block's value is its spread: the largest of its nine values minus the
// smallest. A block whose spread is non-zero and not above the current
// setting is replaced by one value, the rounded mean of the nine, so smooth
// texture and noise flatten while edges (large spreads) stay as they were.
// The result is coded again with the same parameter set, so the same
// decoder reads it. Only a few lines are in memory at any time.
//
// Settings: levels 0 to 3 use 32, 58, 106 and 182; 255, the strongest,
// flattens every block that is not already flat.
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
constexpr int RECOMPRESS_BAND_LINES = 3;
constexpr int RECOMPRESS_BLOCK = 3;
constexpr int RECOMPRESS_TOO_LARGE = -4;

class Recompressor {
 public:
  // info: the parameter set the streams were coded with. Columns from
  // first_column on, `columns` of them, are image pixels; the others (lead
  // pixels, fill) are kept as they are. target: the size the page's streams
  // should not exceed, in bytes.
  Recompressor(const Info& info, int first_column, int columns, uint64_t target);
  virtual ~Recompressor() = default;
  Recompressor(const Recompressor&) = delete;
  Recompressor& operator=(const Recompressor&) = delete;

  // Decodes the streams once, codes the page with each level's setting side
  // by side (counting bytes only) and gathers the histogram of block
  // spreads. Returns the gentlest level whose result fits the target, the
  // strongest level when none does, or -1 when the page has no image pixel.
  int first_pass(ReadCallback read, void* const in_context[MAX_STREAMS]);
  // Sizes the first pass obtained per level.
  uint64_t level_size(int level) const { return level_size_[level]; }

  void apply_level(int level) { setting_ = RECOMPRESS_LEVEL_SETTING[level]; }
  // The next setting: the smallest spread that flattens at least half of the
  // blocks the current setting leaves textured (by the first pass's
  // histogram).
  void step();
  void set_strongest() { setting_ = RECOMPRESS_STRONGEST; }
  int setting() const { return setting_; }

  // Decodes, flattens with the current setting and writes the new streams.
  // 0 when they fit the target, RECOMPRESS_TOO_LARGE when not. Codec errors
  // are thrown as mivo::Exception.
  int pass(ReadCallback read, void* const in_context[MAX_STREAMS], WriteCallback write,
           void* const out_context[MAX_STREAMS]);
  uint64_t last_size() const { return last_size_; }

 private:
  // Flattens the lines of a band in place with the given setting; with a
  // histogram, counts every block's spread into it.
  void flatten_band(unsigned char* band, int lines, int setting, uint64_t* histogram) const;

  Info info_;
  int first_column_;
  int columns_;
  uint64_t target_;
  int setting_ = RECOMPRESS_LEVEL_SETTING[0];
  uint64_t histogram_[256] = {};
  uint64_t level_size_[RECOMPRESS_LEVELS] = {};
  uint64_t last_size_ = 0;
};

// Flattens the 3 x 3 blocks of one band (lines of `pixels` pixels of
// `components` bytes, stride `line_bytes`) between first_column and
// first_column + columns; exposed for tests.
void FlattenBlocks(unsigned char* band, size_t line_bytes, int lines, int components, int first_column, int columns,
                   int setting, uint64_t* histogram);

}  // namespace mivo
