// What other systems send back, on any bytes: a practice system's GDT
// request for a new study and an HL7 receiver's acknowledgement. A request
// is either read or its fault named; an acknowledgement is read or refused.
#include <bplink/delivery/gdt.h>
#include <bplink/delivery/hl7.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto parsed = bplink::delivery::ParseGdtRequest(bytes, "fuzz.gdt");
  if (parsed.request.has_value() == !parsed.error.empty()) std::abort();  // exactly one of the two
  if (parsed.request && parsed.request->patient.id.empty()) std::abort();
  (void)bplink::delivery::ParseAck(bytes);
  return 0;
}
