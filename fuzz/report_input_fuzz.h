// What the report's input targets share: read the bytes with one loader;
// an input it refuses must be refused with InputError, and anything it
// accepts must analyse and write in every format. Any other exception, a
// crash or a sanitizer report is a fault.
#pragma once

#include <bplink/report/analysis.h>
#include <bplink/report/fhir_report.h>
#include <bplink/report/html_report.h>
#include <bplink/report/json_report.h>
#include <bplink/report/readings.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace bplink::fuzz {

template <typename Load>
int ReportOn(const std::uint8_t* data, std::size_t size, Load load) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  report::Recording recording;
  try {
    recording = load(in);
  } catch (const report::InputError&) {
    return 0;
  }
  const report::Analysis analysis = report::Analyse(std::move(recording), *report::FindProfile("esh2023"), {});
  std::ostringstream out;
  const report::DeviceZone zone{"+01:00", [](const CalendarTime&) { return 60; }};
  report::WriteHtmlReport(analysis, CalendarTime{2024, 3, 5, 9, 0, 0}, zone, out);
  report::WriteJsonReport(analysis, out);
  report::WriteFhirReport(analysis, [](const CalendarTime&) { return 60; }, out);
  return 0;
}

}  // namespace bplink::fuzz
