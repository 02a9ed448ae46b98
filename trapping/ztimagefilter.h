// What the three CMYK image filters (zttrapping, ztedgeenhance,
// ztdigitalfilter) share beside the common library: their output file, the
// copy path for pages they leave alone, the check a page must pass before
// its pixels are reworked, and the frame that runs a whole filter from a
// short description. Only the two page steps and the frame print (their
// messages are the same in all three filters); everything else returns codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ztraster.h"

struct ppd_file_s;

// The copy path moves page data in chunks of this size.
constexpr size_t ZT_IMAGE_COPY_CHUNK = 0x400000;

// Stream buffer of the filters' input and output: lines move through it in
// few large transfers instead of one system call each.
constexpr size_t ZT_IMAGE_STREAM_BUFFER = 1 << 20;

// Longest line the filters rework (1 Mi pixels): their working memory is a
// few lines, so this bounds it whatever a header claims.
constexpr uint64_t ZT_IMAGE_MAX_LINE_BYTES = 0x400000;

// Opens the optional OutFile argument: stdout when path is null, otherwise an
// existing file opened write-only and truncated (never created). nullptr on
// failure.
FILE* ZTOpenImageOutput_FP(const char* path);

// Results of ThrowPageData.
enum ZTThrowResult {
  ZT_THROW_OK = 0,
  ZT_THROW_NO_MEMORY = 1,       // the 4 MiB copy buffer could not be allocated
  ZT_THROW_SHORT_READ = -1,     // the input ended inside the page data
  ZT_THROW_WRITE_FAILED = -2,   // header or data could not be written
  ZT_THROW_BAD_SIZE = -3,       // negative pageBytes
};

// Copies one page unchanged: the header, then pageBytes data bytes in chunks
// of at most 4 MiB.
int ThrowPageData(FILE* in, FILE* out, const ZTRasterHeader* header);
// The filter's exit status for a ThrowPageData result (0 for ZT_THROW_OK),
// and words for a failure other than ZT_THROW_NO_MEMORY, whose message is
// the fixed "ERROR: throwdata(): calloc error for imagedatabuf.".
int ThrowPageStatus(int result);
const char* ThrowPageFailureText(int result);

// How a filter takes the line length of a page.
enum ZTLineSource {
  ZT_LINE_FROM_WIDTH,          // 4 x width bytes (trapping, edge enhancement)
  ZT_LINE_FROM_BYTES_PER_LINE, // bytesPerLine (digital filter)
};

// Results of CheckCMYKPage.
enum ZTCMYKPageCheck {
  ZT_CMYK_PAGE_OK = 0,
  ZT_CMYK_PAGE_CODED = -1,       // a compressed page
  ZT_CMYK_PAGE_NOT_4_BYTES = -2, // pixels are not 4 bytes
  ZT_CMYK_PAGE_BAD_GEOMETRY = -3,// negative sizes, or pageBytes not lines x height
  ZT_CMYK_PAGE_TOO_WIDE = -4,    // a line longer than ZT_IMAGE_MAX_LINE_BYTES
};

// Checks that a page is uncoded CMYK of 4 bytes per pixel whose data is
// exactly its lines, before any of it is written.
int CheckCMYKPage(const ZTRasterHeader* header, ZTLineSource source);
// Words for a CheckCMYKPage code, for the caller's message.
const char* CMYKPageCheckText(int code);

// The two page steps the three filters word alike. Each reports its failure
// in one line naming the program and the page, and returns the filter's exit
// status for the page (0: go on).
// Copies a page the filter leaves alone (ThrowPageData).
int CopyPageUnchanged(FILE* in, FILE* out, const ZTRasterHeader* header, const char* program, int page);
// Checks a page that is about to be reworked (CheckCMYKPage) and writes its
// header.
int BeginReworkedPage(FILE* out, const ZTRasterHeader* header, ZTLineSource source, const char* program, int page);
// The line of a page whose output could not be written, with the system's
// cause ("ERROR: program: page N: cannot write the output: cause"). Call it
// right after the failure: the cause is errno once out has its error flag.
void ReportPageWriteFailure(FILE* out, const char* program, int page);

// ---- The frame --------------------------------------------------------------

// One image filter as the frame runs it: its names, the messages that differ
// between the filters, and the steps that are its own.
struct ZTImageFilterDesc {
  const char* program;        // names the filter in its messages
  const char* inputMessage7;  // the input file cannot be opened (7 arguments)
  const char* inputMessage8;  // ... (8 arguments)
  const char* placeholder;    // name of the zeroed record block made before selection
  size_t recordSize;          // its size
  const char* noRecordWarning;  // the feature is asked for but no record fits the job
  ZTLineSource lineSource;      // line length of a reworked page
  // Makes block (recordSize zero bytes, alive until the end) the current record.
  void (*usePlaceholder)(void* block);
  // Selects the job's record in the loaded device parameter file: 0 when one fits.
  int (*selectRecord)(ppd_file_s* ppd);
  // Unpacks the current record; prints the parameter dump when dump is set.
  void (*unpackRecord)(bool dump);
  // Whether the job asks for the feature.
  bool (*enabled)(ppd_file_s* ppd);
  // Reworks one page whose header has been checked and written: 0, or the
  // exit status after its messages.
  int (*reworkPage)(FILE* in, FILE* out, const ZTRasterHeader* header, int page);
};

// Runs the filter: arguments, input and output, PPD settings, the record,
// then every page reworked or copied. Returns the exit status.
int ZTRunImageFilter(const ZTImageFilterDesc& desc, int argc, char* argv[]);
