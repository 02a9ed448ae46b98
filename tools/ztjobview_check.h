// The job inspector's view of a printer job: the structure that the job
// reader (hbpljob) has checked byte by byte, plus the rules that tie the
// values together (constant attributes, geometry against payload sizes, the
// stream lengths of coded pages), and a plain description of every page for
// the summary and the renderer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hbpljob.h"

namespace ztinspect {

// How a page's payload is coded, from the BeginPage attributes.
enum class Coding {
  kRaw,    // uncoded scan lines
  kMivo,   // MIVO code streams behind a 32-byte chunk header
  kOther,  // a coding the inspector does not render
};

// A code stream inside the job: where it starts and how long it is.
struct Stream {
  size_t offset = 0;
  size_t length = 0;
};

struct PageInfo {
  int index = 0;             // 1-based place in the job
  size_t offset = 0;         // of the BeginPage operator
  uint32_t orientation = 0;  // 0x91
  uint32_t slot = 0;         // 0x92
  uint32_t sizeCode = 0;     // 0x94
  uint32_t customWidth = 0, customHeight = 0;  // 0x95
  int32_t x = 0, y = 0;      // 0x97, signed 16-bit
  uint32_t side = 0;         // 0x98
  uint32_t number = 0;       // 0x99
  uint32_t width = 0, height = 0;  // 0x9A
  uint32_t kind = 0, format = 0, planes = 0, variant = 0, bits = 0, resCode = 0;  // 0x9C..0xA1
  uint32_t lineWidth = 0, lineHeight = 0;  // 0xA2

  Coding coding = Coding::kOther;
  bool mono = false;          // one component (K) rather than four (MIVO pages)
  bool leadPixels = false;    // MIVO lines start with 8 lead pixels
  size_t dataOffset = 0;      // first byte of the image data array
  size_t dataLength = 0;
  int rawBytesPerPixel = 0;   // raw pages: 1 (K), 3 (RGB) or 4 (CMYK); 0 when empty
  Stream streams[5];          // MIVO pages: by sink number 0..4
  int streamCount = 0;
};

struct Fault {
  size_t offset = 0;
  std::string message;
};

struct JobInfo {
  hbpljob::Job job;
  uint32_t encoding = 0;  // BeginJob attribute 0x82
  std::vector<PageInfo> pages;
};

// Parses and checks a whole job held in data (which must outlive the
// result). True when it is sound; otherwise the first fault.
bool InspectJob(std::string_view data, JobInfo* info, Fault* fault);

}  // namespace ztinspect
