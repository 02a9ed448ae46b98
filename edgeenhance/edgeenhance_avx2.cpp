// The row step of edge enhancement with 32-byte vectors; this file alone is
// built for AVX2, and EdgeEnhanceRow calls it only on processors that have
// it. Nothing here may be shared with the other files (no library templates
// are instantiated), so no AVX2 code can stand in for theirs.
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "edgeenhance.h"

namespace {
#define ZT_EE_LANES 16
#include "edgeenhance_row.h"
#undef ZT_EE_LANES
}  // namespace

void EdgeEnhanceRowAVX2(const unsigned char* up, const unsigned char* mid, const unsigned char* down, unsigned width,
                        const EeParamSet& param, unsigned char* out) {
  EnhanceRow(up, mid, down, width, param, out);
}
