// PC_Download of the HID protocol, in the data mode the first byte selects, against whatever device type the replies announce.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::Download<CProtocol_NEW>);
  return 0;
}
