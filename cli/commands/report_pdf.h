// The report as a PDF: the HTML report printed by headless Chromium, as
// `bplink report --format pdf` writes it and the workstation hands it out.
#pragma once

#include <bplink/report/report.h>

#include <functional>
#include <ostream>

namespace bplink::cli {

// Writes the report as the options ask: from the input file, or from a
// recording already loaded.
using ReportWriter = std::function<int(const report::ReportOptions&)>;

// Has `write` write the HTML report, prints it to PDF with Chromium and
// writes the PDF to options.output (to `out` for "" or "-"); a failure is
// said on `err`. Answers a report status (report.h).
int WritePdf(report::ReportOptions options, const ReportWriter& write, std::ostream& out, std::ostream& err);

}  // namespace bplink::cli
