// The patient block of the HID recorders.
#include "operations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bplink::fuzz::Replay({data, size}, bplink::fuzz::PatientInfo);
  return 0;
}
