// Renders the pages of a printer job: raw scan lines as they stand, MIVO-coded
// pages through the codec's decoder, one line at a time. Each line is counted
// for ink and, when a PNG path is given, converted to RGB (CMYK through
// R = 255 - min(255, C + K) and likewise for G and B) and written as one PNG row.
// Memory stays at a few lines whatever the page size; the limits below bound
// the work a hostile page can ask for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ztjobview_check.h"

namespace ztinspect {

struct RenderLimits {
  uint32_t maxWidth = 1u << 17;       // pixels per coded line
  uint64_t maxPixels = 1ull << 29;    // pixels per page
  uint32_t step = 1;                  // the PNG keeps every step-th pixel of every step-th line
};

struct PageStats {
  uint32_t width = 0, height = 0;     // of the shown image (lead pixels and padding cut off)
  const char* layout = "";            // "colour" (CMYK), "mono" (K), "rgb"
  uint64_t ink[4] = {};               // pixels with C, M, Y, K above 0
  bool png = false;                   // a PNG was written
};

enum RenderResult {
  kRendered = 0,
  kBadData = 1,        // the payload does not decode: fault says where and why
  kNotRendered = 2,    // a coding the inspector does not know, or an empty page
  kOutputFailed = 3,   // the PNG could not be written: fault.message says why
};

// Renders one page of data (the whole job). pngPath empty: decode and count only.
RenderResult RenderPage(std::string_view data, const PageInfo& page, const RenderLimits& limits,
                        const std::string& pngPath, PageStats* stats, Fault* fault);

}  // namespace ztinspect
