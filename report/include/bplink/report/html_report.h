// The report as one printable HTML page: inline CSS and SVG, no script and
// nothing fetched, laid out for A4.
#pragma once

#include <bplink/report/analysis.h>

#include <iosfwd>
#include <string>
#include <string_view>

namespace bplink::report {

void WriteHtmlReport(const Analysis& analysis, std::ostream& out);

// Text made safe for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);
// "123.4", or "–" when there is no value.
std::string FormatNumber(std::optional<double> value, int decimals = 1);

}  // namespace bplink::report
