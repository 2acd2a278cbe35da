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

// A home recording over its days, the first day (set aside) shaded, the
// home thresholds as lines.
std::string HomeChartSvg(const Analysis& analysis);

// The oxygen saturation samples over time with the 90 % line; one
// <circle class="... so"> per sample shown.
std::string SpO2ChartSvg(const Analysis& analysis);

// The style sheet rules both charts are drawn with: the report's page holds
// them, and a page that shows a chart outside the report takes them too.
std::string ChartStyle();

}  // namespace bplink::report
