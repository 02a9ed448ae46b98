// The parameter set that encoder and decoder share. A MIVO stream carries no
// header of its own: the geometry and every coding choice travel outside it,
// so both sides must be configured with the same Info.
//
// The parameters fall into three checked groups, named after the segments
// that carried them in the original format: IHDR (image header), APRM
// (coding parameters) and BPRM (sampling and colour layout).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mivo {

// ---- Markers: line-mode symbol 6 followed by the marker's code ------------
constexpr int MARKER_NONE = -1;
constexpr int MARKER_TOGGLE = 0;     // switch line-mode table A <-> B
constexpr int MARKER_RUN_BREAK = 1;  // the pending run ends at this line end
constexpr int MARKER_EOI = 2;        // end of image
constexpr int MARKER_RAW = 3;        // the line is stored uncoded
constexpr int MARKER_CPY = 4;        // the next line group repeats the reference line
constexpr int MARKER_FIL = 5;        // the next line group is filled with one byte
constexpr int MARKER_TEXT = 6;       // a length byte and that many bytes of text
constexpr int MARKER_EOB = 7;        // end of band: the line model starts afresh

// ---- Line-mode symbols ------------------------------------------------------
// 0 to 4 pick a referer by its place in the most-recently-used order.
constexpr int LINE_MODE_REFERERS = 5;
constexpr int LINE_MODE_ERROR = 5;   // one pixel coded as prediction errors
constexpr int LINE_MODE_MARKER = 6;  // a marker follows
constexpr int LINE_MODE_COUNT = 7;

// ---- Differers: where a referer takes its reference pixel -----------------
// 1 to 32: that many pixels to the left on the current line (1 is the
// left-value run); 128 to 131: the previous line at offset d - 129.
constexpr int DIFFER_LEFT = 1;
constexpr int DIFFER_LEFT_MAX = 32;
constexpr int DIFFER_UP_LEFT = 128;
constexpr int DIFFER_UP = 129;
constexpr int DIFFER_UP_RIGHT = 130;
constexpr int DIFFER_UP_RIGHT2 = 131;
constexpr int DIFFER_RUC = 240;       // remembered-colour run
constexpr int DIFFER_CONSTANT = 241;  // the constant (initial) pixel
constexpr int DIFFER_END = 255;       // ends the list: the referer is unused
constexpr int DIFFER_COUNT = 5;

// ---- Table choices and methods --------------------------------------------
constexpr int RUN_TABLE_1 = 1;  // runs up to 17057
constexpr int RUN_TABLE_2 = 2;  // runs up to 1040
constexpr int RUN_TABLE_1_MAX = 17057;
constexpr int RUN_TABLE_2_MAX = 1040;
constexpr int MARKER_TABLE_5 = 5;  // markers 0 to 2 only
constexpr int MARKER_TABLE_6 = 6;  // markers 0 to 7
constexpr int ERROR_METHOD_DIFF = 1;  // p - q modulo 256
constexpr int ERROR_METHOD_XOR = 2;   // p ^ q
constexpr int ERROR_METHOD_RAW = 3;   // p itself
constexpr int IHDR_LEVEL_MAX = 195;

constexpr int MAX_STREAMS = 5;
constexpr int MAIN_STREAM = 0;

// Callbacks. Reads return the number of bytes delivered (0 at the end of the
// data); writes return the number of bytes accepted, and anything other than
// the count asked for is a failure.
using ReadCallback = size_t (*)(void* context, unsigned char* buffer, size_t count);
using WriteCallback = size_t (*)(void* context, const unsigned char* buffer, size_t count);
using TextCallback = void (*)(void* context, const unsigned char* text, size_t length);
using AllocCallback = void* (*)(void* context, size_t size);
using FreeCallback = void (*)(void* context, void* block);

// How the encoder takes its lines when it sits in the compression filter:
// every line arrives as a ZT raster scan line of source_width four-byte
// pixels. With four components the four bytes become the pixel; with one
// component only the fourth byte is used. With lead_pixels, eight lead pixels
// (the first all 255, the others 0) go before the image pixels; the rest of
// the coded line after the image is filled with 0. source_width 0 selects the
// ordinary intake (the caller delivers lines in the coded layout).
struct RasterIntake {
  int source_width = 0;
  bool lead_pixels = false;
};
constexpr int LEAD_PIXEL_COUNT = 8;
constexpr int RASTER_SOURCE_PIXEL_BYTES = 4;

class Info {
 public:
  Info() = default;

  // IHDR
  int width = 0;
  int height = 0;
  int image_bit = 0;
  int tag_bits = 0;
  int tag_position = 0;  // 1: the tag byte precedes the colour bytes
  int ihdr_level = 0;

  // APRM
  int max_run = 0;  // 0: the largest the run table allows
  int differ[DIFFER_COUNT] = {DIFFER_LEFT, DIFFER_UP, DIFFER_UP_LEFT, DIFFER_UP_RIGHT, DIFFER_UP_RIGHT2};
  int selected_differ = 0;
  int error_method = ERROR_METHOD_DIFF;
  int tag_method = 2;
  int run_table = RUN_TABLE_1;
  int error_table = 1;
  int marker_table = MARKER_TABLE_6;

  // BPRM
  int h_sampling = 1;
  int v_sampling = 1;
  int chroma_mode = 0;
  int color_transform = 0;  // 1: r,g,b -> y,cb,cr; 2: b,g,r -> y,cb,cr

  uint8_t initial_tag = 0;
  uint8_t initial_component = 0;
  bool multi_stream = false;
  RasterIntake intake;

  // Callbacks. The encoder reads lines through callback_in with
  // in_context[0] and writes stream n through callback_out with
  // out_context[n]; the decoder reads stream n through callback_in with
  // in_context[n] and writes lines through callback_out with out_context[0].
  ReadCallback callback_in = nullptr;
  void* in_context[MAX_STREAMS] = {};
  WriteCallback callback_out = nullptr;
  void* out_context[MAX_STREAMS] = {};
  TextCallback callback_text = nullptr;
  void* text_context = nullptr;
  AllocCallback callback_alloc = nullptr;
  FreeCallback callback_free = nullptr;
  void* alloc_context = nullptr;

  // Derived by normalize_mivo_info.
  int colour_components = 0;   // byte components of the colour part
  int components = 0;          // colour components plus the tag byte
  int pixel_bytes = 0;         // bytes a pixel occupies in memory: 1, 2, 4 or 8
  int line_pixels = 0;         // pixels of a coded line
  size_t plane_bytes_per_line = 0;
  size_t bytes_per_line = 0;   // pixel-interleaved line in the caller's layout
  int stream_count = 1;

  // Fills zero fields and checks the three groups; throws on a bad value.
  void normalize_mivo_info();
  // Version-1 defaults; image_bit must already be set.
  void set_v1_default();
  void set_v1_default(int preset, int value);
  void set_v1_default(bool flag);
  // Selects the predictor differer by its index in the list.
  void set_differ(int index);

  // Valid differer entries before the terminating 255.
  int valid_differ_count() const;
  // The stream that receives the error symbols of colour component k.
  int error_stream(int k) const;
};

}  // namespace mivo
