#include "ztblankpages.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ztio.h"

int CheckIfWhiteData(const unsigned char* data, size_t length) {
  if (length == 0) return 1;
  // All bytes equal the first, and the first is white: one memcmp of the
  // buffer against itself shifted by one byte.
  if (data[0] != 0xFF) return 0;
  return memcmp(data, data + 1, length - 1) == 0 ? 1 : 0;
}

bool ZTBlankPageBuffer::Reserve(size_t n) {
  if (n <= capacity_) return true;
  auto* grown = new (std::nothrow) unsigned char[n];
  if (!grown) return false;
  delete[] data_;
  data_ = grown;
  capacity_ = n;
  return true;
}

size_t ZTBlankChunkBytes(size_t bytesPerLine) {
  if (bytesPerLine == 0 || bytesPerLine > ZT_BLANK_CHUNK_BYTES) return ZT_BLANK_CHUNK_BYTES;
  return ZTLinesPerChunk(bytesPerLine, ZT_BLANK_CHUNK_BYTES) * bytesPerLine;
}

// Writes n bytes of 0xFF: the white chunks that were held back while the page
// still looked blank.
static bool WriteWhite(FILE* out, uint64_t n) {
  static unsigned char white[65536];
  static bool filled = false;
  if (!filled) {
    memset(white, 0xFF, sizeof white);
    filled = true;
  }
  while (n > 0) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(n, sizeof white));
    if (fwrite(white, 1, piece, out) != piece) return false;
    n -= piece;
  }
  return true;
}

// Passes the last n bytes of a page, which need no look, straight from in
// to out (the buffer carries them where the descriptors cannot be spliced).
static int PassRestOfPage(int in, FILE* out, uint64_t n, ZTBlankPageBuffer* buffer, size_t chunkBytes) {
  if (fflush(out) != 0) return ZT_SKIP_WRITE_FAILED;
  switch (ZTPassBytes(in, fileno(out), n, buffer->data(), chunkBytes)) {
    case ZT_COPY_OK: return ZT_SKIP_OK;
    case ZT_COPY_WRITE_FAILED: return ZT_SKIP_WRITE_FAILED;
    default: return ZT_SKIP_SHORT_READ;
  }
}

int SkipBlankPage(int in, FILE* out, const ZTRasterHeader* header, bool skipping, ZTBlankPageBuffer* buffer,
                  bool* dropped) {
  *dropped = false;
  if (!skipping && WriteZTRasterHeader_FP(out, header) != 1) return ZT_SKIP_WRITE_FAILED;

  const uint64_t pageBytes = header->pageBytes > 0 ? static_cast<uint64_t>(header->pageBytes) : 0;
  const size_t lineBytes = header->bytesPerLine > 0 ? static_cast<size_t>(header->bytesPerLine) : 0;
  const size_t chunkBytes = static_cast<size_t>(std::min<uint64_t>(ZTBlankChunkBytes(lineBytes), pageBytes));
  if (chunkBytes > 0 && !buffer->Reserve(chunkBytes)) return ZT_SKIP_NO_MEMORY;
  // Without skipping nothing of the page is looked at.
  if (!skipping) return PassRestOfPage(in, out, pageBytes, buffer, chunkBytes);

  uint64_t heldBack = 0;  // white bytes not yet written: the page has shown only white so far
  uint64_t remaining = pageBytes;
  while (remaining > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, chunkBytes));
    if (ZTReadFull(in, buffer->data(), n) != static_cast<ssize_t>(n)) return ZT_SKIP_SHORT_READ;
    remaining -= n;
    if (CheckIfWhiteData(buffer->data(), n)) {
      heldBack += n;
      continue;
    }
    // First ink on the page: it is written after all, with the white held
    // back, and the rest of it needs no look.
    if (WriteZTRasterHeader_FP(out, header) != 1 || !WriteWhite(out, heldBack) ||
        fwrite(buffer->data(), 1, n, out) != n)
      return ZT_SKIP_WRITE_FAILED;
    return PassRestOfPage(in, out, remaining, buffer, chunkBytes);
  }
  *dropped = true;
  return ZT_SKIP_OK;
}
