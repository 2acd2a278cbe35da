// The recording as a FHIR R4 Bundle of type collection: one blood-pressure
// Observation per counted reading, a heart-rate Observation where the reading
// has a pulse, an SpO2 Observation per oximetry sample, and a Device resource
// for the monitor they came from.
#pragma once

#include <bplink/report/analysis.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <iosfwd>

namespace bplink::report {

// Minutes east of UTC at a local time. Devices keep local time without a
// zone, but FHIR wants one on every time of day.
using UtcOffset = std::function<int(const CalendarTime&)>;
// The offset the machine's time zone (TZ) has at that local time.
int MachineUtcOffset(const CalendarTime& local);

nlohmann::json FhirBundle(const Analysis& analysis, const UtcOffset& offset);
void WriteFhirReport(const Analysis& analysis, const UtcOffset& offset, std::ostream& out);

}  // namespace bplink::report
