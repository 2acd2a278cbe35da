// The charts of the HTML report. The 24-hour chart, as inline SVG: systolic, diastolic
// and pulse over time, night shaded, the profile's thresholds as lines.
// Every counted reading is one <g class="pt"> element, every excluded reading
// with a usable time one <g class="ex">.
#pragma once

#include <bplink/report/analysis.h>

#include <string>

namespace bplink::report {

std::string ChartSvg(const Analysis& analysis);

// The hourly means by clock hour, systolic and diastolic, with the day and
// night thresholds; one <g class="hp"> per hour that has a mean.
std::string HourlyChartSvg(const Analysis& analysis);

}  // namespace bplink::report
