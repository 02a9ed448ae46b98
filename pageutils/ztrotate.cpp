// ztrotate: turns pages by 180 degrees where the paper path needs it. In
// long-edge duplex every second page (the back sides) is turned, and the
// "TurnPage" option swaps which sides those are; in simplex and short-edge
// duplex "TurnPage" turns every page, and without it the stream is copied.
// With reverse output order the first page's side follows the parity of the
// page count. Headers pass unchanged: a half turn keeps every header field.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "hbploption.h"
#include "ztio.h"
#include "zterror.h"
#include "ztraster.h"

// ---- Process-wide state ------------------------------------------------------

static ZTRasterHeader ztrasterheader;          // header of the page in hand
static FILE* infp = nullptr;                   // input stream; the spool file once the input is spooled
static FILE* tempfp = nullptr;                 // spool file of the whole input (reverse order only)
static constexpr size_t TEMPBUFSIZE = 3145728; // chunk size: 3 MiB, whole pixels of 1, 3 and 4 bytes
static size_t bufSize = 0;                     // bytes of the chunk in hand
static uint64_t remainDataSize = 0;            // bytes of the page still to handle
static int error = 0;                          // exit status being built

// ---- Helpers -----------------------------------------------------------------

static std::unique_ptr<unsigned char[]> AllocChunkBuffer() {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[TEMPBUFSIZE]);
}

static uint64_t PageDataBytes() {
  return ztrasterheader.pageBytes > 0 ? static_cast<uint64_t>(ztrasterheader.pageBytes) : 0;
}

// Reverses the order of the pixels of a chunk in place; the bytes inside a
// pixel keep their order and a middle pixel stays where it is. n is a whole
// number of pixels.
static void ReversePixels(unsigned char* p, size_t n, size_t pixel) {
  if (n < 2 * pixel) return;
  if (pixel == 1) {
    std::reverse(p, p + n);
    return;
  }
  if (pixel == 4) {
    for (size_t i = 0, j = n - 4; i < j; i += 4, j -= 4) {
      uint32_t a, b;
      memcpy(&a, p + i, 4);
      memcpy(&b, p + j, 4);
      memcpy(p + i, &b, 4);
      memcpy(p + j, &a, 4);
    }
    return;
  }
  for (size_t i = 0, j = n - pixel; i < j; i += pixel, j -= pixel) std::swap_ranges(p + i, p + i + pixel, p + j);
}

// The temporary file of the half turn. It is made on first use and kept for
// the following pages, whose data overwrite the file's blocks in place
// instead of allocating new ones; being anonymous, it vanishes when the
// process ends, whatever the path.
static const ZTTempStream& RotationTempFile() {
  static ZTTempStream temp;
  return temp;
}

// The output's failures name their cause: errno of the failed write.
static int ReportCopyFailure(int rc) {
  if (rc == ZT_COPY_SHORT_READ)
    fputs("ERROR: ztrotate the input ends inside the page data.\n", stderr);
  else
    ZTPrintCause("ztrotate", "cannot write the output", errno);
  return -1;
}

static int ReportTempFailure(const char* what) {
  ZTPrintCause("ztrotate", what, errno);
  return -1;
}

// ---- Page operations -----------------------------------------------------------

// Writes the header and copies the page data unchanged in chunks of at most
// 3 MiB. 0, 1 when the buffer cannot be had, -1 on a read or write failure.
static int throwdata() {
  std::unique_ptr<unsigned char[]> buf = AllocChunkBuffer();
  if (!buf) {
    fputs("ERROR: ztrotate cannot allocate the copy buffer.\n", stderr);
    return 1;
  }
  if (WriteZTRasterHeader_FP(stdout, &ztrasterheader) != 1) return ReportCopyFailure(ZT_COPY_WRITE_FAILED);
  // From the unbuffered input the bytes pass straight on; the spool file is
  // read through its stream.
  int rc = ZTPassBytes_FP(infp, stdout, PageDataBytes(), buf.get(), TEMPBUFSIZE);
  if (rc == ZT_COPY_READ_FAILED) rc = ZT_COPY_SHORT_READ;
  if (rc != ZT_COPY_OK) return ReportCopyFailure(rc);
  if (ZTFlushCheck_FP(stdout) != 0) return ReportCopyFailure(ZT_COPY_WRITE_FAILED);
  return 0;
}

