#include "mivoinfo.h"

#include <climits>

#include "mivoexception.h"

namespace mivo {

namespace {

bool IsImageBit(int bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool IsDiffer(int d) {
  return (d >= DIFFER_LEFT && d <= DIFFER_LEFT_MAX) || (d >= DIFFER_UP_LEFT && d <= DIFFER_UP_RIGHT2) ||
         d == DIFFER_RUC || d == DIFFER_CONSTANT;
}

[[noreturn]] void BadIHDR() { throw Exception(111, "Info::normalize_mivo_info(): bad parameter of IHDR"); }
[[noreturn]] void BadAPRM() { throw Exception(112, "Info::normalize_mivo_info(): bad parameter of APRM"); }
[[noreturn]] void BadBPRM() { throw Exception(113, "Info::normalize_mivo_info(): bad parameter of BPRM"); }

}  // namespace

int Info::valid_differ_count() const {
  int n = 0;
  while (n < DIFFER_COUNT && differ[n] != DIFFER_END) ++n;
  return n;
}

int Info::error_stream(int k) const {
  if (!multi_stream) return MAIN_STREAM;
  if (colour_components <= 4) return k + 1;
  return k == 0 ? 1 : MAIN_STREAM;
}

void Info::normalize_mivo_info() {
  // IHDR
  if (!IsImageBit(image_bit) || tag_bits < 0 || tag_bits > 3 || tag_position < 0 || tag_position > 1 ||
      ihdr_level < 0 || ihdr_level > IHDR_LEVEL_MAX || width < 0 || height < 0 || intake.source_width < 0)
    BadIHDR();

  // APRM
  int valid = valid_differ_count();
  for (int i = 0; i < DIFFER_COUNT; ++i) {
    if (i >= valid) {
      differ[i] = DIFFER_END;  // everything after the terminator is unused
    } else if (!IsDiffer(differ[i])) {
      BadAPRM();
    }
  }
  if (max_run < 0 || selected_differ < 0 || selected_differ >= valid || error_method < 1 || error_method > 3 ||
      tag_method < 1 || tag_method > 3 || run_table < RUN_TABLE_1 || run_table > RUN_TABLE_2 || error_table < 1 ||
      error_table > 4 || marker_table < MARKER_TABLE_5 || marker_table > MARKER_TABLE_6)
    BadAPRM();
  int limit = run_table == RUN_TABLE_1 ? RUN_TABLE_1_MAX : RUN_TABLE_2_MAX;
  if (max_run == 0 || max_run > limit) max_run = limit;

  // BPRM
  if (h_sampling < 1 || h_sampling > 2 || v_sampling < 1 || v_sampling > 2 || chroma_mode < 0 || chroma_mode > 2 ||
      color_transform < 0 || color_transform > 2 || (chroma_mode == 0) != (color_transform == 0) ||
      ((h_sampling == 2 || v_sampling == 2) && image_bit < 8) || (color_transform != 0 && image_bit != 24))
    BadBPRM();

  // Derived sizes, computed in 64 bits and kept within int pixel counts.
  colour_components = (image_bit + 7) / 8;
  components = colour_components + (tag_bits ? 1 : 0);
  static const int kStride[] = {0, 1, 2, 4, 4, 8};
  pixel_bytes = kStride[components];
  uint64_t plane;
  if (image_bit < 8) {
    plane = (static_cast<uint64_t>(width) * static_cast<uint64_t>(image_bit) + 7) / 8;
  } else {
    plane = static_cast<uint64_t>(width);
    if (h_sampling == 2) plane = (plane + 1) / 2;
    if (chroma_mode == 2) plane *= 2;
  }
  if (plane > static_cast<uint64_t>(INT_MAX) / 16) BadIHDR();
  line_pixels = static_cast<int>(plane);
  plane_bytes_per_line = static_cast<size_t>(plane);
  bytes_per_line = plane_bytes_per_line * static_cast<size_t>(components);
  stream_count = multi_stream ? MAX_STREAMS : 1;
}

void Info::set_v1_default() {
  if (image_bit == 0) throw Exception(114, "Info::set_v1_default(): image_bit not stated");
  if (image_bit != 1 && image_bit != 8) initial_component = 255;
  marker_table = MARKER_TABLE_5;
}

void Info::set_v1_default(int preset, int value) {
  set_v1_default();
  switch (preset) {
    case 0:
    case 1:
      error_method = ERROR_METHOD_XOR;
      selected_differ = 3;
      error_table = 3;
      differ[4] = value;
      if (preset == 1) run_table = RUN_TABLE_2;
      break;
    case 2:
      break;
    case 3:
      run_table = RUN_TABLE_2;
      error_table = 2;
      break;
    case 4:
    case 5:
    case 6:
      differ[4] = 2;
      break;
    default:
      throw Exception(114, "Info::set_v1_default(): unknown preset");
  }
}

void Info::set_v1_default(bool flag) {
  set_v1_default();
  if (flag && image_bit == 1) differ[4] = 5;
  if (flag && image_bit == 8) differ[4] = 8;
}

void Info::set_differ(int index) {
  if (index < 0 || index >= DIFFER_COUNT || differ[index] == DIFFER_END)
    throw Exception(110, "Info::set_differ(): bad differer");
  selected_differ = index;
}

}  // namespace mivo
