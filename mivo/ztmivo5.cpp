// ztmivo5: the compression filter of the chain. Reads ZT raster pages of
// four-byte pixels and writes each page coded with the MIVO codec:
//
//   page header    56 bytes; pageBytes = 16 + stream bytes, colorSpace 3
//                  (colour) or 0 (monochrome), encoding 6 (7 with lead
//                  pixels, whose width grows by 8)
//   length words   four native 32-bit words: colour L0 L4 L1 L2,
//                  monochrome L0 L1 0 0 (Ln: bytes of stream n)
//   streams        colour S0 S4 S1 S2 S3, monochrome S0 S1; the length of
//                  the last colour stream follows from pageBytes
//
// Streams are spooled to anonymous temporary files because their lengths
// precede them. A colour page whose streams exceed the fallback threshold is
// recompressed (mivo::Recompressor) until it fits.

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "hbploption.h"
#include "mivocore.h"
#include "mivorecompressor.h"
#include "zterror.h"
#include "ztio.h"
#include "ztraster.h"

namespace {

// Job flags, read once from the PPD.
struct JobFlags {
  int color = 0;              // 1: the colour mode is "Color"
  int lph = 0;                // 1: the printer wants lead pixels on every line
  int fallbackThreshold = 0;  // MiB; 0: the default
};

constexpr int kSpoolCount = 5;
constexpr int kColourStreams = 5;
constexpr int kMonoStreams = 2;
constexpr size_t kCopyChunk = 4194304;        // at most 4 MiB per copy
constexpr int64_t kDefaultThreshold = 26214400;  // 25 MiB
constexpr int64_t kMiB = 1048576;
constexpr int kLengthWords = 4;
constexpr int kBodyPrefix = kLengthWords * 4;
constexpr int kCodedWidthStep = 8;
// Widest coded line accepted (a line of 4 MiB): larger widths are lies or
// formats this printer cannot take, and would need huge line buffers.
constexpr int kMaxWidth = 1 << 20;

using SpoolSet = std::array<std::unique_ptr<ZTTempStream>, kSpoolCount>;

// Page-scoped settings of the codec's line intake: the page's pixel width,
// the colour flag and the lead-pixel flag, set from the job flags at the
// start of every page.
int g_pageWidth = 0;
int g_colorFlag = 0;
int g_lphFlag = 0;
// errno of the first write to a spool file that failed since it was last
// cleared: the codec only sees a short count, the administrator needs why.
int g_spoolWriteError = 0;

JobFlags ReadJobFlags(ppd_file_t* ppd) {
  JobFlags flags;
  flags.color = GetColorModeSetting(ppd) == ZT_COLORMODE_COLOR ? 1 : 0;
  char value[11] = "";
  flags.lph = VI_CopyAttribute(ppd, "NeedLPHMarker", value, sizeof value) == 0 ? 1 : 0;
  int threshold = GetFallbackThreshold(ppd);
  flags.fallbackThreshold = threshold > 0 ? threshold : 0;
  return flags;
}

// The parameter set of a page: the coded width is the page width rounded
// down to a multiple of 8 plus 8 (so at least one fill pixel follows the
// image), 8 more with lead pixels.
mivo::Info MakePageInfo(int width, int height, int bitsPerPixel, bool colour, bool lead) {
  mivo::Info info;
  info.run_table = mivo::RUN_TABLE_1;
  info.error_table = 1;
  info.marker_table = mivo::MARKER_TABLE_5;
  info.multi_stream = true;
  info.ihdr_level = mivo::IHDR_LEVEL_MAX;
  info.width = width / kCodedWidthStep * kCodedWidthStep + kCodedWidthStep + (lead ? mivo::LEAD_PIXEL_COUNT : 0);
  info.height = height;
  info.image_bit = colour ? bitsPerPixel : bitsPerPixel / 4;
  info.tag_bits = 0;
  info.initial_component = colour ? 255 : 0;
  const int differ[mivo::DIFFER_COUNT] = {mivo::DIFFER_LEFT, mivo::DIFFER_UP, mivo::DIFFER_UP_LEFT,
                                          mivo::DIFFER_UP_RIGHT, colour ? mivo::DIFFER_UP_RIGHT2 : 8};
  std::memcpy(info.differ, differ, sizeof differ);
  info.selected_differ = 0;
  info.intake.source_width = width;
  info.intake.lead_pixels = lead;
  info.normalize_mivo_info();
  return info;
}

size_t ReadStream(void* context, unsigned char* buffer, size_t n) {
  return fread(buffer, 1, n, static_cast<FILE*>(context));
}

size_t WriteStream(void* context, const unsigned char* buffer, size_t n) {
  const size_t written = fwrite(buffer, 1, n, static_cast<FILE*>(context));
  if (written != n && g_spoolWriteError == 0) g_spoolWriteError = errno;
  return written;
}

// Writes the cause of a failed spool write noted by WriteStream, if any.
void ReportSpoolWriteError() {
  if (g_spoolWriteError != 0) ZTPrintCause("ztmivo5", "cannot write a temporary file", g_spoolWriteError);
  g_spoolWriteError = 0;
}

bool CreateSpools(SpoolSet* spools) {
  for (auto& s : *spools) {
    s = std::make_unique<ZTTempStream>();
    if (!*s) {
      ZTPrintCause("ztmivo5", "cannot create a temporary file", s->error());
      return false;
    }
  }
  return true;
}

bool RewindSpools(SpoolSet* spools) {
  for (auto& s : *spools)
    if (!s || fseek(s->get(), 0, SEEK_SET) != 0) return false;
  return true;
}

// Flushes every spool file and reports whether all bytes reached it; the
// cause of a failure is written.
bool SpoolsWritten(SpoolSet* spools) {
  for (auto& s : *spools) {
    if (ZTFlushCheck_FP(s->get()) != 0) {
      if (g_spoolWriteError == 0) g_spoolWriteError = errno;
      ReportSpoolWriteError();
      return false;
    }
  }
  return true;
}

// Encodes the page's lines into the five spool files.
int compress_mivo5ch(FILE* in, SpoolSet* spools, const ZTRasterHeader* header) {
  try {
    mivo::Info info = MakePageInfo(g_pageWidth, header->height, header->bitsPerPixel, g_colorFlag != 0, g_lphFlag != 0);
    info.callback_in = ReadStream;
    info.in_context[0] = in;
    info.callback_out = WriteStream;
    for (int i = 0; i < kSpoolCount; ++i) info.out_context[i] = (*spools)[i]->get();
    mivo::CoreEnc encoder(info);
    for (int y = 0; y < header->height; ++y) encoder.encode_line();
    encoder.terminate(mivo::MARKER_EOI);
  } catch (const mivo::Exception& e) {
    fprintf(stderr, "DEBUG: ztmivo5: %s\n", e.what());
    ReportSpoolWriteError();
    fputs("ERROR: compress_mivo5ch - error occured.\n", stderr);
    return -1;
  }
  return 0;
}

// Recompresses a colour page whose streams exceed the threshold. On success
// the new spool files hold the page's streams.
int Do_Fallback(SpoolSet* oldFiles, SpoolSet* newFiles, const ZTRasterHeader* header, int64_t threshold) {
  if (!oldFiles || !newFiles || !header) {
    fputs("ERROR: Do_Fallback - NULL arguments.\n", stderr);
    return -1;
  }
  if (header->pageBytes <= threshold) return 0;

  auto fail = [oldFiles](const char* message) {
    if (message) fputs(message, stderr);
    for (auto& f : *oldFiles) f.reset();
    return -1;
  };

  // Lead pixels (encoding 7) stay as they are; only image pixels change.
  const bool lead = header->encoding == ZT_ENC_MIVO_MONO;
  const int width = header->width - (lead ? mivo::LEAD_PIXEL_COUNT : 0);
  std::unique_ptr<mivo::Recompressor> recompressor;
  mivo::Info info;
  try {
    info = MakePageInfo(width, header->height, 32, true, lead);
    recompressor = std::make_unique<mivo::Recompressor>(info, lead ? mivo::LEAD_PIXEL_COUNT : 0, width,
                                                        static_cast<uint64_t>(threshold));
  } catch (const mivo::Exception& e) {
    fprintf(stderr, "DEBUG: ztmivo5: %s\n", e.what());
    return fail("ERROR: mivo5ch-bile - Do_Fallback: construct failed\n");
  }

  void* in[mivo::MAX_STREAMS];
  void* out[mivo::MAX_STREAMS];
  // Rewinds the old streams and gives the pass fresh output files.
  auto renew = [&]() {
    if (!RewindSpools(oldFiles) || !CreateSpools(newFiles)) return false;
    for (int i = 0; i < kSpoolCount; ++i) {
      in[i] = (*oldFiles)[i]->get();
      out[i] = (*newFiles)[i]->get();
    }
    return true;
  };
  // 0, RECOMPRESS_TOO_LARGE, or -1 when the pass failed.
  auto run = [&]() {
    if (!renew()) return -1;
    try {
      int result = recompressor->pass(ReadStream, in, WriteStream, out);
      return SpoolsWritten(newFiles) ? result : -1;
    } catch (const mivo::Exception& e) {
      fprintf(stderr, "DEBUG: ztmivo5: %s\n", e.what());
      ReportSpoolWriteError();
      return -1;
    }
  };

  int level = -1;
  if (!renew()) return fail("ERROR: mivo5ch-bile - Do_Fallback: recompression failed\n");
  try {
    level = recompressor->first_pass(ReadStream, in);
  } catch (const mivo::Exception& e) {
    fprintf(stderr, "DEBUG: ztmivo5: %s\n", e.what());
  }
  if (level < 0) return fail("ERROR: mivo5ch-bile - Do_Fallback: TuvoUnselected\n");
  recompressor->apply_level(level);

  int result = run();
  if (result == mivo::RECOMPRESS_TOO_LARGE) {
    fputs("DEBUG: Fallback\n", stderr);
    recompressor->step();
    result = run();
    if (result == mivo::RECOMPRESS_TOO_LARGE) {
      // The strongest setting is the last resort; its result is taken even
      // when it is still above the threshold.
      recompressor->set_strongest();
      result = run();
      if (result == mivo::RECOMPRESS_TOO_LARGE) result = 0;
    }
  }
  if (result != 0) return fail("ERROR: mivo5ch-bile - Do_Fallback: recompression failed\n");
  return RewindSpools(newFiles) ? 0 : fail("ERROR: mivo5ch-bile - Do_Fallback: recompression failed\n");
}

// Byte length of a spool file (its end), or -1.
int64_t SpoolLength(FILE* fp) {
  if (fseek(fp, 0, SEEK_END) != 0) return -1;
  long n = ftell(fp);
  return n < 0 ? -1 : static_cast<int64_t>(n);
}

// Compresses one page and writes it.
int ztmivo5Proc(FILE* in, FILE* out, ZTRasterHeader* header, const JobFlags& flags) {
  g_pageWidth = header->width;
  g_colorFlag = flags.color;
  g_lphFlag = flags.lph;

  SpoolSet spools;
  if (!CreateSpools(&spools)) return -1;
  if (compress_mivo5ch(in, &spools, header) != 0) return -1;
  if (!SpoolsWritten(&spools)) return -1;

  const int streams = g_colorFlag ? kColourStreams : kMonoStreams;
  int64_t lengths[kSpoolCount] = {};
  int64_t total = 0;
  for (int i = 0; i < streams; ++i) {
    lengths[i] = SpoolLength(spools[i]->get());
    if (lengths[i] < 0) return -1;
    total += lengths[i];
  }
  if (!RewindSpools(&spools)) return -1;

  header->pageBytes = static_cast<int32_t>(std::min<int64_t>(total + kBodyPrefix, INT32_MAX));
  if (g_lphFlag) {
    header->encoding = ZT_ENC_MIVO_MONO;
    header->width += mivo::LEAD_PIXEL_COUNT;
  } else {
    header->encoding = ZT_ENC_MIVO_COLOR;
  }
  header->colorSpace = g_colorFlag ? ZT_CS_CMYK : ZT_CS_GRAY;

  const int64_t threshold = flags.fallbackThreshold == 0 ? kDefaultThreshold : flags.fallbackThreshold * kMiB;
  if (g_colorFlag && total > threshold) {
    g_lphFlag = 0;
    SpoolSet fresh;
    if (Do_Fallback(&spools, &fresh, header, threshold) != 0) return -1;
    total = 0;
    for (int i = 0; i < kColourStreams; ++i) {
      lengths[i] = SpoolLength(fresh[i]->get());
      if (lengths[i] < 0) return -1;
      total += lengths[i];
    }
    spools = std::move(fresh);
    if (!RewindSpools(&spools)) return -1;
  }
  if (total > INT32_MAX - kBodyPrefix) {
    fputs("ERROR: ztmivo5: coded page larger than 2 GiB.\n", stderr);
    return -1;
  }
  header->pageBytes = static_cast<int32_t>(total + kBodyPrefix);

  // Colour: L0 L4 L1 L2 and S0 S4 S1 S2 S3; monochrome: L0 L1 0 0 and S0 S1.
  static const int kColourOrder[kColourStreams] = {0, 4, 1, 2, 3};
  static const int kMonoOrder[kMonoStreams] = {0, 1};
  const int* order = g_colorFlag ? kColourOrder : kMonoOrder;
  uint32_t words[kLengthWords] = {};
  for (int i = 0; i < kLengthWords && i < streams; ++i) words[i] = static_cast<uint32_t>(lengths[order[i]]);

  int64_t largest = 1;
  for (int i = 0; i < streams; ++i) largest = std::max(largest, lengths[i]);
  const size_t bufSize = static_cast<size_t>(std::min<int64_t>(largest, static_cast<int64_t>(kCopyChunk)));
  std::unique_ptr<unsigned char, decltype(&free)> buffer(static_cast<unsigned char*>(malloc(bufSize)), &free);
  if (!buffer) {
    fputs("ERROR: ztmivo5 : ztmivo5Proc() : malloc error for imagedatabuf.\n", stderr);
    return -1;
  }

  if (WriteZTRasterHeader_FP(out, header) != 1 || fwrite(words, sizeof words, 1, out) != 1) {
    ZTPrintCause("ztmivo5", "cannot write the output", errno);
    return -1;
  }
  for (int i = 0; i < streams; ++i) {
    FILE* spool = spools[order[i]]->get();
    const int rc = ZTCopyBytes_FP(spool, out, static_cast<uint64_t>(lengths[order[i]]), buffer.get(), bufSize);
    if (rc == ZT_COPY_WRITE_FAILED) ZTPrintCause("ztmivo5", "cannot write the output", errno);
    if (rc == ZT_COPY_SHORT_READ) ZTPrintCause("ztmivo5", "cannot read a temporary file", ferror(spool) ? errno : 0);
    if (rc != ZT_COPY_OK) return -1;
  }
  return 0;
}

// A page this filter can code: a consistent uncoded header of 32-bit pixels.
int CheckPage(const ZTRasterHeader* header, int page) {
  int check = CheckZTRasterHeader(header);
  if (check != ZT_HEADER_OK) {
    fprintf(stderr, "ERROR: ztmivo5: page %d: %s\n", page, ZTHeaderCheckText(check));
    return -1;
  }
  if (header->bitsPerPixel != 32) {
    fprintf(stderr, "ERROR: ztmivo5: page %d: %d bits per pixel, 32 needed.\n", page, header->bitsPerPixel);
    return -1;
  }
  if (header->width > kMaxWidth) {
    fprintf(stderr, "ERROR: ztmivo5: page %d: width %d above %d.\n", page, header->width, kMaxWidth);
    return -1;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 7, "ERROR: [Usage:] ztmivo5 job-id user title copies options [InFile]\n", &args) != 0)
    return 1;
  ZTStream input(ZTOpenInput_FP(args.inputFile));
  if (!input.get()) {
    fputs("DEBUG: ztmivo5: Unable to open input file\n", stderr);
    return 255;
  }
  // Lines are read whole into the codec's line buffer: unbuffered, each
  // line is one read straight into it instead of a read, a second read into
  // the stream's buffer and a copy out of it.
  setvbuf(input.get(), nullptr, _IONBF, 0);
  ZTPPDSetting ppd;
  if (ppd.Create(args.options) != 0) {
    fputs("ERROR: ztmivo5ch-bile: CreatePPDSetting() Error.\n", stderr);
    return 1;
  }
  const JobFlags flags = ReadJobFlags(ppd.ppd);
  ZTStream output(ZTOpenOutput_FP(nullptr));

  int status = 0;
  int pages = 0;
  ZTRasterHeader header;
  while (ReadZTRasterHeader_FP(input.get(), &header)) {
    ++pages;
    if (CheckPage(&header, pages) != 0) {
      status = 1;
      break;
    }
    int result = ztmivo5Proc(input.get(), output.get(), &header, flags);
    if (result != 0) {
      fprintf(stderr, "ERROR: ztmivo5: Error in ztmivo5Proc = %d, %d pages.\n", result, pages);
      status = result;
      break;
    }
  }
  if (ZTFlushCheck_FP(output.get()) != 0 && status == 0) {
    ZTPrintCause("ztmivo5", "cannot write the output", errno);
    status = 1;
  }
  return status;
}
