// ztdigitalfilter: the digital (sharpening or smoothing) filter of CMYK
// pages. When the job's DigitalFilter choice is Low, Middle or High, every
// line runs through the 7-tap filter of the record that the strength selects
// in the device parameter file; with Off pages are copied unchanged. Headers
// are never changed.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "digitalfilter.h"
#include "hbploption.h"
#include "ztdevparam.h"
#include "ztimagefilter.h"
#include "ztio.h"
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

}  // namespace

int main(int argc, char* argv[]) {
  setbuf(stderr, nullptr);
  signal(SIGTERM, SIG_IGN);
  // A reader that goes away makes the next write fail with a reported error
  // instead of ending the filter silently.
  signal(SIGPIPE, SIG_IGN);

  ZTFilterArgs args;
  if (ZTParseFilterArgs(argc, argv, 6, 8, &args) != 0) {
    fputs("ERROR: [Usage:] ztdigitalfilter job-id user title copies options [InFile] [OutFile]\n", stderr);
    return 1;
  }
  ZTStream input(ZTOpenInput_FP(args.inputFile));
  if (!input.get()) {
    fputs("DEBUG: ztdigitalfilter: Unable to open input file\n", stderr);
    return -1;
  }
  ZTStream output(ZTOpenImageOutput_FP(args.outputFile));
  if (!output.get()) {
    fputs("DEBUG: ztdigitalfilter: unable to open output file.\n", stderr);
    return -1;
  }
  setvbuf(input.get(), nullptr, _IOFBF, ZT_IMAGE_STREAM_BUFFER);
  setvbuf(output.get(), nullptr, _IOFBF, ZT_IMAGE_STREAM_BUFFER);

  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) {
    fputs("ERROR: ztdigitalfilter: CreatePPDSetting() Error.\n", stderr);
    return 1;
  }
  const bool dump = CheckParamCMYK(setting.ppd) != 0;

  std::unique_ptr<icCF17KestinType, decltype(&free)> dfParamCMYK_Base(
      static_cast<icCF17KestinType*>(calloc(1, sizeof(icCF17KestinType))), &free);
  if (!dfParamCMYK_Base) {
    fputs("ERROR: ztdigitalfilter: calloc error for dfParamCMYK_Base.\n", stderr);
    return 1;
  }
  dfParamCMYK = dfParamCMYK_Base.get();

  ZTDlbImage image;
  ReadDlbInfo();
  if (const char* message = DlbLoadMessage()) fputs(message, stderr);
  const bool haveRecord = SelectDfParamCMYK(setting.ppd) == 0;
  UnpackDfParam(*dfParamCMYK, &dfCoef);
  if (dump) DumpDfParam(dfCoef);

  const int dfSetting = GetDigitalFilterSetting(setting.ppd);
  bool filtering = dfSetting != -1 && dfSetting != 0;
  if (filtering && !haveRecord) {
    fputs("WARNING: ztdigitalfilter: no digital filter parameters for this job in the device parameter file; "
          "pages are copied unchanged.\n", stderr);
    filtering = false;
  }

  int status = 0;
  int page = 0;
  ZTRasterHeader header;
  while (status == 0 && ReadZTRasterHeader_FP(input.get(), &header) == 1) {
    ++page;
    if (filtering) {
      status = BeginReworkedPage(output.get(), &header, ZT_LINE_FROM_BYTES_PER_LINE, "ztdigitalfilter", page);
      if (status != 0) break;
      status = DigitalFilterProc(input.get(), output.get(), &header, dfCoef);
      if (status == DF_NO_MEMORY) {
        fputs("ERROR: ztdigitalfilter: calloc error for linebuf.\n", stderr);
      } else if (status != DF_OK) {
        fprintf(stderr, "ERROR: ztdigitalfilter: page %d: %s.\n", page,
                ferror(output.get()) ? "cannot write the output" : "the input ends inside the page data");
      }
      if (status != DF_OK) fprintf(stderr, "DEBUG: ztdigitalfilter: DigitalFilterProc() is error = %d.\n", status);
    } else {
      status = CopyPageUnchanged(input.get(), output.get(), &header, "ztdigitalfilter", page);
    }
  }

  if (output.close() != 0 && status == 0) {
    fputs("ERROR: ztdigitalfilter: cannot write the output.\n", stderr);
    status = 1;
  }
  return status;
}
