// ztt_negate: a fourth image filter for the tests of the shared frame. When
// the job's EdgeEnhance option is on and an edge-enhancement record fits the
// job, every sample of every page is replaced by 255 minus it; otherwise
// pages are copied.
#include <cstdio>
#include <vector>

#include "hbploption.h"
#include "ztdevparam.h"
#include "ztimagefilter.h"

namespace {

void UsePlaceholder(void* block) { eeParamCMYK = static_cast<const icEeKestinType*>(block); }

void UnpackRecord(bool dump) {
  if (dump) fprintf(stderr, "DEBUG: ztt_negate: mode word %u.\n", DlbLE32(eeParamCMYK->mode));
}

bool NegateAsked(ppd_file_t* ppd) { return GetEdgeEnhanceSetting(ppd) == 1; }

int NegatePage(FILE* in, FILE* out, const ZTRasterHeader* header, int page) {
  std::vector<unsigned char> line(4 * static_cast<size_t>(header->width));
  for (int32_t y = 0; y < header->height; ++y) {
    if (fread(line.data(), 1, line.size(), in) != line.size()) {
      fprintf(stderr, "ERROR: ztt_negate: page %d ends early.\n", page);
      return 3;
    }
    for (unsigned char& v : line) v = static_cast<unsigned char>(255 - v);
    if (fwrite(line.data(), 1, line.size(), out) != line.size()) return 4;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  static const ZTImageFilterDesc desc = {
      "ztt_negate", "DEBUG: ztt_negate: no input (7).\n", "DEBUG: ztt_negate: no input (8).\n", "negate_Base",
      sizeof(icEeKestinType), "WARNING: ztt_negate: no record.\n", ZT_LINE_FROM_WIDTH, UsePlaceholder,
      SelectEeParamCMYK, UnpackRecord, NegateAsked, NegatePage,
  };
  return ZTRunImageFilter(desc, argc, argv);
}
