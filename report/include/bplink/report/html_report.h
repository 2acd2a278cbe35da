// The report as one printable HTML page: inline CSS and SVG, no script and
// nothing fetched, laid out for A4 pages (two for a 24-hour recording), each
// printed with the patient's name, identifier and recording date at its top
// and "page x of y" at its foot.
#pragma once

#include <bplink/report/analysis.h>

#include <iosfwd>
#include <string>
#include <string_view>

namespace bplink::report {

// `made`: the date and time the report is made, in `zone`, printed in its
// header. Every time the page shows is the device's clock in `zone`, and
// says so.
void WriteHtmlReport(const Analysis& analysis, const CalendarTime& made, const DeviceZone& zone, std::ostream& out);

// Text made safe for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);
// Text as a CSS string, quotes included, safe inside a <style> element.
std::string CssString(std::string_view text);
// "123.4", or "–" when there is no value.
std::string FormatNumber(std::optional<double> value, int decimals = 1);

}  // namespace bplink::report
