// The HID device's data modes, plan and interval table.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::TimeInterval);
  return 0;
}
