// The report's CSV reader on any bytes, as a file sent by a stranger may
// hold: it either reads readings or names what is wrong; what it reads goes
// through the analysis and every report format.
#include "report_input_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return bplink::fuzz::ReportOn(data, size, [](std::istream& in) { return bplink::report::LoadCsv(in, "fuzz.csv"); });
}
