// The KX71 download stream.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::Download<CProtocolCOMKX71>);
  return 0;
}
