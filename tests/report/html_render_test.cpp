// The printable report: every element a physician files, self-contained,
// one chart point per counted reading and per hour with a mean; and the
// report of a simulated recorder's download printed by the program through
// headless Chromium to at most two A4 pages, and rendered to PNG.

#include <bplink/report/report.h>
#include <bplink/version.h>

#include "program_runner.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::HasSubstr;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d)");

TEST(HtmlReport, EveryElementOfTheFiledReportSelfContained) {
  bplink::report::ReportOptions options;
  options.input = std::string(REPORT_TEST_DATA) + "/recorder_day.json";
  options.patient = {"Test Person", "MRN-0042", "1960-05-31", "female"};
  options.made = bplink::CalendarTime{2024, 3, 6, 10, 15, 0};
  options.utc_offset = [](const bplink::CalendarTime&) { return 60; };
  options.zone = "+01:00";
  std::ostringstream out, err;
  ASSERT_EQ(bplink::report::RunReport(options, out, err), bplink::report::kReportOk) << err.str();
  const std::string html = out.str();
  // 16 readings, of which the device marked two invalid and one is an
  // artefact; the 13 counted fall in 11 clock hours; 6 oximetry samples.
  EXPECT_EQ(Occurrences(html, "<g class=\"pt\">"), 13u);
  EXPECT_EQ(Occurrences(html, "<g class=\"ex\">"), 3u);
  EXPECT_EQ(Occurrences(html, "<div class=\"excluded\""), 3u);
  EXPECT_EQ(Occurrences(html, "<g class=\"hp\">"), 11u);
  EXPECT_EQ(Occurrences(html, "class=\"dia so\""), 6u);
  // Nothing to fetch and nothing to run: the SVG namespace is the one URL.
  for (const char* fetch_or_run : {"<script", "src=", "url("}) EXPECT_EQ(Occurrences(html, fetch_or_run), 0u);
  EXPECT_EQ(Occurrences(html, "http"), 3u);
  EXPECT_EQ(Occurrences(html, "xmlns=\"http://www.w3.org/2000/svg\""), 3u);
  EXPECT_FALSE(std::regex_search(html, kIsoTime)) << "times are local dates and times, not ISO 8601";

  // 9 day and 4 night readings: the page leads with the verdict it may
  // give, before the patient's facts, and names the criteria that failed.
  const auto verdict = html.find("<div class=\"level\">Not interpretable");
  ASSERT_NE(verdict, std::string::npos);
  EXPECT_LT(verdict, html.find("<td>Test Person</td>"));
  for (const std::string& element : {
           // Every page's header and footer, and the header a clinic files.
           std::string("@top-left { content: \"Test Person · ID MRN-0042 · recording 4 Mar 2024\""),
           std::string("@bottom-right { content: \"page \" counter(page) \" of \" counter(pages)"),
           std::string("<td>Test Person</td>"), std::string("<td>MRN-0042</td>"),
           std::string("<td>31 May 1960 (age 63)</td>"), std::string("<td>female</td>"),
           std::string("Test &lt;Patient&gt; · ID 0042"), std::string("ambulatory recorder, USB HID, version 5"),
           std::string("<td>4 Mar 2024 09:00 to 5 Mar 2024 08:30 UTC+01:00</td>"),
           std::string("<th>Times</th><td>UTC+01:00, the device's clock (+01:00)</td>"),
           std::string("day from 07:00 every 30 min, night from 22:00 every 60 min"),
           std::string("set 2 of 2, the first with readings"),
           std::string("6 Mar 2024 10:15 UTC+01:00 by bplink ") + bplink::Version(),
           // The failed criteria, the means unjudged and marked, no category.
           std::string("<li>9 day readings, fewer than 20</li><li>4 night readings, fewer than 7</li>"),
           std::string("<tr><td>Night</td><td>111.2</td><td>120</td><td>67.0</td><td>70</td><td class=\"muted\">not judged"),
           std::string("<tr><td>Day readings</td><td>9</td><td>at least 20</td><td class=\"fail\">fail</td></tr>"),
           std::string("<tr><td>Valid readings</td><td>81.2 % (13 of 16)</td><td>at least 70 %</td><td class=\"pass\">pass"),
           std::string("Summary <span class=\"for-information\">(for information only)</span>"),
           std::string("systolic 14.3 %, night-to-day ratio 0.86;"), std::string("No category"),
           // Each excluded reading with its reason.
           std::string("<span class=\"reason\">marked invalid by the device</span>"),
           std::string("<span class=\"reason\">pulse pressure outside 20..150 mmHg</span>"),
           // SpO2: 93, 94, 95, 96, 97, 93 every 4 seconds.
           std::string("6 samples over 0.0 h: mean 94.7 %, lowest 93 %, below 90 % for 0 min"),
           std::string("Physician's interpretation"), std::string("<div>Signature</div>"), std::string("<div>Date</div>"),
           std::string(">Pulse, bpm</text>"), std::string(">Blood pressure, mmHg</text>"), std::string(">Clock hour</text>"),
           std::string("ESH 2023 day 135/85, night 120/70"), std::string("size: A4")})
    EXPECT_NE(html.find(element), std::string::npos) << element;
  EXPECT_EQ(Occurrences(html, "dipper"), 0u) << "no dipping category";
  EXPECT_EQ(Occurrences(html.substr(0, html.find("hourly-chart")), "class=\"thr-label\""), 0u)
      << "no threshold label inside the 24-hour plot, where it would cover the readings";
  // The hourly chart's night is one band for each run of night hours (22:00
  // to 07:00 spans midnight: two), and one in the legend.
  const std::string hourly = html.substr(html.find("hourly-chart"), html.find("</svg>", html.find("hourly-chart")) -
                                                                        html.find("hourly-chart"));
  EXPECT_EQ(Occurrences(hourly, "<rect class=\"night\""), 3u);
}

