// Blank-page detection and skipping for the ZT raster stream.
#pragma once

#include <cstddef>
#include <cstdio>

#include "ztraster.h"

// 1 when every one of the length bytes is 0xFF (also for length 0), else 0.
// White is 0xFF in the one-component and RGB forms of the stream.
int CheckIfWhiteData(const unsigned char* data, size_t length);

// Results of SkipBlankPage.
enum ZTSkipResult {
  ZT_SKIP_OK = 0,
  ZT_SKIP_NO_MEMORY = -1,    // the copy buffer could not be allocated
  ZT_SKIP_SHORT_READ = -2,   // the input ended or failed inside the page data
  ZT_SKIP_WRITE_FAILED = -3, // the output refused bytes
};

// The copy buffer of the blank-page filter. It holds whole lines of the page
// in hand, at most ZT_BLANK_CHUNK_BYTES, and grows when a later page has
// longer lines than the pages before it.
class ZTBlankPageBuffer {
 public:
  ZTBlankPageBuffer() = default;
  ZTBlankPageBuffer(const ZTBlankPageBuffer&) = delete;
  ZTBlankPageBuffer& operator=(const ZTBlankPageBuffer&) = delete;
  ~ZTBlankPageBuffer() { delete[] data_; }
  // Makes room for n bytes; false when the allocation fails.
  bool Reserve(size_t n);
  unsigned char* data() const { return data_; }
  size_t capacity() const { return capacity_; }

 private:
  unsigned char* data_ = nullptr;
  size_t capacity_ = 0;
};

// Chunk limit of the blank-page filter: 1 MiB of whole lines.
constexpr size_t ZT_BLANK_CHUNK_BYTES = 1048576;

// Bytes read per chunk for a page of this line length: as many whole lines as
// fit in 1 MiB; a line longer than that is read in 1 MiB pieces (the white
// test looks at bytes, not lines, so the split does not change the result).
size_t ZTBlankChunkBytes(size_t bytesPerLine);

// Handles one page whose header has been read from the descriptor `in`: reads
// its pageBytes data bytes in chunks and writes header and data to `out`,
// unless `skipping` is on and every byte is 0xFF, in which case nothing of
// the page is written. *dropped tells which happened. Prints nothing.
int SkipBlankPage(int in, FILE* out, const ZTRasterHeader* header, bool skipping, ZTBlankPageBuffer* buffer,
                  bool* dropped);
