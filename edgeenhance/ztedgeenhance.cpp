// ztedgeenhance: edge enhancement of CMYK pages. When the job's EdgeEnhance
// option is on, every page runs through EdgeEnhanceProc with the record that
// the job's Screen2 mode, ColorMode and DocumentType select in the device
// parameter file; otherwise pages are copied unchanged. Headers are never
// changed.
#include <cstdio>

#include "edgeenhance.h"
#include "hbploption.h"
#include "ztdevparam.h"
#include "ztimagefilter.h"
#include "ztraster.h"

namespace {

// The parameters of this job, unpacked once from the selected record.
EeParamSet eeParam;

void UnpackLevelWord(const unsigned char* word, int plane, EeParamSet* p) {
  const uint32_t v = DlbLE32(word);
  p->loth[plane] = static_cast<int>(v & 0xFF);
  p->bkth0[plane] = static_cast<int>((v >> 8) & 0xFF);
  p->npth0[plane] = static_cast<int>((v >> 16) & 0xFF);
}

void UnpackEdgeWord(const unsigned char* word, int plane, EeParamSet* p) {
  const uint32_t v = DlbLE32(word);
  p->eeth0[plane] = static_cast<int>(v & 0x3FF);
  p->eeth1[plane] = static_cast<int>((v >> 16) & 0xFF);
}

void UnpackEeParam(const icEeKestinType& rec, EeParamSet* p) {
  const uint32_t mode = DlbLE32(rec.mode);
  p->edge_mode = (mode & EE_MODE_EDGE) ? 1 : 0;
  p->bkgnd_mode = (mode & EE_MODE_BKGND) ? 1 : 0;
  p->dot_mode = (mode & EE_MODE_DOT) ? 1 : 0;
  UnpackLevelWord(rec.levelK, COLOR_ORDER_K, p);
  UnpackEdgeWord(rec.edgeK, COLOR_ORDER_K, p);
  UnpackLevelWord(rec.levelC, COLOR_ORDER_C, p);
  UnpackEdgeWord(rec.edgeC, COLOR_ORDER_C, p);
  UnpackLevelWord(rec.levelM, COLOR_ORDER_M, p);
  UnpackEdgeWord(rec.edgeM, COLOR_ORDER_M, p);
  UnpackLevelWord(rec.levelY, COLOR_ORDER_Y, p);
  UnpackEdgeWord(rec.edgeY, COLOR_ORDER_Y, p);
  for (int v = 0; v < 256; ++v) {
    const uint32_t w = DlbLE32(rec.outTable[v]);
    p->outTable[COLOR_ORDER_C][v] = static_cast<unsigned char>(w >> 16);
    p->outTable[COLOR_ORDER_M][v] = static_cast<unsigned char>(w >> 8);
    p->outTable[COLOR_ORDER_Y][v] = static_cast<unsigned char>(w);
    p->outTable[COLOR_ORDER_K][v] = static_cast<unsigned char>(w >> 24);
  }
  p->pileheight_limit = DlbLE32Signed(rec.pileheight_limit);
}

void DumpArray(const char* name, const int* values) {
  static const char* const kOrder[4] = {"COLOR_ORDER_C", "COLOR_ORDER_M", "COLOR_ORDER_Y", "COLOR_ORDER_K"};
  for (int c = 0; c < 4; ++c) fprintf(stderr, "DEBUG: ztedgeenhance: %s[%s] = %d.\n", name, kOrder[c], values[c]);
}

void DumpEeParam(const EeParamSet& p) {
  fprintf(stderr, "DEBUG: ztedgeenhance: sizeof(icEeKestinType) = %d.\n", static_cast<int>(sizeof(icEeKestinType)));
  fprintf(stderr, "DEBUG: ztedgeenhance: edge_mode = %d.\n", p.edge_mode);
  fprintf(stderr, "DEBUG: ztedgeenhance: bkgnd_mode = %d.\n", p.bkgnd_mode);
  fprintf(stderr, "DEBUG: ztedgeenhance: dot_mode = %d.\n", p.dot_mode);
  DumpArray("npth0", p.npth0);
  DumpArray("bkth0", p.bkth0);
  DumpArray("loth", p.loth);
  DumpArray("eeth1", p.eeth1);
  DumpArray("eeth0", p.eeth0);
  fprintf(stderr, "DEBUG: ztedgeenhance: pileheight_limit = %d.\n", static_cast<int>(p.pileheight_limit));
}

void UsePlaceholder(void* block) { eeParamCMYK = static_cast<const icEeKestinType*>(block); }

void UnpackRecord(bool dump) {
  UnpackEeParam(*eeParamCMYK, &eeParam);
  if (dump) DumpEeParam(eeParam);
}

bool EnhancementAsked(ppd_file_t* ppd) {
  const int setting = GetEdgeEnhanceSetting(ppd);
  return setting != -1 && setting != 0;
}

int EnhancePage(FILE* in, FILE* out, const ZTRasterHeader* header, int page) {
  int status = 0;
  switch (EdgeEnhanceProc(in, out, header, eeParam)) {
    case EE_OK: return 0;
    case EE_NO_MEMORY_LINES:
      fputs("ERROR: ztedgeenhance: calloc error for in_dt.\n", stderr);
      status = 1;
      break;
    case EE_NO_MEMORY_OUTPUT:
      fputs("ERROR: ztedgeenhance: calloc error for out_dt.\n", stderr);
      status = 1;
      break;
    case EE_READ_FAILED:
      fprintf(stderr, "ERROR: ztedgeenhance: page %d: the input ends inside the page data.\n", page);
      status = -1;
      break;
    default:
      ReportPageWriteFailure(out, "ztedgeenhance", page);
      status = -1;
      break;
  }
  fprintf(stderr, "DEBUG: ztedgeenhance: EdgeEnhanceProc() is error = %d.\n", status);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  static const ZTImageFilterDesc desc = {
      "ztedgeenhance",
      "DEBUG: ztedgeenhance: unable to open input file.\n",
      "DEBUG: ztedgeenhance: Unable to open input file\n",
      "eeParamCMYK_Base",
      sizeof(icEeKestinType),
      "WARNING: ztedgeenhance: no edge enhancement parameters for this job in the device parameter file; "
      "pages are copied unchanged.\n",
      ZT_LINE_FROM_WIDTH,
      UsePlaceholder,
      SelectEeParamCMYK,
      UnpackRecord,
      EnhancementAsked,
      EnhancePage,
  };
  return ZTRunImageFilter(desc, argc, argv);
}
