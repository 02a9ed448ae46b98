#include "mivocore.h"

#include <cstring>
#include <new>
#include <utility>

namespace mivo {

// ---- Core ------------------------------------------------------------------

Core::Core(const Info& info) : info_(info) { info_.normalize_mivo_info(); }

void Core::get_alphabet_sizes(int sizes[ALPHA_COUNT]) const {
  sizes[ALPHA_LINE_MODE] = LINE_MODE_COUNT;
  sizes[ALPHA_RUN] = RUN_DIRECT_MAX;
  sizes[ALPHA_ERROR] = 256;
  sizes[ALPHA_MARKER] = info_.marker_table == MARKER_TABLE_5 ? MARKER_COUNT_TABLE_5 : MARKER_COUNT_TABLE_6;
  sizes[ALPHA_TAG] = 1 << info_.tag_bits;
}

template <class T, class... A>
T* Core::create(int failure_number, const char* failure_message, A&&... args) {
  void* block = my_malloc(info_, sizeof(T));
  if (!block) throw Exception(failure_number, failure_message);
  try {
    return new (block) T(std::forward<A>(args)...);
  } catch (...) {
    my_free(info_, block);
    throw;
  }
}

template <class T>
void Core::destroy(T* object) {
  if (!object) return;
  object->~T();
  my_free(info_, object);
}

// ---- Encoder ---------------------------------------------------------------

CoreEnc::CoreEnc(const Info& info) : Core(info) {
  if (info_.components < 1 || info_.components > 7)
    throw Exception(40, "CoreEnc::encode_line(): unknown component");
  huffman_ = create<HuffmanEnc>(160, "Core::Core(): bad alloc", info_);
  try {
    lrle_ = create<LrleEnc>(46, "CoreEnc::CoreEnc(): bad alloc", info_, 46, "CoreEnc::CoreEnc(): bad alloc");
  } catch (...) {
    destroy(huffman_);
    throw;
  }
}

CoreEnc::~CoreEnc() {
  destroy(lrle_);
  destroy(huffman_);
}

void CoreEnc::check_codable(int marker, int number, const char* message) const {
  if (marker >= huffman_->marker_count()) throw Exception(number, message);
}

template <class P>
void CoreEnc::code_line() {
  lrle_->code_line<P>(*huffman_);
}

uint64_t CoreEnc::encode_line(int marker, int data) {
  if (marker != MARKER_NONE && marker != MARKER_RAW && marker != MARKER_RUN_BREAK && marker != MARKER_CPY &&
      marker != MARKER_FIL && marker != MARKER_EOB)
    throw Exception(43, "CoreEnc::encode_line(): bad marker");
  // Refuse a marker the marker table cannot code before anything is written.
  check_codable(marker, 47, "CoreEnc::encode_line(): marker not in the marker table");
  const int group = info_.v_sampling;
  if (marker == MARKER_CPY && (lines_ + 1) % group != 0)
    throw Exception(41, "CoreEnc::encode_line(): CPY not supprted for midline");
  if (marker == MARKER_FIL && (lines_ + 1) % group != 0)
    throw Exception(42, "CoreEnc::encode_line(): FIL not supprted for midline");

  HuffmanEnc& h = *huffman_;
  InImageBuffer& image = lrle_->image();
  image.read_line();

  if (marker == MARKER_RAW) {
    lrle_->emit_pending(h);
    h.put_marker(MARKER_RAW);
    h.pad_all();
    const size_t stride = static_cast<size_t>(info_.pixel_bytes);
    const unsigned char* p = image.cur_bytes();
    for (int x = 0; x < info_.line_pixels; ++x, p += stride)
      for (int c = 0; c < info_.components; ++c) h.put_raw_byte(p[c]);
    lrle_->set_offset(0);
  } else {
    switch (info_.pixel_bytes) {
      case 1: code_line<uint8_t>(); break;
      case 2: code_line<uint16_t>(); break;
      case 4: code_line<uint32_t>(); break;
      case 8: code_line<uint64_t>(); break;
      default: throw Exception(40, "CoreEnc::encode_line(): unknown component");
    }
    h.end_of_line_toggle();
  }

  if (marker != MARKER_NONE && marker != MARKER_RAW) {
    lrle_->emit_pending(h);
    h.put_marker(marker);
    switch (marker) {
      case MARKER_CPY:
        lines_ += group;
        break;
      case MARKER_FIL:
        h.put_raw_byte(static_cast<uint8_t>(data));
        image.fill_line(image.cur_bytes(), static_cast<uint8_t>(data));
        lines_ += group;
        break;
      case MARKER_RUN_BREAK:
        lrle_->set_offset(0);
        break;
      case MARKER_EOB:
        lrle_->apply_initial_order();
        lrle_->reset_reference_line();
        h.pad_all();
        break;
    }
  }
  ++lines_;
  return h.bytes_total();
}

void CoreEnc::insert_marker(int marker, const unsigned char* text, size_t length) {
  if (marker == MARKER_NONE) return;
  if (marker != MARKER_TEXT) throw Exception(44, "CoreEnc::insert_marker(): bad marker");
  if (length > 255) throw Exception(44, "CoreEnc::insert_marker(): text longer than 255 bytes");
  check_codable(marker, 48, "CoreEnc::insert_marker(): marker not in the marker table");
  HuffmanEnc& h = *huffman_;
  h.put_marker(MARKER_TEXT);
  h.pad_all();
  h.put_raw_byte(static_cast<uint8_t>(length));
  for (size_t i = 0; i < length; ++i) h.put_raw_byte(text[i]);
}

uint64_t CoreEnc::terminate(int marker) {
  if (marker != MARKER_EOI && marker != MARKER_EOB)
    throw Exception(45, "CoreEnc::terminate(): only EOI and EOB are acceptable");
  check_codable(marker, 49, "CoreEnc::terminate(): marker not in the marker table");
  HuffmanEnc& h = *huffman_;
  // An encoder that has produced nothing leaves every stream empty: a run
  // still pending then covers the whole image from its first pixel, and the
  // decoder takes empty streams as an image of initial pixels. An RUC run of
  // another colour would be lost that way, so it is written out.
  if (h.bytes_total() == 0 && !lrle_->pending_differs_from_initial()) return 0;
  lrle_->emit_pending(h);
  h.put_marker(marker);
  if (marker == MARKER_EOB) {
    lrle_->apply_initial_order();
    lrle_->reset_reference_line();
  }
  h.flush_all();
  return h.bytes_total();
}

uint64_t CoreEnc::bytes() const { return huffman_->bytes_total(); }
uint64_t CoreEnc::bytes(int stream) const { return huffman_->bytes(stream); }

// ---- Decoder ---------------------------------------------------------------

CoreDec::CoreDec(const Info& info) : Core(info) {
  if (info_.components < 1 || info_.components > 7)
    throw Exception(40, "CoreEnc::encode_line(): unknown component");
  huffman_ = create<HuffmanDec>(35, "CoreDec::CoreDec(): bad alloc", info_);
  try {
    lrle_ = create<LrleDec>(35, "CoreDec::CoreDec(): bad alloc", info_, 35, "CoreDec::CoreDec(): bad alloc");
  } catch (...) {
    destroy(huffman_);
    throw;
  }
}

CoreDec::~CoreDec() {
  destroy(lrle_);
  destroy(huffman_);
}

bool CoreDec::all_streams_empty() {
  if (empty_ < 0) {
    empty_ = 1;
    for (int s = 0; s < huffman_->stream_count(); ++s)
      if (!huffman_->stream(s).empty_stream()) empty_ = 0;
  }
  return empty_ == 1;
}

template <class P>
void CoreDec::decode_symbols() {
  for (;;) {
    int marker = lrle_->decode_symbols<P>(*huffman_);
    if (marker < 0) return;
    if (feed_marker(marker, lrle_->x() > 0)) return;
  }
}

void CoreDec::decode_line() {
  OutImageBuffer& image = lrle_->image();
  lrle_->start_line();
  if (all_streams_empty()) {
    // An encoder that never wrote a symbol coded an image of initial pixels.
    image.reset_line(image.cur_bytes());
  } else {
    switch (info_.pixel_bytes) {
      case 1: decode_symbols<uint8_t>(); break;
      case 2: decode_symbols<uint16_t>(); break;
      case 4: decode_symbols<uint32_t>(); break;
      case 8: decode_symbols<uint64_t>(); break;
      default: throw Exception(10, "OutImageBuffer::write_line(): unknown sample pattern");
    }
  }
  image.copy_last_pixel(image.cur_bytes());
  image.write_line();
  ++lines_;
}

bool CoreDec::feed_marker(int marker, bool midline) {
  HuffmanDec& h = *huffman_;
  OutImageBuffer& image = lrle_->image();
  if (marker != MARKER_TOGGLE && marker != MARKER_TEXT && midline)
    throw Exception(30, "CoreDec::proc_terminating_marker(): bad marker position");
  switch (marker) {
    case MARKER_TOGGLE:
      h.toggle_line_mode();
      return false;
    case MARKER_RUN_BREAK:
      lrle_->set_offset(0);
      return false;
    case MARKER_EOI:
      throw Exception(32, "CoreDec::feed_marker(): early EOI");
    case MARKER_RAW: {
      h.align_all();
      const size_t stride = static_cast<size_t>(info_.pixel_bytes);
      unsigned char* p = image.cur_bytes();
      for (int x = 0; x < info_.line_pixels; ++x, p += stride) {
        std::memset(p, 0, stride);
        for (int c = 0; c < info_.components; ++c) p[c] = h.get_raw_byte();
      }
      lrle_->complete_line();
      lrle_->set_offset(0);
      return true;
    }
    case MARKER_CPY:
      std::memcpy(image.cur_bytes(), image.prev_bytes(),
                  static_cast<size_t>(info_.line_pixels) * static_cast<size_t>(info_.pixel_bytes));
      lrle_->complete_line();
      return true;
    case MARKER_FIL:
      image.fill_line(image.cur_bytes(), h.get_raw_byte());
      lrle_->complete_line();
      return true;
    case MARKER_TEXT: {
      h.align_all();
      size_t n = h.get_raw_byte();
      Buffer text;
      if (!text.allocate(info_, n)) throw Exception(31, "CoreDec::feed_marker(): bad alloc");
      for (size_t i = 0; i < n; ++i) text.data()[i] = h.get_raw_byte();
      if (info_.callback_text) info_.callback_text(info_.text_context, text.data(), n);
      return false;
    }
    case MARKER_EOB:
      proc_terminating_marker(MARKER_EOB);
      return false;
    default:
      throw Exception(33, "CoreDec::feed_marker(): unknown marker");
  }
}

uint64_t CoreDec::proc_terminating_marker(int marker) {
  if (marker == MARKER_EOI) return consumed();
  if (marker != MARKER_EOB) throw Exception(30, "CoreDec::proc_terminating_marker(): bad marker position");
  // The band ends: the model starts afresh. The current line is being
  // decoded from its first pixel, so only the reference line matters.
  lrle_->apply_initial_order();
  lrle_->reset_reference_line();
  huffman_->align_all();
  return 0;
}

uint64_t CoreDec::terminate() {
  if (all_streams_empty()) return 0;
  if (lrle_->remaining() > 0) throw Exception(34, "CoreDec::terminate(): no EOI");
  HuffmanDec& h = *huffman_;
  for (;;) {
    if (h.get_line_mode() != LINE_MODE_MARKER) throw Exception(34, "CoreDec::terminate(): no EOI");
    const int marker = h.get_marker();
    switch (marker) {
      case MARKER_TOGGLE: h.toggle_line_mode(); break;
      case MARKER_RUN_BREAK: lrle_->set_offset(0); break;
      case MARKER_EOB: proc_terminating_marker(MARKER_EOB); break;
      case MARKER_EOI: return proc_terminating_marker(MARKER_EOI);
      default: throw Exception(34, "CoreDec::terminate(): no EOI");
    }
  }
}

uint64_t CoreDec::consumed() const { return huffman_->consumed_total(); }
uint64_t CoreDec::consumed(int stream) const { return huffman_->consumed(stream); }

}  // namespace mivo
