#include "mivoimage.h"

#include <algorithm>
#include <cstring>

#include "mivoexception.h"

namespace mivo {

namespace {

// A layout the intake and output can handle: no sampling, and chroma mode 2
// (which doubles the plane) is not supported.
bool PlainLayout(const Info& info) {
  return info.h_sampling == 1 && info.v_sampling == 1 && info.chroma_mode != 2;
}

}  // namespace

ImageBuffer::ImageBuffer(const Info& info, int failure_number, const char* failure_message)
    : info_(info), stride_(static_cast<size_t>(info.pixel_bytes)) {
  line_size_ = (static_cast<size_t>(LINE_MARGIN_LEFT) + static_cast<size_t>(info.line_pixels) + LINE_MARGIN_RIGHT) *
               stride_;
  if (!allocate(info, 3 * line_size_)) throw Exception(failure_number, failure_message);
  size_t origin = LINE_MARGIN_LEFT * stride_;
  cur_ = data() + origin;
  prev_ = data() + line_size_ + origin;
  const_ = data() + 2 * line_size_ + origin;
  for (int c = 0; c < info.colour_components; ++c) initial_[c] = info.initial_component;
  if (info.tag_bits) initial_[info.colour_components] = info.initial_tag;
  reset_all();
}

void ImageBuffer::swap_lines() { std::swap(cur_, prev_); }

void ImageBuffer::reset_line(unsigned char* line) {
  unsigned char* p = line - LINE_MARGIN_LEFT * stride_;
  for (size_t i = 0; i < line_size_; i += stride_) std::memcpy(p + i, initial_, stride_);
}

void ImageBuffer::reset_all() {
  reset_line(cur_);
  reset_line(prev_);
  reset_line(const_);
}

void ImageBuffer::copy_last_pixel(unsigned char* line) {
  size_t w = static_cast<size_t>(info_.line_pixels);
  if (w > 0) std::memcpy(line + w * stride_, line + (w - 1) * stride_, stride_);
}

void ImageBuffer::fill_line(unsigned char* line, uint8_t b) {
  unsigned char px[8] = {};
  std::memset(px, b, static_cast<size_t>(info_.components));
  size_t w = static_cast<size_t>(info_.line_pixels);
  for (size_t i = 0; i < w; ++i) std::memcpy(line + i * stride_, px, stride_);
  copy_last_pixel(line);
}

// ---- Intake ----------------------------------------------------------------

bool InImageBuffer::fill(unsigned char* dest, size_t n) {
  // The callback may deliver less than asked per call; ask until the line is
  // complete or it delivers nothing.
  size_t got = 0;
  while (got < n) {
    size_t k = info_.callback_in ? info_.callback_in(info_.in_context[0], dest + got, n - got) : 0;
    if (k == 0 || k > n - got) return false;
    got += k;
  }
  return true;
}

void InImageBuffer::read_raster_line() {
  const int w = info_.line_pixels;
  const int lead = info_.intake.lead_pixels ? LEAD_PIXEL_COUNT : 0;
  const size_t src = static_cast<size_t>(info_.intake.source_width);
  const int comps = info_.components;
  if ((comps != 4 && comps != 1) || static_cast<size_t>(w) < src + static_cast<size_t>(lead))
    throw Exception(20, "InImageBuffer::read_line(): unknown sample pattern");
  const size_t srcBytes = src * RASTER_SOURCE_PIXEL_BYTES;
  unsigned char* line = cur_;
  if (comps == 4) {
    // Four-byte pixels land in place, after the lead pixels.
    if (!fill(line + static_cast<size_t>(lead) * 4, srcBytes))
      throw Exception(21, "InImageBuffer::read_line(): callback_in failed");
    if (lead) {
      std::memset(line, 0, static_cast<size_t>(lead) * 4);
      std::memset(line, 255, 4);
    }
    std::memset(line + (static_cast<size_t>(lead) + src) * 4, 0, (static_cast<size_t>(w) - lead - src) * 4);
  } else {
    if (!intake_.data() && !intake_.allocate(info_, srcBytes))
      throw Exception(21, "InImageBuffer::read_line(): malloc failed");
    if (!fill(intake_.data(), srcBytes)) throw Exception(21, "InImageBuffer::read_line(): callback_in failed");
    if (lead) {
      std::memset(line, 0, static_cast<size_t>(lead));
      line[0] = 255;
    }
    const unsigned char* s = intake_.data() + 3;
    unsigned char* d = line + lead;
    for (size_t i = 0; i < src; ++i) d[i] = s[4 * i];
    std::memset(line + lead + src, 0, static_cast<size_t>(w) - lead - src);
  }
}

void InImageBuffer::read_line() {
  swap_lines();
  if (info_.intake.source_width > 0) {
    read_raster_line();
    copy_last_pixel(cur_);
    return;
  }
  if (!PlainLayout(info_)) throw Exception(20, "InImageBuffer::read_line(): unknown sample pattern");
  const size_t w = static_cast<size_t>(info_.line_pixels);
  const size_t comps = static_cast<size_t>(info_.components);
  const bool direct = comps == stride_ && !(info_.tag_bits && info_.tag_position == 1) && !info_.color_transform;
  if (direct) {
    if (!fill(cur_, info_.bytes_per_line)) throw Exception(21, "InImageBuffer::read_line(): callback_in failed");
  } else {
    if (!intake_.data() && !intake_.allocate(info_, info_.bytes_per_line))
      throw Exception(21, "InImageBuffer::read_line(): malloc failed");
    if (!fill(intake_.data(), info_.bytes_per_line))
      throw Exception(21, "InImageBuffer::read_line(): callback_in failed");
    const size_t colours = static_cast<size_t>(info_.colour_components);
    const bool tagFirst = info_.tag_bits && info_.tag_position == 1;
    const unsigned char* s = intake_.data();
    for (size_t i = 0; i < w; ++i, s += comps) {
      unsigned char* d = cur_ + i * stride_;
      std::memset(d, 0, stride_);
      if (tagFirst) {
        std::memcpy(d, s + 1, colours);
        d[colours] = s[0];
      } else {
        std::memcpy(d, s, comps);
      }
      if (info_.color_transform) ForwardColourTransform(d, info_.color_transform);
    }
  }
  if (info_.tag_bits) {
    // Only the tag bits are coded; the rest of the tag byte is dropped.
    const unsigned char mask = static_cast<unsigned char>((1u << info_.tag_bits) - 1);
    for (size_t i = 0; i < w; ++i) cur_[i * stride_ + static_cast<size_t>(info_.colour_components)] &= mask;
  }
  copy_last_pixel(cur_);
}

// ---- Output ----------------------------------------------------------------

void OutImageBuffer::write_line() {
  const size_t w = static_cast<size_t>(info_.line_pixels);
  const size_t comps = static_cast<size_t>(info_.components);
  const size_t n = w * comps;
  const unsigned char* out = cur_;
  // Lines of the raster intake leave in the coded layout (four bytes or one
  // byte per pixel, lead pixels and fill included).
  if (info_.intake.source_width == 0) {
    if (!PlainLayout(info_)) throw Exception(10, "OutImageBuffer::write_line(): unknown sample pattern");
    const bool tagFirst = info_.tag_bits && info_.tag_position == 1;
    if (comps != stride_ || tagFirst || info_.color_transform) {
      if (!output_.data() && !output_.allocate(info_, n))
        throw Exception(12, "OutImageBuffer::write_line(): malloc failed");
      const size_t colours = static_cast<size_t>(info_.colour_components);
      unsigned char* d = output_.data();
      for (size_t i = 0; i < w; ++i, d += comps) {
        unsigned char px[8];
        std::memcpy(px, cur_ + i * stride_, stride_);
        if (info_.color_transform) InverseColourTransform(px, info_.color_transform);
        if (tagFirst) {
          d[0] = px[colours];
          std::memcpy(d + 1, px, colours);
        } else {
          std::memcpy(d, px, comps);
        }
      }
      out = output_.data();
    }
  }
  if (n == 0) return;
  if (!info_.callback_out || info_.callback_out(info_.out_context[0], out, n) != n)
    throw Exception(11, "OutImageBuffer::write_line(): callback_out returns bad bytes");
}

// ---- Colour transform ------------------------------------------------------

void ForwardColourTransform(unsigned char* px, int transform) {
  int r = px[0], g = px[1], b = px[2];
  if (transform == 2) std::swap(r, b);
  int y = (1225 * r + 2404 * g + 467 * b + 2047) >> 12;
  int cb = (2048 * b - 691 * r - 1357 * g + 2047) >> 12;
  int cr = (2048 * r - 1715 * g - 333 * b + 2047) >> 12;
  px[0] = static_cast<unsigned char>(y);
  px[1] = static_cast<unsigned char>(cb);
  px[2] = static_cast<unsigned char>(cr);
}

void InverseColourTransform(unsigned char* px, int transform) {
  int y = px[0];
  int cb = static_cast<int8_t>(px[1]);
  int cr = static_cast<int8_t>(px[2]);
  // Fixed-point inverse with 16 fraction bits, rounded to nearest.
  auto clamp = [](int v) { return static_cast<unsigned char>(std::clamp(v, 0, 255)); };
  int r = y + ((91881 * cr + 32768) >> 16);
  int g = y + ((-22554 * cb - 46802 * cr + 32768) >> 16);
  int b = y + ((116130 * cb + 32768) >> 16);
  if (transform == 2) std::swap(r, b);
  px[0] = clamp(r);
  px[1] = clamp(g);
  px[2] = clamp(b);
}

}  // namespace mivo
