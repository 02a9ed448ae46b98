#include "edgeenhance.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ztio.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr size_t kEeChunkBytes = 1048576;  // output bytes per chunk (whole lines)

#define ZT_EE_LANES 8
#include "edgeenhance_row.h"
#undef ZT_EE_LANES
}  // namespace

#if defined(__x86_64__) && !defined(ZT_EDGEENHANCE_GENERIC)
// The same row step with 32-byte vectors, in its own file built for AVX2;
// used when the processor has it.
void EdgeEnhanceRowAVX2(const unsigned char* up, const unsigned char* mid, const unsigned char* down, unsigned width,
                        const EeParamSet& param, unsigned char* out);
#define ZT_EDGEENHANCE_AVX2 1
#endif

void ApplyPileHeightLimit(unsigned char* px, int32_t limit) { LimitPixel(px, limit); }

void EdgeEnhanceRow(const unsigned char* up, const unsigned char* mid, const unsigned char* down, unsigned width,
                    const EeParamSet& param, unsigned char* out) {
#if defined(ZT_EDGEENHANCE_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    EdgeEnhanceRowAVX2(up, mid, down, width, param, out);
    return;
  }
#endif
  EnhanceRow(up, mid, down, width, param, out);
}

int EdgeEnhanceProc(FILE* in, FILE* out, const ZTRasterHeader* header, const EeParamSet& param) {
  const size_t width = header->width > 0 ? static_cast<size_t>(header->width) : 0;
  const size_t height = header->height > 0 ? static_cast<size_t>(header->height) : 0;
  const size_t lineBytes = width * 4;
  // Each ring slot holds a line with one zero pixel before it and four after
  // it: the page's left and right borders, and room for the last loads of a
  // row that ends inside a step.
  const size_t slotBytes = lineBytes + 20;

  std::unique_ptr<unsigned char, decltype(&free)> ring(static_cast<unsigned char*>(calloc(3, slotBytes)), &free);
  if (!ring) return EE_NO_MEMORY_LINES;
  auto slot = [&](size_t i) { return ring.get() + (i % 3) * slotBytes + 4; };
  // Rows are written in chunks of whole lines: one is filled while the
  // writer's thread passes the one before on.
  const size_t chunkLines = lineBytes ? ZTLinesPerChunk(lineBytes, kEeChunkBytes) : 1;
  ZTChunkWriter writer(out);
  if (!writer.Reserve(chunkLines * (lineBytes ? lineBytes : 1))) return EE_NO_MEMORY_OUTPUT;
  size_t filled = 0;  // rows in writer.buffer()
  int cause = 0;
  auto pass = [&] {
    const bool ok = filled == 0 || writer.Submit(filled * lineBytes, &cause);
    filled = 0;
    return ok;
  };
  // Rows made before an error still go out, and a failed write is told
  // first, as it came first; errno then holds its cause.
  auto end = [&](int result) {
    if (!pass() || !writer.Finish(&cause)) {
      errno = cause;
      return static_cast<int>(EE_WRITE_FAILED);
    }
    return result;
  };

  // Step i reads line i into slot (i + 1) % 3 and emits row i - 1, whose
  // upper and lower neighbours sit in the other two slots. Slot 0 starts as
  // the zero row above the page; the last step reads the zero row below it.
  for (size_t i = 0; i <= height; ++i) {
    unsigned char* line = slot(i + 1);
    if (i < height) {
      if (lineBytes && fread(line, 1, lineBytes, in) != lineBytes) return end(EE_READ_FAILED);
    } else {
      memset(line, 0, lineBytes);
    }
    if (i == 0 || lineBytes == 0) continue;
    EdgeEnhanceRow(slot(i - 1), slot(i), slot(i + 1), static_cast<unsigned>(width), param,
                   writer.buffer() + filled * lineBytes);
    if (++filled == chunkLines && !pass()) return end(EE_WRITE_FAILED);
  }
  return end(EE_OK);
}
