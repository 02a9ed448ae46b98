// zttrc: lowers every component value of every page by a constant factor to
// save toner (a lower value means less toner in the CMYK and black forms of
// the stream). Toner saving scales by 0.7, thin-ink printing in a non-colour
// mode by 0.35; otherwise the stream is copied unchanged. Headers are never
// changed.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "hbploption.h"
#include "ztio.h"
#include "zterror.h"
#include "ztraster.h"

// Chunk size of both page operations: 4 MiB.
static constexpr size_t TRC_BUFSIZE = 4194304;
// Unchanged pages of at least this size pass between the descriptors;
// smaller ones are copied through the output stream's buffer, which joins
// them into fewer writes.
static constexpr uint64_t TRC_PASS_MIN_BYTES = 65536;

// The scale factors, as single-precision numbers (both slightly below the
// decimal values).
static constexpr float TRC_FACTOR_THIN_INK = 0.35f;
static constexpr float TRC_FACTOR_TONER_SAVE = 0.7f;
static constexpr float TRC_FACTOR_NONE = 1.0f;

// The factor of this job: thin ink counts only outside colour mode.
static float GetTRCFactor(ppd_file_t* ppd) {
  if (GetThinInkPrintSetting(ppd) == 1 && GetColorModeSetting(ppd) != ZT_COLORMODE_COLOR) return TRC_FACTOR_THIN_INK;
  if (GetTonerSaveSetting(ppd) == 1) return TRC_FACTOR_TONER_SAVE;
  return TRC_FACTOR_NONE;
}

// Byte v becomes v * factor truncated toward zero. The product is formed in
// double precision: in single precision 100 * 0.35f would round up to 35.
static void BuildTRCTable(float factor, unsigned char table[256]) {
  for (int v = 0; v < 256; ++v) {
    const double scaled = static_cast<double>(v) * static_cast<double>(factor);
    table[v] = static_cast<unsigned char>(std::clamp(static_cast<int>(scaled), 0, 255));
  }
}

// The same scaling as one multiply and shift per byte, which the compiler
// turns into vector code: a multiplier m with (v * m) >> 16 equal to the
// table entry for every byte value, checked against the table itself.
// 0 when no such multiplier exists (the table is used then).
static uint16_t FindTRCMultiplier(float factor, const unsigned char table[256]) {
  const long base = static_cast<long>(static_cast<double>(factor) * 65536.0);
  for (long m = std::max(1L, base - 256); m <= std::min(65535L, base + 256); ++m) {
    bool exact = true;
    for (uint32_t v = 0; v < 256 && exact; ++v) exact = ((v * static_cast<uint32_t>(m)) >> 16) == table[v];
    if (exact) return static_cast<uint16_t>(m);
  }
  return 0;
}

// Maps every byte of the chunk through the tone curve.
static void ScaleBytes(unsigned char* p, size_t n, const unsigned char table[256], uint16_t multiplier) {
  size_t i = 0;
  if (multiplier) {
    // Fixed-length blocks let the compiler vectorise the inner loop.
    constexpr size_t kBlock = 64;
    for (; i + kBlock <= n; i += kBlock) {
      for (size_t k = 0; k < kBlock; ++k) {
        const uint16_t v = p[i + k];
        p[i + k] = static_cast<unsigned char>((static_cast<uint32_t>(v) * multiplier) >> 16);
      }
    }
  }
  for (; i < n; ++i) p[i] = table[p[i]];
}

// A tone curve ready to apply: the table and, where one exists, its
// multiplier.
struct TRCCurve {
  unsigned char table[256];
  uint16_t multiplier;
};

using CBuffer = std::unique_ptr<unsigned char, decltype(&free)>;

// A failed output write: its cause (errno of the write), then the
// operation's own line.
static void ReportWriteFailure(const char* name) {
  ZTPrintCause("zttrc", "cannot write the output", errno);
  fprintf(stderr, "DEBUG: %s(): can't write to output file.\n", name);
}