// Writes the header and the page data with the order of its pixels reversed,
// which turns an unpadded page by 180 degrees. A page larger than one chunk
// goes through a temporary file: the chunks are reversed one by one and
// stored from the end of the file towards its start, then the file is
// copied out. 0, or -1 on any failure.
static int ztrotate180() {
  const size_t pixel = static_cast<size_t>(ztrasterheader.bitsPerPixel / 8);
  const uint64_t pageBytes = PageDataBytes();
  std::unique_ptr<unsigned char[]> buf = AllocChunkBuffer();
  if (!buf) {
    fputs("ERROR: ztrotate cannot allocate the rotation buffer.\n", stderr);
    return -1;
  }
  if (WriteZTRasterHeader_FP(stdout, &ztrasterheader) != 1) return ReportCopyFailure(ZT_COPY_WRITE_FAILED);

  if (pageBytes <= TEMPBUFSIZE) {
    // The whole page fits in one chunk: no temporary file is needed.
    bufSize = static_cast<size_t>(pageBytes);
    if (fread(buf.get(), 1, bufSize, infp) != bufSize) return ReportCopyFailure(ZT_COPY_SHORT_READ);
    ReversePixels(buf.get(), bufSize, pixel);
    if (fwrite(buf.get(), 1, bufSize, stdout) != bufSize || ZTFlushCheck_FP(stdout) != 0)
      return ReportCopyFailure(ZT_COPY_WRITE_FAILED);
    return 0;
  }

  const ZTTempStream& tempStream = RotationTempFile();
  FILE* temp = tempStream.get();
  if (!temp) {
    ZTPrintCause("ztrotate", "cannot create a temporary file", tempStream.error());
    return -1;
  }
  remainDataSize = pageBytes;
  while (remainDataSize > 0) {
    bufSize = static_cast<size_t>(std::min<uint64_t>(TEMPBUFSIZE, remainDataSize));
    if (fread(buf.get(), 1, bufSize, infp) != bufSize) return ReportCopyFailure(ZT_COPY_SHORT_READ);
    ReversePixels(buf.get(), bufSize, pixel);
    remainDataSize -= bufSize;
    // The first chunk of the page becomes the last one of the turned page.
    if (fseeko(temp, static_cast<off_t>(remainDataSize), SEEK_SET) != 0 ||
        fwrite(buf.get(), 1, bufSize, temp) != bufSize)
      return ReportTempFailure("cannot write the temporary file");
  }
  if (fflush(temp) != 0 || fseeko(temp, 0, SEEK_SET) != 0) return ReportTempFailure("cannot write the temporary file");
  // Write the file out from mappings of it, a window at a time: the data
  // pass straight from the file's pages to the output, without a copy
  // through the buffer. (Splicing the pages into the output instead would
  // hand a pipe references to pages that the next page overwrites.) What
  // cannot be mapped goes the ordinary way.
  uint64_t sent = 0;
  const long pageSize = sysconf(_SC_PAGESIZE);
  const uint64_t align = pageSize > 0 ? static_cast<uint64_t>(pageSize) : 4096;
  while (sent < pageBytes) {
    const size_t len = static_cast<size_t>(std::min<uint64_t>(pageBytes - sent, TEMPBUFSIZE));
    const uint64_t base = sent / align * align;
    const size_t lead = static_cast<size_t>(sent - base);
    void* map = mmap(nullptr, lead + len, PROT_READ, MAP_SHARED, fileno(temp), static_cast<off_t>(base));
    if (map == MAP_FAILED) break;
    const size_t written = fwrite(static_cast<unsigned char*>(map) + lead, 1, len, stdout);
    munmap(map, lead + len);
    if (written != len) return ReportCopyFailure(ZT_COPY_WRITE_FAILED);
    sent += len;
  }
  if (fseeko(temp, static_cast<off_t>(sent), SEEK_SET) != 0) return ReportTempFailure("cannot read the temporary file");
  int rc = ZTCopyBytes_FP(temp, stdout, pageBytes - static_cast<uint64_t>(sent), buf.get(), TEMPBUFSIZE);
  if (rc == ZT_COPY_SHORT_READ) {
    ZTPrintCause("ztrotate", "cannot read the temporary file", ferror(temp) ? errno : 0);
    return -1;
  }
  if (rc != ZT_COPY_OK || ZTFlushCheck_FP(stdout) != 0) return ReportCopyFailure(ZT_COPY_WRITE_FAILED);
  return 0;
}

