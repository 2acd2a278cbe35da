// PC_Download of one serial family, in the data mode the first byte selects.
// The build compiles this once per family, naming it in BPLINK_FUZZ_FAMILY.
#include <bplink/families.h>

#include "operations.h"

namespace {

bplink::fuzz::Outcome DownloadFromFamily(CDevice& device, enum_DataMode mode) {
  static const bplink::Family* const family = bplink::FindFamily(BPLINK_FUZZ_FAMILY);
  return bplink::fuzz::Download(family->make(), device, mode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, DownloadFromFamily);
  return 0;
}
