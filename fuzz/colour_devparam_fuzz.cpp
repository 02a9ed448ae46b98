// Fuzz harness of the device parameter file loader: any bytes are loaded,
// then every record the tables point at is read from end to end, so a slot
// that reaches outside the image shows up under AddressSanitizer.
#include <cstddef>
#include <cstdint>

#include "ztdevparam.h"

namespace {
template <typename T>
unsigned Touch(T* const (&table)[DLB_TABLE_SLOTS]) {
  unsigned sum = 0;
  for (const T* r : table) {
    if (!r) continue;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(r);
    for (size_t i = 0; i < sizeof(T); ++i) sum += p[i];
  }
  return sum;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ReadDlbData(data, size) == 0) {
    volatile unsigned sum = Touch(dlutPrintParamTable) + Touch(dfParamTable) + Touch(trapParamTable) + Touch(eeParamTable);
    (void)sum;
  }
  ReleaseDlbInfo();
  return 0;
}
