#include "mivohuffman.h"

#include <cstdlib>

namespace mivo {

namespace {

// Rows: {lo, hi, base, prefix length, sign, extra bits, prefix}.

const CodeRow kLineModeA[] = {
    {0, 0, 0, 1, 0, 0, 0b0},     {5, 5, 5, 2, 0, 0, 0b10},    {1, 1, 1, 3, 0, 0, 0b110},
    {2, 2, 2, 5, 0, 0, 0b11100}, {3, 3, 3, 5, 0, 0, 0b11101}, {4, 4, 4, 5, 0, 0, 0b11110},
    {6, 6, 6, 5, 0, 0, 0b11111},
};
const CodeRow kLineModeB[] = {
    {0, 0, 0, 2, 0, 0, 0b10},    {5, 5, 5, 1, 0, 0, 0b0},     {1, 1, 1, 3, 0, 0, 0b110},
    {2, 2, 2, 5, 0, 0, 0b11100}, {3, 3, 3, 5, 0, 0, 0b11101}, {4, 4, 4, 5, 0, 0, 0b11110},
    {6, 6, 6, 5, 0, 0, 0b11111},
};

const CodeRow kRun1[] = {
    {1, 1, 1, 2, 0, 0, 0b00},           {2, 2, 2, 3, 0, 0, 0b010},          {3, 3, 3, 3, 0, 0, 0b011},
    {4, 5, 4, 3, 0, 1, 0b100},          {6, 9, 6, 3, 0, 2, 0b101},          {10, 25, 10, 3, 0, 4, 0b110},
    {26, 33, 26, 6, 0, 3, 0b111000},    {34, 41, 34, 6, 0, 3, 0b111001},    {42, 49, 42, 6, 0, 3, 0b111010},
    {50, 65, 50, 6, 0, 4, 0b111011},    {66, 97, 66, 6, 0, 5, 0b111100},    {98, 161, 98, 6, 0, 6, 0b111101},
    {162, 673, 162, 6, 0, 9, 0b111110}, {674, 17057, 674, 6, 0, 14, 0b111111},
};
const CodeRow kRun2[] = {
    {1, 1, 1, 1, 0, 0, 0b0},        {2, 2, 2, 2, 0, 0, 0b10},       {3, 4, 3, 3, 0, 1, 0b110},
    {5, 8, 5, 4, 0, 2, 0b1110},     {9, 16, 9, 5, 0, 3, 0b11110},   {17, 1040, 17, 5, 0, 10, 0b11111},
};

const CodeRow kError1[] = {
    {0, 0, 0, 3, 0, 0, 0b000},     {1, 1, 1, 3, 0, 0, 0b001},     {-1, -1, 1, 3, 0, 0, 0b010},
    {2, 3, 2, 3, 1, 1, 0b011},     {4, 7, 4, 3, 1, 2, 0b100},     {8, 15, 8, 3, 1, 3, 0b101},
    {16, 47, 16, 3, 1, 5, 0b110},  {48, 79, 48, 4, 1, 5, 0b1110}, {80, 128, 80, 4, 1, 6, 0b1111},
};
const CodeRow kError2[] = {
    {0, 0, 0, 3, 0, 0, 0b000},      {1, 1, 1, 3, 1, 0, 0b001},      {2, 3, 2, 2, 1, 1, 0b01},
    {4, 5, 4, 3, 1, 1, 0b100},      {6, 9, 6, 3, 1, 2, 0b101},      {10, 13, 10, 4, 1, 2, 0b1100},
    {14, 21, 14, 4, 1, 3, 0b1101},  {22, 37, 22, 4, 1, 4, 0b1110},  {38, 69, 38, 5, 1, 5, 0b11110},
    {70, 128, 70, 5, 1, 6, 0b11111},
};
const CodeRow kError3[] = {
    {1, 2, 1, 3, 0, 1, 0b000},        {4, 4, 4, 4, 0, 0, 0b0010},     {8, 8, 8, 4, 0, 0, 0b0011},
    {16, 16, 16, 4, 0, 0, 0b0100},    {32, 32, 32, 4, 0, 0, 0b0101},  {64, 64, 64, 4, 0, 0, 0b0110},
    {128, 128, 128, 4, 0, 0, 0b0111}, {-128, -128, 128, 4, 0, 0, 0b0111},
    {0, 127, 0, 1, 1, 7, 0b1},
};
const CodeRow kError4[] = {
    {0, 127, 0, 1, 0, 7, 0b0},
    {-128, -1, 1, 1, 0, 7, 0b1},
};

const CodeRow kTag1[] = {{0, 0, 0, 1, 0, 0, 0b0}, {1, 1, 1, 1, 0, 0, 0b1}};
const CodeRow kTag2[] = {
    {0, 0, 0, 1, 0, 0, 0b0}, {1, 1, 1, 2, 0, 0, 0b10}, {2, 2, 2, 3, 0, 0, 0b110}, {3, 3, 3, 3, 0, 0, 0b111}};
const CodeRow kTag3[] = {
    {0, 0, 0, 1, 0, 0, 0b0},   {1, 1, 1, 3, 0, 0, 0b100}, {2, 3, 2, 3, 0, 1, 0b101},
    {4, 5, 4, 3, 0, 1, 0b110}, {6, 7, 6, 3, 0, 1, 0b111},
};

const CodeRow kMarker5[] = {{0, 0, 0, 1, 0, 0, 0b0}, {1, 1, 1, 3, 0, 0, 0b110}, {2, 2, 2, 3, 0, 0, 0b111}};
const CodeRow kMarker6[] = {{0, 2, 0, 3, 0, 4, 0b100}, {3, 7, 3, 3, 0, 4, 0b101}};

template <size_t N>
constexpr CodeTable Table(const CodeRow (&rows)[N]) {
  return CodeTable{rows, static_cast<int>(N)};
}

}  // namespace

const CodeTable LINE_MODE_TABLE_A = Table(kLineModeA);
const CodeTable LINE_MODE_TABLE_B = Table(kLineModeB);
const CodeTable RUN_TABLE[3] = {{nullptr, 0}, Table(kRun1), Table(kRun2)};
const CodeTable ERROR_TABLE[5] = {{nullptr, 0}, Table(kError1), Table(kError2), Table(kError3), Table(kError4)};
const CodeTable TAG_TABLE[4] = {Table(kTag1), Table(kTag1), Table(kTag2), Table(kTag3)};
const CodeTable MARKER_TABLE[7] = {{nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0},
                                   {nullptr, 0}, Table(kMarker5), Table(kMarker6)};

const CodeRow* FindRow(const CodeTable& table, int v) {
  for (int i = 0; i < table.count; ++i) {
    const CodeRow& r = table.rows[i];
    int key = r.sign ? std::abs(v) : v;
    if (key >= r.lo && key <= r.hi) return &r;
  }
  return nullptr;
}

uint32_t RowCodeword(const CodeRow& r, int v, int* length) {
  uint32_t code = r.prefix;
  if (r.sign) code = (code << 1) | (v < 0 ? 1u : 0u);
  code = (code << r.extra) | static_cast<uint32_t>(std::abs(v) - r.base);
  *length = r.prefix_len + r.sign + r.extra;
  return code;
}

// ---- Encoder ---------------------------------------------------------------

HuffmanEnc::HuffmanEnc(const Info& info) {
  stream_count_ = info.stream_count;
  for (int s = 0; s < stream_count_; ++s) streams_[s].init(info, info.callback_out, info.out_context[s]);
  select_tables(info);
}

void HuffmanEnc::rebuild(int alphabet) {
  const CodeTable& t = *tables_[alphabet];
  auto fill = [&t](DirectCodewordEnc* direct, int first, int count) {
    for (int i = 0; i < count; ++i) {
      const CodeRow* r = FindRow(t, first + i);
      int len = 0;
      direct[i].code = r ? RowCodeword(*r, first + i, &len) : 0;
      direct[i].len = static_cast<uint8_t>(len);
    }
  };
  switch (alphabet) {
    case ALPHA_LINE_MODE: fill(line_mode_, 0, LINE_MODE_COUNT); break;
    case ALPHA_RUN: fill(run_, 1, RUN_DIRECT_MAX); break;
    case ALPHA_ERROR:
      fill(error_, -128, 256);
      error_complete_ = true;
      for (int b = 0; b < 256; ++b) {
        error_by_byte_[b] = error_[b ^ 0x80];
        if (error_by_byte_[b].len == 0 || error_by_byte_[b].len > ERROR_CODE_BITS_MAX) error_complete_ = false;
      }
      break;
    case ALPHA_MARKER:
      fill(marker_, 0, MARKER_COUNT_TABLE_6);
      for (int i = marker_count_; i < MARKER_COUNT_TABLE_6; ++i) marker_[i].len = 0;
      break;
    case ALPHA_TAG: fill(tag_, 0, 8); break;
  }
}

void HuffmanEnc::put_by_rows(int stream, int alphabet, int v) {
  const CodeRow* r = FindRow(*tables_[alphabet], v);
  if (!r) undefined_symbol();
  int len;
  uint32_t code = RowCodeword(*r, v, &len);
  streams_[stream].put(code, len);
}

DirectCodewordEnc HuffmanEnc::long_run_code(int length) const {
  const CodeRow* r = FindRow(*tables_[ALPHA_RUN], length);
  if (!r) undefined_symbol();
  int len;
  uint32_t code = RowCodeword(*r, length, &len);
  return DirectCodewordEnc{code, static_cast<uint8_t>(len)};
}

void HuffmanEnc::undefined_symbol() { throw Exception(90, "HuffmanEnc::get_group(): undefined symbol"); }

void HuffmanEnc::put_marker(int marker) {
  if (marker < 0 || marker >= marker_count_) throw Exception(90, "HuffmanEnc::get_group(): undefined symbol");
  put_line_mode(LINE_MODE_MARKER);
  put(MAIN_STREAM, marker_[marker]);
}

void HuffmanEnc::pad_all() {
  for (int s = 0; s < stream_count_; ++s) streams_[s].pad();
}

void HuffmanEnc::flush_all() {
  for (int s = 0; s < stream_count_; ++s) streams_[s].flush_buffer();
}

uint64_t HuffmanEnc::bytes_total() const {
  uint64_t n = 0;
  for (int s = 0; s < stream_count_; ++s) n += streams_[s].bytes();
  return n;
}

void HuffmanEnc::end_of_line_toggle() {
  if ((toggle_count <= -9 && !table_b_) || (toggle_count >= 9 && table_b_)) {
    put_marker(MARKER_TOGGLE);
    toggle_line_mode();
  }
  toggle_count = 0;
}

// ---- Decoder ---------------------------------------------------------------

HuffmanDec::HuffmanDec(const Info& info) {
  stream_count_ = info.stream_count;
  for (int s = 0; s < stream_count_; ++s) streams_[s].init(info, info.callback_in, info.in_context[s]);
  select_tables(info);
}

void HuffmanDec::rebuild(int alphabet) {
  const CodeTable& t = *tables_[alphabet];
  DirectCodewordDec* d = dec_[alphabet];
  for (int i = 0; i < (1 << PREFIX_BITS_MAX); ++i) d[i] = DirectCodewordDec{-1, 0};
  for (int r = 0; r < t.count; ++r) {
    int shift = PREFIX_BITS_MAX - t.rows[r].prefix_len;
    for (int i = 0; i < (1 << PREFIX_BITS_MAX); ++i) {
      if ((i >> shift) == t.rows[r].prefix && d[i].row < 0) d[i] = DirectCodewordDec{static_cast<int8_t>(r), t.rows[r].prefix_len};
    }
  }
  // Short codewords, decoded exactly as the row route decodes them: the row
  // comes from the prefix table, the value is base + extra, signed.
  FastCodewordDec* f = fast_[alphabet];
  for (int i = 0; i < (1 << FAST_BITS); ++i) {
    f[i] = FastCodewordDec{0, FAST_NONE};
    const DirectCodewordDec& e = d[i >> (FAST_BITS - PREFIX_BITS_MAX)];
    if (e.row < 0) continue;
    const CodeRow& row = t.rows[e.row];
    const int len = row.prefix_len + row.sign + row.extra;
    if (len > FAST_BITS) continue;
    const int rest = i >> (FAST_BITS - len);  // the whole codeword
    const int extra = rest & ((1 << row.extra) - 1);
    const int negative = row.sign ? (rest >> row.extra) & 1 : (row.hi < 0 ? 1 : 0);
    const int mag = row.base + extra;
    f[i] = FastCodewordDec{static_cast<int16_t>(negative ? -mag : mag), static_cast<uint8_t>(len)};
  }
  if (alphabet != ALPHA_ERROR) return;
  // The same for whole error codewords of up to ERROR_CODE_BITS_MAX bits.
  constexpr int kBits = ERROR_CODE_BITS_MAX;
  error_full_ = true;
  for (int i = 0; i < (1 << kBits); ++i) {
    const DirectCodewordDec& e = d[i >> (kBits - PREFIX_BITS_MAX)];
    const CodeRow* row = e.row < 0 ? nullptr : &t.rows[e.row];
    const int len = row ? row->prefix_len + row->sign + row->extra : 0;
    if (!row || len > kBits) {
      error_full_ = false;
      error_by_bits_[i] = ErrorCodewordDec{0, 0};
      continue;
    }
    const int rest = i >> (kBits - len);
    const int extra = rest & ((1 << row->extra) - 1);
    const int negative = row->sign ? (rest >> row->extra) & 1 : (row->hi < 0 ? 1 : 0);
    const int mag = row->base + extra;
    error_by_bits_[i] = ErrorCodewordDec{static_cast<uint8_t>(negative ? -mag : mag), static_cast<uint8_t>(len)};
  }
}

int HuffmanDec::get_value_by_rows(InCodeBuffer& s, int alphabet) {
  const DirectCodewordDec& d = dec_[alphabet][s.peek(PREFIX_BITS_MAX)];
  if (d.row < 0) undefined_code();
  s.skip(d.len);
  const CodeRow& r = tables_[alphabet]->rows[d.row];
  int negative = r.sign ? static_cast<int>(s.get(1)) : (r.hi < 0 ? 1 : 0);
  int mag = r.base + static_cast<int>(s.get(r.extra));
  return negative ? -mag : mag;
}

void HuffmanDec::undefined_code() { throw Exception(150, "HuffmanDec::get_group(): undefined code"); }

void HuffmanDec::align_all() {
  for (int s = 0; s < stream_count_; ++s) streams_[s].align();
}

uint64_t HuffmanDec::consumed_total() const {
  uint64_t n = 0;
  for (int s = 0; s < stream_count_; ++s) n += streams_[s].consumed_bytes();
  return n;
}

}  // namespace mivo
