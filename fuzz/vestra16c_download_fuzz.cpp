// The VESTRA16C download.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::Download<CProtocolCOMVESTRA16C>);
  return 0;
}
