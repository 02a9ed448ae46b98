// Prefix codes of the MIVO streams.
//
// Every alphabet is coded through a table of group rows. A row covers a range
// of values and gives the prefix, an optional sign bit and a number of extra
// bits that hold |v| - base, most significant first:
//
//   codeword = prefix [sign] [extra bits]      sign bit 1 = negative
//
// A value is coded with the first row that contains it. The encoder keeps a
// direct table per alphabet (codeword and length for every value it codes),
// the decoder a 64-entry table indexed by the next six bits of the stream,
// which is enough because no prefix is longer than six bits.
#pragma once

#include <cstdint>

#include "mivobuffer.h"
#include "mivoinfo.h"

namespace mivo {

struct CodeRow {
  int lo;          // lowest value (for signed rows: lowest magnitude)
  int hi;          // highest value (for signed rows: highest magnitude)
  int base;        // magnitude that extra bits count from
  uint8_t prefix_len;
  uint8_t sign;    // 1: a sign bit follows the prefix
  uint8_t extra;   // extra bits after prefix and sign
  uint16_t prefix;
};

struct CodeTable {
  const CodeRow* rows;
  int count;
};

// Alphabets in the order the encoder and decoder list their sizes.
enum Alphabet { ALPHA_LINE_MODE = 0, ALPHA_RUN = 1, ALPHA_ERROR = 2, ALPHA_MARKER = 3, ALPHA_TAG = 4, ALPHA_COUNT = 5 };

// The code tables (rows as described above).
extern const CodeTable LINE_MODE_TABLE_A;
extern const CodeTable LINE_MODE_TABLE_B;
extern const CodeTable RUN_TABLE[3];       // index 1 and 2
extern const CodeTable ERROR_TABLE[5];     // index 1 to 4
extern const CodeTable TAG_TABLE[4];       // by tag bits; 0 and 1 share a table
extern const CodeTable MARKER_TABLE[7];    // index 5 and 6

constexpr int PREFIX_BITS_MAX = 6;
constexpr int RUN_DIRECT_MAX = 256;  // runs 1 to 256 come from the direct table
constexpr int MARKER_COUNT_TABLE_5 = 3;
constexpr int MARKER_COUNT_TABLE_6 = 8;
constexpr int ERROR_CODE_BITS_MAX = 12;  // longest error codeword of any table

// Row lookup: the first row whose range holds v, or null.
const CodeRow* FindRow(const CodeTable& table, int v);
// Codeword of v in row r (at most 32 bits).
uint32_t RowCodeword(const CodeRow& r, int v, int* length);

struct DirectCodewordEnc {
  uint32_t code;
  uint8_t len;  // 0: the value has no codeword
};

struct DirectCodewordDec {
  int8_t row;   // -1: no prefix starts with these bits
  uint8_t len;  // prefix length
};

// Whole short codewords decoded in one step: value and codeword length for
// the next FAST_BITS bits of the stream (length FAST_NONE, longer than any
// bit count held: take the row route).
constexpr int FAST_BITS = 10;
constexpr uint8_t FAST_NONE = 255;
struct FastCodewordDec {
  int16_t value;
  uint8_t len;
};

// Error codewords of a complete error table decoded from the next
// ERROR_CODE_BITS_MAX bits of the stream: the error byte (the value modulo
// 256) and the codeword length.
struct ErrorCodewordDec {
  uint8_t byte;
  uint8_t len;
};

// Table selection shared by both sides.
template <class Codeword, class Stream>
class Huffman {
 public:
  virtual ~Huffman() = default;

