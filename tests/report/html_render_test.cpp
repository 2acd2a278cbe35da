// The printable page of a recorder's download: self-contained, one chart
// point per counted reading, and the page of a simulated recorder's download,
// fetched by the program itself, rendered by headless Chromium to PDF and PNG.

#include <bplink/report/report.h>
#include "synthetic_download.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

std::string HtmlOf(const SyntheticDownload& d) {
  std::ostringstream out, err;
  bplink::report::ReportOptions options;
  EXPECT_EQ(bplink::report::WriteReport(bplink::report::RecordingFromDownload(d.data, d.device), options, out, err),
            bplink::report::kReportOk)
      << err.str();
  return out.str();
}

TEST(HtmlReport, SelfContainedWithOnePointPerCountedReading) {
  const SyntheticDownload d = RecorderDownload();
  const std::string html = HtmlOf(d);
  const std::size_t records = d.data.BPSet.vecRecords.size();
  const std::size_t left_out = static_cast<std::size_t>(d.marked_invalid + d.artifacts);
  EXPECT_EQ(Occurrences(html, "<g class=\"pt\">"), records - left_out);
  EXPECT_EQ(Occurrences(html, "<g class=\"ex\">"), left_out);
  EXPECT_EQ(Occurrences(html, "<tr class=\"excluded\">"), left_out);
  // Nothing to fetch and nothing to run: the SVG namespace is the one URL.
  EXPECT_EQ(Occurrences(html, "<script"), 0u);
  EXPECT_EQ(Occurrences(html, "src="), 0u);
  EXPECT_EQ(Occurrences(html, "url("), 0u);
  EXPECT_EQ(Occurrences(html, "http"), 1u);
  EXPECT_THAT(html, HasSubstr("xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_THAT(html, HasSubstr("Test &lt;Patient&gt;"));
  EXPECT_THAT(html, HasSubstr("day from 07:00 every 30 min, night from 22:00 every 60 min"));
  EXPECT_THAT(html, HasSubstr("size: A4"));
}

// Counted the way a clinician edits a recording, from the download file
// rather than through the report's own code: what the device kept as valid
// and what lies inside the artifact limits.
std::size_t CountedReadings(const nlohmann::json& download) {
  std::size_t counted = 0;
  for (const auto& record : download.at("sets").at(0).at("records")) {
    const int sys = record.at("sys").get<int>();
    const int dia = std::min(record.at("press2").get<int>(), record.at("press3").get<int>());
    if (record.at("valid") == true && sys >= 50 && sys <= 240 && dia >= 40 && dia <= 140) ++counted;
  }
  return counted;
}

TEST(HtmlReport, SimulatedRecorderDownloadRendersInHeadlessChromium) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  const fs::path dir = FreshTempDir();
  // A person's way to the page: download from the recorder straight to the report.
  ASSERT_EQ(RunCommand(std::string(BPLINK_PROGRAM) + " download --sim hid --format json -o " +
                       (dir / "download.json").string() + " --report " + (dir / "report.html").string() + " >" +
                       (dir / "program.log").string() + " 2>&1"),
            0)
      << ReadFile(dir / "program.log");
  const auto download = nlohmann::json::parse(ReadFile(dir / "download.json"));
  const std::string html = ReadFile(dir / "report.html");
  const std::size_t records = download.at("sets").at(0).at("records").size();
  const std::size_t counted = CountedReadings(download);
  ASSERT_GT(records, counted) << "the simulated day should hold readings the report leaves out";
  EXPECT_EQ(Occurrences(html, "<g class=\"pt\">"), counted);
  EXPECT_EQ(Occurrences(html, "<g class=\"ex\">"), records - counted);

  const std::string chromium =
      "timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars "
      "--user-data-dir=" + (dir / "profile").string() + " ";
  const std::string page = " file://" + (dir / "report.html").string() + " >" + (dir / "log").string() + " 2>&1";

  ASSERT_EQ(RunCommand(chromium + "--no-pdf-header-footer --print-to-pdf=" + (dir / "report.pdf").string() + page), 0)
      << ReadFile(dir / "log");
  ASSERT_EQ(RunCommand(chromium + "--window-size=1000,1400 --screenshot=" + (dir / "report.png").string() + page), 0)
      << ReadFile(dir / "log");

  const std::string pdf = ReadFile(dir / "report.pdf");
  EXPECT_TRUE(pdf.starts_with("%PDF-"));
  EXPECT_GE(Occurrences(pdf, "/Type /Page\n") + Occurrences(pdf, "/Type /Page\r") + Occurrences(pdf, "/Type /Page/") +
                Occurrences(pdf, "/Type /Page>"),
            1u);
  const std::string png = ReadFile(dir / "report.png");
  EXPECT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
  EXPECT_GT(png.size(), 20000u) << "a page with a chart, not a blank image";
  if (std::getenv("BPLINK_KEEP_REPORT") == nullptr) fs::remove_all(dir);
}

}  // namespace
