// The KV32 download, records and SpO2.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::Download<CProtocolCOMKV32>);
  return 0;
}
