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

// The style sheet rules both charts are drawn with: the report's page holds
// them, and a page that shows a chart outside the report takes them too.
std::string ChartStyle();

}  // namespace bplink::report
