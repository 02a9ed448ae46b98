// Helpers of the codec tests: running the encoder and decoder over images
// held in memory, seeded image generators, and expected streams built from
// the codewords of the format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mivocore.h"

namespace mivotest {

struct Streams {
  std::string s[mivo::MAX_STREAMS];
  size_t total() const;
};

// Markers to request per line: marker and its data.
struct LineMarker {
  int marker = mivo::MARKER_NONE;
  int data = 0;
};
using MarkerPlan = std::function<LineMarker(int line)>;
// Text inserted before a line (empty: none).
using TextPlan = std::function<std::string(int line)>;

// Encodes the image (lines in the caller's layout, back to back) with
// info.height lines; with a plan, lines for which CPY or FIL was requested
// are not read again (the caller keeps them out of `image`).
Streams Encode(mivo::Info info, const std::string& image, const MarkerPlan& plan = nullptr,
               const TextPlan& text = nullptr, int terminator = mivo::MARKER_EOI);

// Decodes `lines` lines; the stream callbacks hand out at most `chunk`
// bytes per call. Texts from marker 6 are appended to *texts when given.
std::string Decode(mivo::Info info, const Streams& streams, int lines, size_t chunk = 1 << 20,
                   std::vector<std::string>* texts = nullptr);

// Seeded generators of one image (bytes_per_line * height bytes).
enum class Pattern { kNoise, kText, kFlat, kGradient, kRepeat, kStripes, kTwoColours, kWhite };
std::string MakeImage(Pattern p, size_t bytesPerLine, int height, int components, uint32_t seed);
const char* PatternName(Pattern p);

// Codewords as bit strings ("110"), packed most significant bit first and
// padded with 1-bits to a byte, as the streams are.
std::string PackBits(const std::string& bits);
// A value in n extra bits ("0101" for 5 in 4 bits).
std::string Extra(unsigned value, int n);

}  // namespace mivotest
