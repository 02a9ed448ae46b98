// Line storage of the codec: the current line and the reference line (the
// line above), each with room for 32 pixels before its first pixel and a few
// after its last, and a line of the constant pixel.
//
//   [32 margin pixels][line_pixels pixels][copy of last pixel][3 more]
//
// After construction and after every end of band the whole storage holds the
// initial pixel. Reading a line writes only the line's own pixels and the
// position just after it (a copy of the last pixel), so a referer that looks
// left of the line start reads the initial pixel and one that looks past the
// end of the reference line reads its last pixel.
//
// In memory a pixel holds its colour bytes, then the tag byte, then zero
// padding up to 1, 2, 4 or 8 bytes, so that runs compare whole pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mivobuffer.h"
#include "mivoinfo.h"

namespace mivo {

constexpr int LINE_MARGIN_LEFT = 32;
constexpr int LINE_MARGIN_RIGHT = 4;

class ImageBuffer : public Buffer {
 public:
  // Throws failure_number / failure_message when the storage cannot be had.
  ImageBuffer(const Info& info, int failure_number, const char* failure_message);
  ~ImageBuffer() override = default;

  template <class P> P* cur() const { return reinterpret_cast<P*>(cur_); }
  template <class P> P* prev() const { return reinterpret_cast<P*>(prev_); }
  template <class P> P* constant() const { return reinterpret_cast<P*>(const_); }
  unsigned char* cur_bytes() const { return cur_; }
  unsigned char* prev_bytes() const { return prev_; }
  unsigned char* const_bytes() const { return const_; }

  // The previous current line becomes the reference line.
  void swap_lines();
  // Every pixel of a line (margins included) takes the initial pixel.
  void reset_line(unsigned char* line);
  void reset_all();
  // The position after the last pixel receives a copy of it.
  void copy_last_pixel(unsigned char* line);
  // Every component byte of the line's pixels takes b (padding stays 0).
  void fill_line(unsigned char* line, uint8_t b);
  const unsigned char* initial_pixel() const { return initial_; }

 protected:
  const Info& info_;
  size_t stride_;     // bytes of a pixel
  size_t line_size_;  // bytes of a line with its margins
  unsigned char* cur_ = nullptr;
  unsigned char* prev_ = nullptr;
  unsigned char* const_ = nullptr;
  unsigned char initial_[8] = {};
};

// Encoder side: takes each line through callback_in.
class InImageBuffer : public ImageBuffer {
 public:
  InImageBuffer(const Info& info, int failure_number, const char* failure_message)
      : ImageBuffer(info, failure_number, failure_message) {}
  ~InImageBuffer() override = default;

  // Swaps the lines and lays the next input line out as the current line.
  void read_line();

 private:
  bool fill(unsigned char* dest, size_t n);
  void read_raster_line();
  Buffer intake_;  // the caller's layout of one line, when it differs from ours
};

// Decoder side: hands each finished line to callback_out in the caller's
// layout.
class OutImageBuffer : public ImageBuffer {
 public:
  OutImageBuffer(const Info& info, int failure_number, const char* failure_message)
      : ImageBuffer(info, failure_number, failure_message) {}
  ~OutImageBuffer() override = default;

  void write_line();

 private:
  Buffer output_;
};

// The colour transform of the intake: r, g, b to y, cb, cr (chroma stored as
// signed bytes), and the decoder's inverse (which rounds, so the pair is
// close to but not exactly lossless).
void ForwardColourTransform(unsigned char* px, int transform);
void InverseColourTransform(unsigned char* px, int transform);

}  // namespace mivo
