// The printable page of a recorder's download: self-contained, one chart
// point per counted reading, and the page of a simulated recorder's download,
// fetched by the program itself, rendered by headless Chromium to PDF and PNG.

#include <bplink/report/report.h>

#include "program_runner.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST(HtmlReport, SelfContainedWithOnePointPerCountedReading) {
  bplink::report::ReportOptions options;
  options.input = std::string(REPORT_TEST_DATA) + "/recorder_day.json";
  std::ostringstream out, err;
  ASSERT_EQ(bplink::report::RunReport(options, out, err), bplink::report::kReportOk) << err.str();
  const std::string html = out.str();
  // 16 readings, of which the device marked two invalid and one is an artifact.
  EXPECT_EQ(Occurrences(html, "<g class=\"pt\">"), 13u);
  EXPECT_EQ(Occurrences(html, "<g class=\"ex\">"), 3u);
  EXPECT_EQ(Occurrences(html, "<tr class=\"excluded\">"), 3u);
  // Nothing to fetch and nothing to run: the SVG namespace is the one URL.
  for (const char* fetch_or_run : {"<script", "src=", "url("}) EXPECT_EQ(Occurrences(html, fetch_or_run), 0u);
  EXPECT_EQ(Occurrences(html, "http"), 1u);
  EXPECT_THAT(html, HasSubstr("xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_THAT(html, HasSubstr("Test &lt;Patient&gt;"));
  EXPECT_THAT(html, HasSubstr("day from 07:00 every 30 min, night from 22:00 every 60 min"));
  EXPECT_THAT(html, HasSubstr("size: A4"));
}

TEST(HtmlReport, SimulatedRecorderDownloadRendersInHeadlessChromium) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  const fs::path dir = TestDir();
  // A person's way to the page: download from the recorder straight to the report.
  const ProgramRun download = RunProgram({"download", "--sim", "hid", "--report", (dir / "report.html").string()});
  ASSERT_EQ(download.status, 0) << download.err;
  ASSERT_THAT(ReadText(dir / "report.html"), HasSubstr("<g class=\"pt\">"));

  const std::string chromium =
      "timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars "
      "--user-data-dir=" + (dir / "profile").string() + " ";
  const std::string page = " file://" + (dir / "report.html").string() + " >" + (dir / "log").string() + " 2>&1";
  ASSERT_EQ(RunCommand(chromium + "--no-pdf-header-footer --print-to-pdf=" + (dir / "report.pdf").string() + page), 0)
      << ReadText(dir / "log");
  ASSERT_EQ(RunCommand(chromium + "--window-size=1000,1400 --screenshot=" + (dir / "report.png").string() + page), 0)
      << ReadText(dir / "log");

  const std::string pdf = ReadText(dir / "report.pdf");
  EXPECT_TRUE(pdf.starts_with("%PDF-"));
  EXPECT_TRUE(std::regex_search(pdf, std::regex("/Type /Page[\n\r/>]"))) << "a document with at least one page";
  const std::string png = ReadText(dir / "report.png");
  EXPECT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
  EXPECT_GT(png.size(), 20000u) << "a page with a chart, not a blank image";
  if (std::getenv("BPLINK_KEEP_REPORT") == nullptr) fs::remove_all(dir);
}

}  // namespace
