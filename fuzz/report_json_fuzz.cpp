// The report's reader of saved downloads on any bytes; what it reads goes
// through the analysis and every report format.
#include "report_input_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return bplink::fuzz::ReportOn(data, size,
                                [](std::istream& in) { return bplink::report::LoadDownloadJson(in, "fuzz.json"); });
}
