// zttrapping: traps the CMYK pages of a colour job. When the job's Trapping
// option is on and the job is in colour, every page runs through CTrapping
// with a 5 x 5 window and the thresholds of the trapping record that the
// job's DocumentType selects in the device parameter file; otherwise pages
// are copied unchanged. Headers are never changed.
#include <cstdio>
#include <new>

#include "hbploption.h"
#include "ztdevparam.h"
#include "ztimagefilter.h"
#include "ztraster.h"
#include "zttrapping2.h"

namespace {

constexpr unsigned short kMatrixSize = 5;

void UnpackTrapParam(const icTrapKestinType& rec, TrapParamSet* p) {
  const uint32_t flags = DlbLE32(rec.flags);
  p->pseud_ib = (flags & TRAP_FLAG_PSEUD_IB) ? 1 : 0;
  p->matrixsize = (flags & TRAP_FLAG_MATRIXSIZE) ? 1 : 0;
  p->bk_full = rec.bk_full;
  p->bk_white = rec.bk_white;
  p->cmy_white = rec.cmy_white;
  p->cmy_color = rec.cmy_color;
  p->ave_white = rec.ave_white;
  p->tonerlimit = DlbLE16(rec.tonerlimit) & TRAP_TONERLIMIT_MASK;
  p->ib_y_white = rec.ib_y_white;
  p->ib_m_white = rec.ib_m_white;
  p->ib_c_white = rec.ib_c_white;
  p->ib_k_full = rec.ib_k_full;
  p->ib_y_const = rec.ib_y_const;
  p->ib_m_const = rec.ib_m_const;
  p->ib_c_const = rec.ib_c_const;
}

void DumpTrapParam(const TrapParamSet& p) {
  fprintf(stderr, "DEBUG: zttrapping: sizeof(icTrapKestinType) = %d.\n", static_cast<int>(sizeof(icTrapKestinType)));
  fprintf(stderr, "DEBUG: zttrapping: matrixsize = %d.\n", p.matrixsize);
  fprintf(stderr, "DEBUG: zttrapping: pseud_ib = %d.\n", p.pseud_ib);
  fprintf(stderr, "DEBUG: zttrapping: cmy_color = %d.\n", p.cmy_color);
  fprintf(stderr, "DEBUG: zttrapping: cmy_white = %d.\n", p.cmy_white);
  fprintf(stderr, "DEBUG: zttrapping: bk_white = %d.\n", p.bk_white);
  fprintf(stderr, "DEBUG: zttrapping: bk_full = %d.\n", p.bk_full);
  fprintf(stderr, "DEBUG: zttrapping: ave_white = %d.\n", p.ave_white);
  fprintf(stderr, "DEBUG: zttrapping: tonerlimit = %d.\n", p.tonerlimit);
  fprintf(stderr, "DEBUG: zttrapping: ib_k_full = %d.\n", p.ib_k_full);
  fprintf(stderr, "DEBUG: zttrapping: ib_c_white = %d.\n", p.ib_c_white);
  fprintf(stderr, "DEBUG: zttrapping: ib_m_white = %d.\n", p.ib_m_white);
  fprintf(stderr, "DEBUG: zttrapping: ib_y_white = %d.\n", p.ib_y_white);
  fprintf(stderr, "DEBUG: zttrapping: ib_c_const = %d.\n", p.ib_c_const);
  fprintf(stderr, "DEBUG: zttrapping: ib_m_const = %d.\n", p.ib_m_const);
  fprintf(stderr, "DEBUG: zttrapping: ib_y_const = %d.\n", p.ib_y_const);
}

unsigned ReadLine(unsigned char* buf, unsigned length, void* userdata) {
  return fread(buf, 1, length, static_cast<FILE*>(userdata)) == length ? length : 0;
}

unsigned WriteLine(const unsigned char* buf, unsigned length, void* userdata) {
  return fwrite(buf, 1, length, static_cast<FILE*>(userdata)) == length ? length : 0;
}

// Traps one page whose header has been written. 0, or a TrapResult code.
int TrappingProc(FILE* in, FILE* out, const ZTRasterHeader* header) {
  try {
    CTrapping trapping;
    int rc = trapping.Initialize(static_cast<unsigned>(header->width), static_cast<unsigned>(header->height), 0,
                                 kMatrixSize, kMatrixSize, ReadLine, in, WriteLine, out);
    for (int32_t line = 0; rc == TRAP_OK && line < header->height; ++line) rc = trapping.TrappingLine();
    while (rc == TRAP_OK && trapping.HasPendingLines()) rc = trapping.TrappingLine();
    return rc;
  } catch (const std::bad_alloc&) {
    // The window's queues could not grow.
    return TRAP_NO_MEMORY;
  }
}

const char* TrapFailureText(int rc) {
  switch (rc) {
    case TRAP_NO_MEMORY: return "cannot allocate the trapping window";
    case TRAP_READ_FAILED: return "the input ends inside the page data";
    case TRAP_WRITE_FAILED: return "cannot write the output";
    default: return "page has no pixels to trap";
  }
}

void UsePlaceholder(void* block) { trapParamCMYK = static_cast<const icTrapKestinType*>(block); }

void UnpackRecord(bool dump) {
  UnpackTrapParam(*trapParamCMYK, &trapParam);
  if (dump) DumpTrapParam(trapParam);
}

// Trapping runs for colour jobs that ask for it.
bool TrappingAsked(ppd_file_t* ppd) {
  const int setting = GetTrappingSetting(ppd);
  return setting != -1 && setting != 0 && !IsMonochromeColorMode(GetColorModeSetting(ppd));
}

int TrapPage(FILE* in, FILE* out, const ZTRasterHeader* header, int page) {
  const int rc = TrappingProc(in, out, header);
  if (rc == TRAP_WRITE_FAILED) {
    ReportPageWriteFailure(out, "zttrapping", page);
    fprintf(stderr, "DEBUG: zttrapping: TrappingProc() is error = %d.\n", rc);
  } else if (rc != 0) {
    fprintf(stderr, "ERROR: zttrapping: page %d: %s.\n", page, TrapFailureText(rc));
    fprintf(stderr, "DEBUG: zttrapping: TrappingProc() is error = %d.\n", rc);
  }
  return rc;
}

}  // namespace

int main(int argc, char* argv[]) {
  static const ZTImageFilterDesc desc = {
      "zttrapping",
      "DEBUG: zttrapping: Unable to open input file\n",
      "DEBUG: zttrapping: Unable to open input file\n",
      "trapParamCMYK_Base",
      sizeof(icTrapKestinType),
      "WARNING: zttrapping: no trapping parameters for this job in the device parameter file; "
      "pages are copied unchanged.\n",
      ZT_LINE_FROM_WIDTH,
      UsePlaceholder,
      SelectTrapParamCMYK,
      UnpackRecord,
      TrappingAsked,
      TrapPage,
  };
  return ZTRunImageFilter(desc, argc, argv);
}
