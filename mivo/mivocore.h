// Encoder and decoder of MIVO code streams.
//
// CoreEnc takes an image line by line through callback_in and writes one
// stream (or five with multi_stream: 0 main, 1-4 the error symbols of colour
// components 1-4) through callback_out. CoreDec reads those streams back
// through callback_in and writes the lines through callback_out. Both must be
// built from the same parameter set.
//
// Usage (encoder):
//   mivo::CoreEnc enc(info);
//   for (each line) enc.encode_line();
//   enc.terminate(mivo::MARKER_EOI);
// (decoder):
//   mivo::CoreDec dec(info);
//   for (each line) dec.decode_line();
//   dec.terminate();
#pragma once

#include <cstddef>
#include <cstdint>

#include "mivohuffman.h"
#include "mivoinfo.h"
#include "mivolrle.h"

namespace mivo {

class Core {
 public:
  // Copies and normalises the parameter set (throws on a bad parameter).
  explicit Core(const Info& info);
  virtual ~Core() = default;
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  const Info& info() const { return info_; }
  int line_count() const { return lines_; }
  // The five alphabet sizes: line mode, run, error, marker, tag.
  virtual void get_alphabet_sizes(int sizes[ALPHA_COUNT]) const;

 protected:
  // Objects of the codec live in blocks from my_malloc.
  template <class T, class... A>
  T* create(int failure_number, const char* failure_message, A&&... args);
  template <class T>
  void destroy(T* object);

  Info info_;
  int lines_ = 0;
};

class CoreEnc : public Core {
 public:
  explicit CoreEnc(const Info& info);
  ~CoreEnc() override;

  // Reads and codes one line. marker: MARKER_NONE; MARKER_RAW to store the
  // line uncoded; or, written after the line, MARKER_RUN_BREAK, MARKER_CPY
  // (the next line repeats this one), MARKER_FIL (the next line is filled
  // with data) or MARKER_EOB. Returns the bytes produced so far.
  uint64_t encode_line(int marker = MARKER_NONE, int data = 0);
  // Writes a text marker (MARKER_TEXT) carrying up to 255 bytes.
  void insert_marker(int marker, const unsigned char* text, size_t length);
  // Ends the image (MARKER_EOI) or the band (MARKER_EOB): writes the pending
  // run and the marker, pads every stream to a byte and flushes it. Does
  // nothing when no bit has been produced. Returns the total bytes.
  uint64_t terminate(int marker = MARKER_EOI);

  uint64_t bytes() const;
  uint64_t bytes(int stream) const;

 private:
  template <class P>
  void code_line();
  void check_codable(int marker, int number, const char* message) const;

  HuffmanEnc* huffman_ = nullptr;
  LrleEnc* lrle_ = nullptr;
};

class CoreDec : public Core {
 public:
  explicit CoreDec(const Info& info);
  ~CoreDec() override;

  // Decodes one line and writes it through callback_out.
  void decode_line();
  // Acts on a marker read inside the lines; true when it completed the line.
  bool feed_marker(int marker, bool midline);
  // EOI (returns the bytes consumed) or EOB (resets, returns 0).
  uint64_t proc_terminating_marker(int marker);
  // Reads on after the last line up to the EOI; returns the bytes consumed.
  uint64_t terminate();

  uint64_t consumed() const;
  uint64_t consumed(int stream) const;

 private:
  template <class P>
  void decode_symbols();
  bool all_streams_empty();

  HuffmanDec* huffman_ = nullptr;
  LrleDec* lrle_ = nullptr;
  int empty_ = -1;  // -1 not yet known; 1: every stream is empty
};

}  // namespace mivo
