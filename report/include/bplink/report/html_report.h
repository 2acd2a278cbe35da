// The report as one printable HTML page: inline CSS and SVG, no script and
// nothing fetched, laid out for two A4 pages.
#pragma once

#include <bplink/report/analysis.h>

#include <iosfwd>
#include <string>
#include <string_view>

namespace bplink::report {

// `made`: the date and time the report is made, printed in its header.
void WriteHtmlReport(const Analysis& analysis, const CalendarTime& made, std::ostream& out);

// Text made safe for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);
// "123.4", or "–" when there is no value.
std::string FormatNumber(std::optional<double> value, int decimals = 1);

}  // namespace bplink::report
