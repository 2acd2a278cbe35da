// The 24-hour chart of the HTML report, as inline SVG: systolic, diastolic
// and pulse over time, night shaded, the profile's thresholds as lines.
// Every counted reading is one <g class="pt"> element, every excluded reading
// with a usable time one <g class="ex">.
#pragma once

#include <bplink/report/analysis.h>

#include <string>

namespace bplink::report {

std::string ChartSvg(const Analysis& analysis);

}  // namespace bplink::report