// Copies the whole stream into the spool file, starting with the page whose
// header (`first`, or null) was already read, rewinds the spool and returns
// the number of pages; -1 when the input fails, -2 when the spool file does
// (its cause already written).
static int ReportSpoolWriteFailure() {
  ZTPrintCause("ztrotate", "cannot write the spool file", errno);
  fputs("DEBUG: ztrotate StoreSpoolDataToTempFile_FP(): cannot write tempfp.\n", stderr);
  return -2;
}

static int StoreSpoolDataToTempFile_FP(FILE* input, FILE* spool, const ZTRasterHeader* first) {
  std::unique_ptr<unsigned char[]> buf = AllocChunkBuffer();
  if (!buf) return -1;
  int count = 0;
  ZTRasterHeader header;
  for (;;) {
    if (first) {
      header = *first;
      first = nullptr;
    } else if (ReadZTRasterHeader_FP(input, &header) != 1) {
      break;
    }
    if (header.pageBytes < 0) {
      fputs("DEBUG: ztrotate StoreSpoolDataToTempFile_FP(): cannot read infp.\n", stderr);
      return -1;
    }
    if (WriteZTRasterHeader_FP(spool, &header) != 1) return ReportSpoolWriteFailure();
    int rc = ZTCopyBytes_FP(input, spool, static_cast<uint64_t>(header.pageBytes), buf.get(), TEMPBUFSIZE);
    if (rc == ZT_COPY_SHORT_READ) {
      fputs("DEBUG: ztrotate StoreSpoolDataToTempFile_FP(): cannot read infp.\n", stderr);
      return -1;
    }
    if (rc != ZT_COPY_OK) return ReportSpoolWriteFailure();
    if (count == INT32_MAX) return -1;
    ++count;
  }
  if (fflush(spool) != 0 || ferror(spool)) return ReportSpoolWriteFailure();
  rewind(spool);
  return count;
}

// ---- Main flow -------------------------------------------------------------------

// Checks the header in hand before its page is handled. Turning needs whole
// pixels of at least one byte and a page size that matches its lines.
static int CheckPage(int page, bool turning) {
  if (!turning) {
    if (ztrasterheader.pageBytes >= 0) return 0;
    fprintf(stderr, "ERROR: ztrotate page %d: %s.\n", page, ZTHeaderCheckText(ZT_HEADER_BAD_SIZE));
    return 1;
  }
  const int check = CheckZTRasterHeader(&ztrasterheader);
  if (check == ZT_HEADER_OK) return 0;
  if (check == ZT_HEADER_CODED)
    fprintf(stderr, "ERROR: ztrotate page %d: a coded page cannot be turned.\n", page);
  else if (check == ZT_HEADER_BAD_DEPTH && ztrasterheader.bitsPerPixel > 0 && ztrasterheader.bitsPerPixel < 8)
    fprintf(stderr, "ERROR: ztrotate page %d: a page of fewer than 8 bits per pixel cannot be turned.\n", page);
  else
    fprintf(stderr, "ERROR: ztrotate page %d: %s.\n", page, ZTHeaderCheckText(check));
  return 1;
}

