// The VESTRA18 download, one store or all three.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::Download<CProtocolCOMVESTRA18>);
  return 0;
}