TEST(HtmlReport, SimulatedRecorderDownloadPrintsToTwoA4PagesInHeadlessChromium) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  const fs::path dir = TestDir();
  const std::string download = (dir / "download.json").string(), pdf = (dir / "report.pdf").string(),
                    html = (dir / "report.html").string(), patient = (dir / "patient.json").string();
  ASSERT_EQ(RunProgram({"download", "--sim", "hid", "--format", "json", "-o", download}).status, 0);
  WriteText(patient, R"({"name": "Anna Example", "id": "MRN-4711", "birth_date": "1961-04-02", "sex": "female"})");
  const ProgramRun printed = RunProgram({"report", download, "--patient", patient, "--format", "pdf", "-o", pdf});
  ASSERT_EQ(printed.status, 0) << printed.err;
  ASSERT_EQ(RunProgram({"report", download, "--patient", patient, "-o", html}).status, 0);
  const ProgramRun numbers = RunProgram({"report", download, "--format", "json"});
  ASSERT_EQ(numbers.status, 0) << numbers.err;

  // A 24-hour recording on two A4 pages (595 x 842 points), one chart on each.
  const std::string document = ReadText(pdf);
  EXPECT_TRUE(document.starts_with("%PDF-"));
  std::smatch pages;
  ASSERT_TRUE(std::regex_search(document, pages, std::regex(R"(/Type /Pages\s*/Count (\d+))")));
  EXPECT_EQ(pages[1], "2");
  const std::regex a4(R"(/MediaBox \[0 0 59\d(\.\d+)? 84\d(\.\d+)?\])");
  EXPECT_EQ(std::distance(std::sregex_iterator(document.begin(), document.end(), a4), std::sregex_iterator()), 2);
  const std::string page = ReadText(html);
  const auto counted = json::parse(numbers.out)["readings"]["valid"].get<std::size_t>();
  EXPECT_GT(counted, 70u) << "a day at 15 and 30 minutes";
  EXPECT_EQ(Occurrences(page, "<g class=\"pt\">"), counted);
  EXPECT_EQ(Occurrences(page, "<g class=\"hp\">"), 24u);

  const std::string chromium =
      "timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars "
      "--user-data-dir=" + (dir / "profile").string() + " ";
  ASSERT_EQ(RunCommand(chromium + "--window-size=900,2300 --screenshot=" + (dir / "report.png").string() + " file://" +
                       html + " >" + (dir / "log").string() + " 2>&1"), 0)
      << ReadText(dir / "log");
  const std::string png = ReadText(dir / "report.png");
  EXPECT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
  EXPECT_GT(png.size(), 100000u) << "a page with two charts, not a blank image";
  if (std::getenv("BPLINK_KEEP_REPORT") == nullptr) fs::remove_all(dir);
}

// 200 readings run to more pages; every page, as the PDF's own text says,
// names the patient and the recording and is numbered "page x of y".
TEST(HtmlReport, EveryPrintedPageCarriesThePatientAndItsNumber) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  if (!HaveCommand("pdftotext")) GTEST_SKIP() << "pdftotext is not installed (scripts/setup installs poppler-utils)";
  const fs::path dir = TestDir();
  const std::string download = (dir / "download.json").string(), pdf = (dir / "report.pdf").string();
  ASSERT_EQ(RunProgram({"download", "--sim", "hid", "--sim-records", "200", "--format", "json", "-o", download}).status, 0);
  const ProgramRun printed = RunProgram({"report", download, "--patient-name", "Anna Example", "--patient-id",
                                         "MRN-4711", "--format", "pdf", "-o", pdf});
  ASSERT_EQ(printed.status, 0) << printed.err;
  ASSERT_EQ(RunCommand("pdftotext -layout " + pdf + " " + (dir / "report.txt").string()), 0);
  std::vector<std::string> pages;
  std::stringstream text(ReadText(dir / "report.txt"));
  for (std::string page; std::getline(text, page, '\f');)
    if (page.find_first_not_of(" \n") != std::string::npos) pages.push_back(page);
  ASSERT_GE(pages.size(), 3u);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    EXPECT_THAT(pages[i], HasSubstr("Anna Example · ID MRN-4711 · recording "));
    EXPECT_THAT(pages[i], HasSubstr("page " + std::to_string(i + 1) + " of " + std::to_string(pages.size())));
    EXPECT_THAT(pages[i], HasSubstr("Times: the device's clock, UTC"));
  }
  if (std::getenv("BPLINK_KEEP_REPORT") == nullptr) fs::remove_all(dir);
}

}  // namespace
