// ztdigitalfilter: the digital (sharpening or smoothing) filter of CMYK
// pages. When the job's DigitalFilter choice is Low, Middle or High, every
// line runs through the 7-tap filter of the record that the strength selects
// in the device parameter file; with Off pages are copied unchanged. Headers
// are never changed.
#include <cstdio>

#include "digitalfilter.h"
#include "hbploption.h"
#include "ztdevparam.h"
#include "ztimagefilter.h"
#include "ztraster.h"

namespace {

// The coefficients of this job, unpacked once from the selected record.
DfCoefTable dfCoef;

// The record stores each plane's coefficients centre first, the filter's
// array holds them from distance 3 up to the centre.
void UnpackPlane(const unsigned char (*stored)[2], int* coef) {
  for (int i = 0; i < 4; ++i) coef[3 - i] = DlbLE16Signed(stored[i]);
}

void UnpackDfParam(const icCF17KestinType& rec, DfCoefTable* t) {
  UnpackPlane(rec.coefK, t->dfCoef_K);
  UnpackPlane(rec.coefC, t->dfCoef_C);
  UnpackPlane(rec.coefM, t->dfCoef_M);
  UnpackPlane(rec.coefY, t->dfCoef_Y);
}

void DumpDfParam(const DfCoefTable& t) {
  fprintf(stderr, "DEBUG: ztdigitalfilter: sizeof(icCF17KestinType) = %d.\n",
          static_cast<int>(sizeof(icCF17KestinType)));
  for (int i = 0; i < 4; ++i)
    fprintf(stderr, "DEBUG: ztdigitalfilter: dfCoef_K[%d]=%16.12f.\n", i, t.dfCoef_K[i] * 0.000244140625);
}

void UsePlaceholder(void* block) { dfParamCMYK = static_cast<const icCF17KestinType*>(block); }

void UnpackRecord(bool dump) {
  UnpackDfParam(*dfParamCMYK, &dfCoef);
  if (dump) DumpDfParam(dfCoef);
}

bool FilterAsked(ppd_file_t* ppd) {
  const int setting = GetDigitalFilterSetting(ppd);
  return setting != -1 && setting != 0;
}

int FilterPage(FILE* in, FILE* out, const ZTRasterHeader* header, int page) {
  const int status = DigitalFilterProc(in, out, header, dfCoef);
  if (status == DF_OK) return 0;
  if (status == DF_NO_MEMORY)
    fputs("ERROR: ztdigitalfilter: calloc error for linebuf.\n", stderr);
  else if (ferror(out))
    ReportPageWriteFailure(out, "ztdigitalfilter", page);
  else
    fprintf(stderr, "ERROR: ztdigitalfilter: page %d: the input ends inside the page data.\n", page);
  fprintf(stderr, "DEBUG: ztdigitalfilter: DigitalFilterProc() is error = %d.\n", status);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  static const ZTImageFilterDesc desc = {
      "ztdigitalfilter",
      "DEBUG: ztdigitalfilter: Unable to open input file\n",
      "DEBUG: ztdigitalfilter: Unable to open input file\n",
      "dfParamCMYK_Base",
      sizeof(icCF17KestinType),
      "WARNING: ztdigitalfilter: no digital filter parameters for this job in the device parameter file; "
      "pages are copied unchanged.\n",
      ZT_LINE_FROM_BYTES_PER_LINE,
      UsePlaceholder,
      SelectDfParamCMYK,
      UnpackRecord,
      FilterAsked,
      FilterPage,
  };
  return ZTRunImageFilter(desc, argc, argv);
}