  void set_run(int table) {
    if (table != RUN_TABLE_1 && table != RUN_TABLE_2) throw Exception(101, "Huffman::set_run(): unknown run table");
    tables_[ALPHA_RUN] = &RUN_TABLE[table];
    rebuild(ALPHA_RUN);
  }
  void set_error(int table) {
    if (table < 1 || table > 4) throw Exception(102, "Huffman::set_error(): unknown error table");
    tables_[ALPHA_ERROR] = &ERROR_TABLE[table];
    rebuild(ALPHA_ERROR);
  }
  void set_marker(int table) {
    if (table != MARKER_TABLE_5 && table != MARKER_TABLE_6)
      throw Exception(103, "Huffman::set_marker(): unknown marker table");
    tables_[ALPHA_MARKER] = &MARKER_TABLE[table];
    marker_count_ = table == MARKER_TABLE_5 ? MARKER_COUNT_TABLE_5 : MARKER_COUNT_TABLE_6;
    rebuild(ALPHA_MARKER);
  }
  void set_tag(int bits) {
    if (bits < 0 || bits > 3) throw Exception(104, "Huffman::set_tag(): unknown tag table");
    tables_[ALPHA_TAG] = &TAG_TABLE[bits];
    tag_count_ = 1 << bits;
    rebuild(ALPHA_TAG);
  }
  // Switches the line-mode table between A and B.
  void toggle_line_mode() {
    table_b_ = !table_b_;
    tables_[ALPHA_LINE_MODE] = table_b_ ? &LINE_MODE_TABLE_B : &LINE_MODE_TABLE_A;
    rebuild(ALPHA_LINE_MODE);
  }
  bool table_b() const { return table_b_; }
  int marker_count() const { return marker_count_; }
  Stream& stream(int n) { return streams_[n]; }
  int stream_count() const { return stream_count_; }

 protected:
  // Sets every table to the parameter set's choice, line-mode table A.
  void select_tables(const Info& info) {
    table_b_ = false;
    tables_[ALPHA_LINE_MODE] = &LINE_MODE_TABLE_A;
    rebuild(ALPHA_LINE_MODE);
    set_run(info.run_table);
    set_error(info.error_table);
    set_marker(info.marker_table);
    set_tag(info.tag_bits);
  }
  virtual void rebuild(int alphabet) = 0;

  const CodeTable* tables_[ALPHA_COUNT] = {};
  Stream streams_[MAX_STREAMS];
  int stream_count_ = 1;
  bool table_b_ = false;
  int marker_count_ = MARKER_COUNT_TABLE_6;
  int tag_count_ = 2;
};

class HuffmanEnc : public Huffman<DirectCodewordEnc, OutCodeBuffer> {
 public:
  explicit HuffmanEnc(const Info& info);
  ~HuffmanEnc() override = default;

  void put_line_mode(int sym) { put(MAIN_STREAM, line_mode_[sym]); }
  void put_run(int length) {
    if (length >= 1 && length <= RUN_DIRECT_MAX) {
      put(MAIN_STREAM, run_[length - 1]);
    } else {
      put_by_rows(MAIN_STREAM, ALPHA_RUN, length);
    }
  }
  // e is the error byte taken as a signed value.
  void put_error(int stream, int8_t e) { put(stream, error_[e + 128]); }
  void put_tag(int tag) { put(MAIN_STREAM, tag_[tag]); }
  // Line-mode symbol 6 and the marker's code.
  void put_marker(int marker);
  void put_raw_byte(uint8_t b) { streams_[MAIN_STREAM].put(b, 8); }
  void pad_all();
  void flush_all();
  uint64_t bytes_total() const;
  uint64_t bytes(int stream) const { return streams_[stream].bytes(); }

  // Direct tables for coding loops that write through BitWriter: line
  // modes 0-6, runs 1-256 (index length - 1), errors -128..127 (index e + 128).
  const DirectCodewordEnc* line_mode_codes() const { return line_mode_; }
  const DirectCodewordEnc* run_codes() const { return run_; }
  const DirectCodewordEnc* error_codes() const { return error_; }
  // The error codewords indexed by the error byte itself (e & 0xff), and
  // whether every error byte has one (true for every error table); those
  // codewords are at most ERROR_CODE_BITS_MAX bits long.
  const DirectCodewordEnc* error_codes_by_byte() const { return error_by_byte_; }
  bool error_codes_complete() const { return error_complete_; }
  // Codeword of a run longer than the direct table holds (or an undefined
  // one: throws as put_run does).
  DirectCodewordEnc long_run_code(int length) const;
  [[noreturn]] static void undefined_symbol();

