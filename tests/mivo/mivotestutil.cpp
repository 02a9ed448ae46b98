#include "mivotestutil.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace mivotest {

size_t Streams::total() const {
  size_t n = 0;
  for (const auto& x : s) n += x.size();
  return n;
}

namespace {

struct Source {
  const std::string* data;
  size_t pos;
  size_t chunk;
};

size_t ReadSource(void* ctx, unsigned char* buf, size_t n) {
  auto* s = static_cast<Source*>(ctx);
  size_t k = std::min({n, s->chunk, s->data->size() - s->pos});
  std::memcpy(buf, s->data->data() + s->pos, k);
  s->pos += k;
  return k;
}

size_t WriteSink(void* ctx, const unsigned char* buf, size_t n) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), n);
  return n;
}

void CollectText(void* ctx, const unsigned char* text, size_t n) {
  static_cast<std::vector<std::string>*>(ctx)->emplace_back(reinterpret_cast<const char*>(text), n);
}

}  // namespace

Streams Encode(mivo::Info info, const std::string& image, const MarkerPlan& plan, const TextPlan& text,
               int terminator) {
  Streams out;
  Source src{&image, 0, image.size() + 1};
  info.callback_in = ReadSource;
  info.in_context[0] = &src;
  info.callback_out = WriteSink;
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) info.out_context[i] = &out.s[i];
  mivo::CoreEnc enc(info);
  int line = 0;
  while (line < info.height) {
    if (text) {
      std::string t = text(line);
      if (!t.empty())
        enc.insert_marker(mivo::MARKER_TEXT, reinterpret_cast<const unsigned char*>(t.data()), t.size());
    }
    LineMarker m = plan ? plan(line) : LineMarker{};
    enc.encode_line(m.marker, m.data);
    line += (m.marker == mivo::MARKER_CPY || m.marker == mivo::MARKER_FIL) ? 2 : 1;
  }
  enc.terminate(terminator);
  return out;
}

std::string Decode(mivo::Info info, const Streams& streams, int lines, size_t chunk, std::vector<std::string>* texts) {
  std::string out;
  Source src[mivo::MAX_STREAMS];
  for (int i = 0; i < mivo::MAX_STREAMS; ++i) {
    src[i] = Source{&streams.s[i], 0, chunk};
    info.in_context[i] = &src[i];
  }
  info.callback_in = ReadSource;
  info.callback_out = WriteSink;
  info.out_context[0] = &out;
  if (texts) {
    info.callback_text = CollectText;
    info.text_context = texts;
  }
  mivo::CoreDec dec(info);
  for (int i = 0; i < lines; ++i) dec.decode_line();
  dec.terminate();
  return out;
}

const char* PatternName(Pattern p) {
  switch (p) {
    case Pattern::kNoise: return "Noise";
    case Pattern::kText: return "Text";
    case Pattern::kFlat: return "Flat";
    case Pattern::kGradient: return "Gradient";
    case Pattern::kRepeat: return "Repeat";
    case Pattern::kStripes: return "Stripes";
    case Pattern::kTwoColours: return "TwoColours";
    case Pattern::kWhite: return "White";
  }
  return "?";
}

std::string MakeImage(Pattern p, size_t bpl, int height, int components, uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t comps = static_cast<size_t>(components);
  const size_t width = bpl / comps;
  std::string img(bpl * static_cast<size_t>(height), '\0');
  auto px = [&](size_t x, int y) { return &img[static_cast<size_t>(y) * bpl + x * comps]; };
  auto colour = [&]() {
    std::string c(comps, '\0');
    for (auto& b : c) b = static_cast<char>(rng() & 0xff);
    return c;
  };
  switch (p) {
    case Pattern::kNoise:
      for (auto& b : img) b = static_cast<char>(rng() & 0xff);
      break;
    case Pattern::kWhite:
      break;
    case Pattern::kText: {
      // Mostly blank with small dark marks grouped in rows, like glyphs.
      for (int y = 0; y < height; ++y) {
        if ((y / 6) % 3 == 2) continue;
        for (size_t x = 0; x < width; ++x) {
          if (rng() % 7 == 0) {
            size_t len = 1 + rng() % 4;
            std::string c = rng() % 2 ? std::string(comps, '\xff') : colour();
            for (size_t k = 0; k < len && x + k < width; ++k) std::memcpy(px(x + k, y), c.data(), comps);
            x += len + rng() % 9;
          }
        }
      }
      break;
    }
    case Pattern::kFlat: {
      std::string bg = colour();
      for (int y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) std::memcpy(px(x, y), bg.data(), comps);
      for (int r = 0; r < 6; ++r) {
        std::string c = colour();
        size_t x0 = rng() % (width + 1), w = rng() % (width + 1);
        int y0 = static_cast<int>(rng() % static_cast<unsigned>(height + 1));
        int h = static_cast<int>(rng() % static_cast<unsigned>(height + 1));
        for (int y = y0; y < std::min(height, y0 + h); ++y)
          for (size_t x = x0; x < std::min(width, x0 + w); ++x) std::memcpy(px(x, y), c.data(), comps);
      }
      break;
    }
    case Pattern::kGradient:
      for (int y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
          for (size_t c = 0; c < comps; ++c)
            px(x, y)[c] = static_cast<char>((x * (c + 1) + static_cast<size_t>(y) * 2 + rng() % 5) & 0xff);
      break;
    case Pattern::kRepeat: {
      // A few distinct lines, each repeated several times.
      std::string line(bpl, '\0');
      for (int y = 0; y < height; ++y) {
        if (y % 5 == 0)
          for (auto& b : line) b = static_cast<char>(rng() % 4 * 60);
        std::memcpy(&img[static_cast<size_t>(y) * bpl], line.data(), bpl);
      }
      break;
    }
    case Pattern::kStripes:
      // Short periodic patterns: matches some pixels to the left.
      for (int y = 0; y < height; ++y) {
        size_t period = 2 + static_cast<size_t>(y) % 7;
        std::vector<std::string> cols;
        for (size_t k = 0; k < period; ++k) cols.push_back(colour());
        for (size_t x = 0; x < width; ++x) std::memcpy(px(x, y), cols[x % period].data(), comps);
      }
      break;
    case Pattern::kTwoColours: {
      // Two colours that keep coming back between noise pixels.
      std::string a = colour(), b = colour();
      for (int y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) {
          unsigned r = rng() % 10;
          std::string c = r < 4 ? a : r < 8 ? b : colour();
          std::memcpy(px(x, y), c.data(), comps);
        }
      break;
    }
  }
  return img;
}

std::string PackBits(const std::string& bits) {
  std::string padded = bits;
  while (padded.size() % 8) padded += '1';
  std::string out;
  for (size_t i = 0; i < padded.size(); i += 8) {
    unsigned v = 0;
    for (size_t k = 0; k < 8; ++k) v = (v << 1) | (padded[i + k] == '1' ? 1u : 0u);
    out += static_cast<char>(v);
  }
  return out;
}

std::string Extra(unsigned value, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += ((value >> i) & 1) ? '1' : '0';
  return s;
}

}  // namespace mivotest