// Writes the header and copies the page's data bytes in chunks of at most
// 4 MiB, mapping each byte through the tone curve when one is given. `name` is the
// operation's name in its messages. 0, or -1 after its message.
static int CopyPageData(FILE* in, FILE* out, const ZTRasterHeader* header, const TRCCurve* curve,
                        const char* name) {
  CBuffer buf(static_cast<unsigned char*>(calloc(TRC_BUFSIZE, 1)), &free);
  if (!buf) {
    fprintf(stderr, "ERROR: %s(): calloc error for imagedatabuf.\n", name);
    return -1;
  }
  if (WriteZTRasterHeader_FP(out, header) != 1) {
    ReportWriteFailure(name);
    return -1;
  }
  uint64_t remaining = header->pageBytes > 0 ? static_cast<uint64_t>(header->pageBytes) : 0;
  unsigned char* data = buf.get();
  if (!curve && remaining >= TRC_PASS_MIN_BYTES) {
    // A page copied unchanged passes straight from input to output.
    switch (ZTPassBytes_FP(in, out, remaining, data, TRC_BUFSIZE)) {
      case ZT_COPY_OK:
        return 0;
      case ZT_COPY_SHORT_READ:
        fprintf(stderr, "ERROR: %s(): the input ends inside the page data.\n", name);
        return -1;
      case ZT_COPY_READ_FAILED:
        fprintf(stderr, "ERROR: %s(): can't read from input file.\n", name);
        return -1;
      default:
        ReportWriteFailure(name);
        return -1;
    }
  }
  while (remaining > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, TRC_BUFSIZE));
    if (fread(data, 1, n, in) != n) {
      // A page that ends early is an error too, not a page padded with the
      // rest of the buffer.
      if (ferror(in))
        fprintf(stderr, "ERROR: %s(): can't read from input file.\n", name);
      else
        fprintf(stderr, "ERROR: %s(): the input ends inside the page data.\n", name);
      return -1;
    }
    if (curve) ScaleBytes(data, n, curve->table, curve->multiplier);
    if (fwrite(data, 1, n, out) != n) {
      ReportWriteFailure(name);
      return -1;
    }
    remaining -= n;
  }
  return 0;
}

static int throwdata(FILE* in, FILE* out, const ZTRasterHeader* header) {
  return CopyPageData(in, out, header, nullptr, "throwdata");
}

static int applyTRC(FILE* in, FILE* out, const ZTRasterHeader* header, float factor) {
  TRCCurve curve;
  BuildTRCTable(factor, curve.table);
  curve.multiplier = FindTRCMultiplier(factor, curve.table);
  return CopyPageData(in, out, header, &curve, "applyTRC");
}

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 7, "ERROR: [Usage:] (This Filter) job-id user title copies options [InFile]\n", &args) !=
      0)
    return 1;
  ZTStream input(ZTOpenInput_FP(args.inputFile));
  if (!input.get()) {
    fputs("DEBUG: TRC: Unable to open input file\n", stderr);
    return 1;
  }
  ZTStream output(ZTOpenOutput_FP(nullptr));
  // Whole chunks are read straight into the work buffer, and an unbuffered
  // input lets an unchanged page pass without a copy.
  ZTSetUnbuffered_FP(input.get());
  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) {
    fputs("ERROR: TRC: CreatePPDSetting returns Error.\n", stderr);
    return 1;
  }
  const float factor = GetTRCFactor(setting.ppd);

  ZTRasterHeader header;
  int page = 0;
  while (ReadZTRasterHeader_FP(input.get(), &header) == 1) {
    ++page;
    if (header.pageBytes < 0) {
      fprintf(stderr, "ERROR: zttrc page %d: %s.\n", page, ZTHeaderCheckText(ZT_HEADER_BAD_SIZE));
      return 1;
    }
    if (factor < TRC_FACTOR_NONE) {
      if (IsZTCodedPage(&header)) {
        fprintf(stderr, "ERROR: zttrc page %d: a coded page cannot be scaled.\n", page);
        return 1;
      }
      if (applyTRC(input.get(), output.get(), &header, factor) != 0) {
        fputs("TRC: applyTRC returns error.\n", stderr);
        return 1;
      }
    } else if (throwdata(input.get(), output.get(), &header) != 0) {
      fputs("TRC: throwdata returns error.\n", stderr);
      return 1;
    }
  }
  if (output.close() != 0) {
    ZTPrintCause("zttrc", "cannot write the output", errno);
    return 1;
  }
  return 0;
}
