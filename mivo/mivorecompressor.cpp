#include "mivorecompressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "mivocore.h"

namespace mivo {

namespace {

// A band of decoded lines filled by the decoder's line callback.
struct BandSink {
  unsigned char* band;
  size_t line_bytes;
  int lines;
};

size_t TakeLine(void* context, const unsigned char* line, size_t n) {
  auto* sink = static_cast<BandSink*>(context);
  if (n != sink->line_bytes || sink->lines >= RECOMPRESS_BAND_LINES) return 0;
  std::memcpy(sink->band + static_cast<size_t>(sink->lines) * n, line, n);
  ++sink->lines;
  return n;
}

// Hands the encoder the line it is to code next.
struct NextLine {
  const unsigned char* line;
  size_t line_bytes;
  size_t taken;
};

size_t GiveLine(void* context, unsigned char* buffer, size_t n) {
  auto* src = static_cast<NextLine*>(context);
  size_t k = std::min(n, src->line_bytes - src->taken);
  std::memcpy(buffer, src->line + src->taken, k);
  src->taken += k;
  return k;
}

size_t CountOnly(void*, const unsigned char*, size_t n) { return n; }

// The encoder's parameter set: the same coding, lines in the coded layout.
Info EncoderInfo(const Info& info) {
  Info e = info;
  e.intake = RasterIntake();
  e.callback_in = GiveLine;
  return e;
}

Info DecoderInfo(const Info& info, ReadCallback read, void* const in_context[MAX_STREAMS], BandSink* sink) {
  Info d = info;
  d.callback_in = read;
  for (int i = 0; i < MAX_STREAMS; ++i) d.in_context[i] = in_context[i];
  d.callback_out = TakeLine;
  d.out_context[0] = sink;
  return d;
}

}  // namespace

void FlattenBlocks(unsigned char* band, size_t line_bytes, int lines, int components, int first_column, int columns,
                   int setting, uint64_t* histogram) {
  const size_t comps = static_cast<size_t>(components);
  const int end = first_column + columns;
  for (int x0 = first_column; x0 < end; x0 += RECOMPRESS_BLOCK) {
    const int bw = std::min(RECOMPRESS_BLOCK, end - x0);
    const int count = bw * lines;
    for (size_t c = 0; c < comps; ++c) {
      int lo = 255, hi = 0, sum = 0;
      for (int y = 0; y < lines; ++y) {
        const unsigned char* p = band + static_cast<size_t>(y) * line_bytes + static_cast<size_t>(x0) * comps + c;
        for (int x = 0; x < bw; ++x) {
          const int v = p[static_cast<size_t>(x) * comps];
          lo = std::min(lo, v);
          hi = std::max(hi, v);
          sum += v;
        }
      }
      const int spread = hi - lo;
      if (histogram) ++histogram[spread];
      if (spread == 0 || spread > setting) continue;
      const unsigned char mean = static_cast<unsigned char>((sum + count / 2) / count);
      for (int y = 0; y < lines; ++y) {
        unsigned char* p = band + static_cast<size_t>(y) * line_bytes + static_cast<size_t>(x0) * comps + c;
        for (int x = 0; x < bw; ++x) p[static_cast<size_t>(x) * comps] = mean;
      }
    }
  }
}

Recompressor::Recompressor(const Info& info, int first_column, int columns, uint64_t target)
    : info_(info), first_column_(first_column), columns_(columns), target_(target) {
  info_.normalize_mivo_info();
  if (first_column_ < 0 || columns_ < 0 || first_column_ > info_.line_pixels - columns_ ||
      info_.pixel_bytes != info_.components)
    throw Exception(210, "Recompressor::Recompressor(): bad geometry");
}

void Recompressor::flatten_band(unsigned char* band, int lines, int setting, uint64_t* histogram) const {
  FlattenBlocks(band, info_.bytes_per_line, lines, info_.components, first_column_, columns_, setting, histogram);
}

int Recompressor::first_pass(ReadCallback read, void* const in_context[MAX_STREAMS]) {
  const size_t lineBytes = info_.bytes_per_line;
  const size_t bandBytes = lineBytes * RECOMPRESS_BAND_LINES;
  Buffer band(info_, bandBytes);
  Buffer work(info_, bandBytes);
  BandSink sink{band.data(), lineBytes, 0};
  CoreDec dec(DecoderInfo(info_, read, in_context, &sink));

  // Four encoders side by side, each counting what it would write.
  Info e = EncoderInfo(info_);
  e.callback_out = CountOnly;
  NextLine sources[RECOMPRESS_LEVELS];
  CoreEnc* encoders[RECOMPRESS_LEVELS] = {};
  Buffer encoderStore(info_, sizeof(CoreEnc) * RECOMPRESS_LEVELS);
  int built = 0;
  std::fill(std::begin(histogram_), std::end(histogram_), 0);
  try {
    for (; built < RECOMPRESS_LEVELS; ++built) {
      e.in_context[0] = &sources[built];
      encoders[built] = new (encoderStore.data() + sizeof(CoreEnc) * built) CoreEnc(e);
    }
    for (int y = 0; y < info_.height; y += RECOMPRESS_BAND_LINES) {
      const int lines = std::min(RECOMPRESS_BAND_LINES, info_.height - y);
      sink.lines = 0;
      for (int k = 0; k < lines; ++k) dec.decode_line();
      for (int level = 0; level < RECOMPRESS_LEVELS; ++level) {
        std::memcpy(work.data(), band.data(), lineBytes * static_cast<size_t>(lines));
        flatten_band(work.data(), lines, RECOMPRESS_LEVEL_SETTING[level], level == 0 ? histogram_ : nullptr);
        for (int k = 0; k < lines; ++k) {
          sources[level] = NextLine{work.data() + lineBytes * static_cast<size_t>(k), lineBytes, 0};
          encoders[level]->encode_line();
        }
      }
    }
    dec.terminate();
    for (int level = 0; level < RECOMPRESS_LEVELS; ++level) level_size_[level] = encoders[level]->terminate();
  } catch (...) {
    for (int i = 0; i < built; ++i) encoders[i]->~CoreEnc();
    throw;
  }
  for (int i = 0; i < built; ++i) encoders[i]->~CoreEnc();

  if (columns_ == 0 || info_.height == 0) return -1;
  for (int level = 0; level < RECOMPRESS_LEVELS; ++level)
    if (level_size_[level] <= target_) return level;
  return RECOMPRESS_LEVELS - 1;
}

void Recompressor::step() {
  uint64_t textured = 0;  // blocks with a spread above the current setting
  for (int s = setting_ + 1; s < 256; ++s) textured += histogram_[s];
  uint64_t wanted = (textured + 1) / 2, taken = 0;
  int next = setting_;
  while (next < RECOMPRESS_STRONGEST && (taken < wanted || next == setting_)) taken += histogram_[++next];
  setting_ = next;
}

int Recompressor::pass(ReadCallback read, void* const in_context[MAX_STREAMS], WriteCallback write,
                       void* const out_context[MAX_STREAMS]) {
  const size_t lineBytes = info_.bytes_per_line;
  Buffer band(info_, lineBytes * RECOMPRESS_BAND_LINES);
  BandSink sink{band.data(), lineBytes, 0};
  CoreDec dec(DecoderInfo(info_, read, in_context, &sink));
  NextLine source{nullptr, lineBytes, 0};
  Info e = EncoderInfo(info_);
  e.in_context[0] = &source;
  e.callback_out = write;
  for (int i = 0; i < MAX_STREAMS; ++i) e.out_context[i] = out_context[i];
  CoreEnc enc(e);
  for (int y = 0; y < info_.height; y += RECOMPRESS_BAND_LINES) {
    const int lines = std::min(RECOMPRESS_BAND_LINES, info_.height - y);
    sink.lines = 0;
    for (int k = 0; k < lines; ++k) dec.decode_line();
    flatten_band(band.data(), lines, setting_, nullptr);
    for (int k = 0; k < lines; ++k) {
      source = NextLine{band.data() + lineBytes * static_cast<size_t>(k), lineBytes, 0};
      enc.encode_line();
    }
  }
  dec.terminate();
  last_size_ = enc.terminate();
  return last_size_ > target_ ? RECOMPRESS_TOO_LARGE : 0;
}

}  // namespace mivo
