// Builders for ZT raster streams in tests: headers from named fields and
// pages of synthetic pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ztraster.h"

// A consistent uncoded header: bytesPerLine and pageBytes follow from the
// geometry; 600 dpi, A4 media, one copy.
ZTRasterHeader MakeHeader(int width, int height, int bitsPerPixel, uint32_t colorSpace);

// The 56 bytes of a header.
std::string HeaderBytes(const ZTRasterHeader& h);

// A page: header followed by data (data must hold pageBytes bytes, or fewer
// to build a truncated page).
std::string PageBytes(const ZTRasterHeader& h, const std::string& data);

// Deterministic pixel data of n bytes from a seed (xorshift).
std::string PatternBytes(size_t n, uint32_t seed);

// Parses a stream into (header, data) pages; a trailing partial header is
// ignored, a short body is returned as it stands.
struct ParsedPage {
  ZTRasterHeader header;
  std::string data;
};
std::vector<ParsedPage> ParseStream(const std::string& stream);