  // Line-mode toggle count: +1 per run of symbol 0, -1 per error-coded pixel.
  int toggle_count = 0;
  // At the end of a line: switch tables (writing marker 0) when the count
  // says the other table is shorter, then restart the count.
  void end_of_line_toggle();

 private:
  void put(int stream, const DirectCodewordEnc& c) {
    if (c.len == 0) throw Exception(90, "HuffmanEnc::get_group(): undefined symbol");
    streams_[stream].put(c.code, c.len);
  }
  void put_by_rows(int stream, int alphabet, int v);
  void rebuild(int alphabet) override;

  DirectCodewordEnc line_mode_[LINE_MODE_COUNT] = {};
  DirectCodewordEnc run_[RUN_DIRECT_MAX] = {};
  DirectCodewordEnc error_[256] = {};
  DirectCodewordEnc error_by_byte_[256] = {};
  bool error_complete_ = false;
  DirectCodewordEnc marker_[MARKER_COUNT_TABLE_6] = {};
  DirectCodewordEnc tag_[8] = {};
};

class HuffmanDec : public Huffman<DirectCodewordDec, InCodeBuffer> {
 public:
  explicit HuffmanDec(const Info& info);
  ~HuffmanDec() override = default;

  // Line-mode symbols have no extra bits: every codeword comes from the
  // short-codeword table.
  int get_line_mode() { return get_value(MAIN_STREAM, ALPHA_LINE_MODE); }
  int get_run() { return get_value(MAIN_STREAM, ALPHA_RUN); }
  int get_error(int stream) { return get_value(stream, ALPHA_ERROR); }
  int get_tag() { return get_value(MAIN_STREAM, ALPHA_TAG); }
  int get_marker() { return get_value(MAIN_STREAM, ALPHA_MARKER); }
  uint8_t get_raw_byte() { return static_cast<uint8_t>(streams_[MAIN_STREAM].get(8)); }
  // The same decoding through a BitReader of the stream (see BitReader).
  const FastCodewordDec* fast_table(int alphabet) const { return fast_[alphabet]; }
  // Every error codeword by its first ERROR_CODE_BITS_MAX bits, or null
  // when some bit pattern begins no codeword or a longer one.
  const ErrorCodewordDec* error_full_table() const { return error_full_ ? error_by_bits_ : nullptr; }
  int get_value(BitReader& r, const FastCodewordDec* fast, int alphabet) {
    const FastCodewordDec f = fast[r.peek(FAST_BITS)];
    if (f.len <= r.bits) [[likely]] {
      r.drop(f.len);
      return f.value;
    }
    return get_value_slow(r, alphabet);
  }
  void align_all();
  uint64_t consumed_total() const;
  uint64_t consumed(int stream) const { return streams_[stream].consumed_bytes(); }

 private:
  int get_value(int stream, int alphabet) {
    InCodeBuffer& s = streams_[stream];
    const FastCodewordDec f = fast_[alphabet][s.peek(FAST_BITS)];
    if (f.len <= s.available()) [[likely]] {
      s.drop(f.len);
      return f.value;
    }
    return get_value_by_rows(s, alphabet);
  }
  // Long codewords, undefined codes and the end of the stream.
  int get_value_by_rows(InCodeBuffer& s, int alphabet);
  int get_value_slow(BitReader& r, int alphabet) {
    InCodeBuffer* s = r.owner;
    s->take(r);
    const int v = get_value_by_rows(*s, alphabet);
    r = s->reader();
    return v;
  }
  [[noreturn]] static void undefined_code();
  void rebuild(int alphabet) override;

  DirectCodewordDec dec_[ALPHA_COUNT][1 << PREFIX_BITS_MAX] = {};
  FastCodewordDec fast_[ALPHA_COUNT][1 << FAST_BITS] = {};
  ErrorCodewordDec error_by_bits_[1 << ERROR_CODE_BITS_MAX] = {};
  bool error_full_ = false;
};

}  // namespace mivo
