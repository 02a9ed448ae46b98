// Fuzz harness of the job inspector: any bytes go through the structure
// checks and, for a sound structure, every page is decoded (without PNG
// output) under small render limits.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ztjobview_check.h"
#include "ztjobview_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view job(reinterpret_cast<const char*>(data), size);
  ztinspect::JobInfo info;
  ztinspect::Fault fault;
  if (!ztinspect::InspectJob(job, &info, &fault)) return 0;
  const ztinspect::RenderLimits limits{1u << 12, 1u << 20};
  for (const auto& page : info.pages) {
    ztinspect::PageStats stats;
    ztinspect::RenderPage(job, page, limits, "", &stats, &fault);
  }
  return 0;
}