// Spools the input (the page in hand first), switches reading to the spool
// and reads its first header again. The page count, -1 when the input
// fails, -2 when the spool file does (its cause already written).
static int SpoolInput(std::optional<ZTTempStream>& spool) {
  spool.emplace();
  if (!*spool) {
    ZTPrintCause("ztrotate", "cannot create the spool file", spool->error());
    return -2;
  }
  tempfp = spool->get();
  const int count = StoreSpoolDataToTempFile_FP(infp, tempfp, &ztrasterheader);
  if (count < 0) return count;
  if (count < 1) return -1;
  infp = tempfp;
  if (ReadZTRasterHeader_FP(infp, &ztrasterheader) != 1) return -1;
  return count;
}

// Side of the first page in reverse order: the parity of the page count.
// The client's total counts every copy and every page before the page set
// was applied; a count of the stream itself is the pages as they are.
static int FirstSideInReverseOrder(const ZTPPDSetting& setting, int copies, std::optional<ZTTempStream>& spool) {
  if (GetSkipBlankPagesSetting(setting.ppd) == 1) {
    // Blank pages may have been removed earlier in the chain: only a count
    // of the stream itself is right.
    const int count = SpoolInput(spool);
    if (count == -1) fputs("ERROR: ztrotate cannot spool the input.\n", stderr);
    if (count < 0) return -1;
    return count % 2;
  }
  int total = GetTotalPhysicalPageNumber(setting.numOptions, setting.options);
  if (total < 0) {
    const int count = SpoolInput(spool);
    if (count < 0) {
      fputs("DEBUG: ztrotate : error for StoreSpoolDataToTempFile_FP().\n", stderr);
      if (count == -1) fputs("ERROR: ztrotate cannot spool the input.\n", stderr);
      return -1;
    }
    return count % 2;
  }
  total /= copies;
  const int pageSet = GetPageSet(setting.numOptions, setting.options);
  if (pageSet == 1) total = total / 2 + total % 2;
  else if (pageSet == 2) total = total / 2;
  return total % 2;
}

int main(int argc, char* argv[]) {
  ZTFilterArgs args;
  if (ZTStartFilter(argc, argv, 6, 7, "ERROR: ztrotate job-id user title copies options [file]\n", &args) != 0) return 1;
  ZTStream input(ZTOpenInput_FP(args.inputFile));
  if (!input.get()) {
    fputs("ERROR: ztrotate unable to open the input file.\n", stderr);
    return -1;
  }
  infp = input.get();
  // Chunks are read and written straight between the descriptors and the
  // work buffer, without a second buffer in the streams.
  ZTSetUnbuffered_FP(infp);
  ZTSetUnbuffered_FP(stdout);
  ZTPPDSetting setting;
  if (setting.Create(args.options) != 0) return 1;

  const int duplex = GetDuplexSetting(setting.ppd, 0);
  const int turnPage = GetZTTurnPageSetting(setting.ppd) == 1 ? 1 : 0;
  std::optional<ZTTempStream> spool;
  int page = 0;

  if (duplex != 1 && !turnPage) {
    // Nothing to turn: copy every page.
    while (error == 0 && ReadZTRasterHeader_FP(infp, &ztrasterheader) == 1) {
      ++page;
      error = CheckPage(page, false);
      if (error == 0) error = throwdata();
    }
  } else if (ReadZTRasterHeader_FP(infp, &ztrasterheader) != 1) {
    fputs("ERROR: ztrotate the input holds no page.\n", stderr);
    error = 1;
  } else {
    const int copies = GetNumberOfCopies(&ztrasterheader, args.copies);
    int side = 0;
    if (GetOutputOrder(setting.numOptions, setting.options) == 1 && duplex == 1) {
      side = FirstSideInReverseOrder(setting, copies, spool);
      if (side < 0) return 1;
    }
    do {
      ++page;
      const bool turn = duplex != 1 || side != turnPage;
      error = CheckPage(page, turn);
      if (error == 0) error = turn ? ztrotate180() : throwdata();
      if (duplex == 1) side = !side;
    } while (error == 0 && ReadZTRasterHeader_FP(infp, &ztrasterheader) == 1);
  }

  if (ZTFlushCheck_FP(stdout) != 0 && error == 0) {
    ZTPrintCause("ztrotate", "cannot write the output", errno);
    error = -1;
  }
  return error;
}
