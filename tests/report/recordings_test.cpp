// Whole recordings through the report, held against an independent
// reckoning: the repository's synthetic one always, the ten real 24-hour
// recordings beside the repository when they are there.

#include <bplink/report/report.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kTolerance = 0.01;

// Welford's running mean and sample SD; the report sums in two passes.
struct Moments {
  int n = 0;
  double mean = 0, m2 = 0;
  void Add(double x) {
    const double delta = x - mean;
    mean += delta / ++n;
    m2 += delta * (x - mean);
  }
  double Sd() const { return n > 1 ? std::sqrt(m2 / (n - 1)) : 0.0; }
};

std::string OneDecimal(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
  return cells;
}

std::string DippingClass(double dip) {
  if (dip <= 0) return "reverse dipper";
  if (dip < 10) return "non-dipper";
  return dip <= 20 ? "dipper" : "extreme dipper";
}

// The day and night figures of a CSV with an awake column, reckoned from
// their definitions without any of the report's code, against its JSON:
// artefacts left out by the editing criteria (systolic outside 70..260,
// diastolic outside 40..150, pulse pressure outside 20..150 mmHg, pulse
// outside 27..220 bpm), awake 1 is day, sample SD, dipping
// 100 * (1 - night / day); a class only for a valid recording (70 % valid,
// 20 day and 7 night readings), else "not interpretable".
void ExpectAgreement(const fs::path& path) {
  SCOPED_TRACE(path.filename().string());
  std::ifstream in(path);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  std::map<std::string, std::size_t> column;
  for (const std::string& name : Cells(line)) column.emplace(name, column.size());
  std::map<std::string, Moments> expected;  // "day sys", "night dia", ...
  int total = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    ++total;
    const auto cells = Cells(line);
    const double sys = std::stod(cells.at(column.at("sys"))), dia = std::stod(cells.at(column.at("dia")));
    const std::string pulse_cell = column.contains("pulse") ? cells.at(column.at("pulse")) : "";
    const double pulse = pulse_cell.empty() ? 60 : std::stod(pulse_cell);
    if (sys < 70 || sys > 260 || dia < 40 || dia > 150 || sys - dia < 20 || sys - dia > 150 || pulse < 27 ||
        pulse > 220)
      continue;
    const std::string period = cells.at(column.at("awake")) == "1" ? "day" : "night";
    expected[period + " sys"].Add(sys);
    expected[period + " dia"].Add(dia);
  }

  bplink::report::ReportOptions options;
  options.input = path.string();
  options.format = bplink::report::ReportFormat::kJson;
  std::ostringstream out, err;
  ASSERT_EQ(bplink::report::RunReport(options, out, err), bplink::report::kReportOk) << err.str();
  const json report = json::parse(out.str());
  EXPECT_EQ(report["day_night"]["source"], "awake column");
  for (const std::string period : {"day", "night"}) {
    EXPECT_EQ(report["periods"][period]["n"], expected[period + " sys"].n) << period;
    for (const std::string measure : {"sys", "dia"}) {
      SCOPED_TRACE(period + " " + measure);
      const json& summary = report["periods"][period][measure];
      const Moments& m = expected[period + " " + measure];
      EXPECT_EQ(summary["n"], m.n);
      EXPECT_NEAR(summary["mean"].get<double>(), m.mean, kTolerance);
      EXPECT_NEAR(summary["sd"].get<double>(), m.Sd(), kTolerance);
    }
  }
  const int day_n = expected["day sys"].n, night_n = expected["night sys"].n;
  const bool valid = day_n >= 20 && night_n >= 7 && (day_n + night_n) * 10 >= total * 7;
  EXPECT_EQ(report["verdict"]["interpretable"], valid);
  if (!valid) {
    EXPECT_EQ(report["verdict"]["level"], "not interpretable");
  }
  for (const std::string measure : {"sys", "dia"}) {
    const double dip = 100 * (1 - expected["night " + measure].mean / expected["day " + measure].mean);
    EXPECT_NEAR(report["dipping"][measure + "_pct"].get<double>(), dip, kTolerance) << measure;
    EXPECT_EQ(report["dipping"][measure + "_class"], valid ? json(DippingClass(dip)) : json(nullptr)) << measure;
    EXPECT_NEAR(report["dipping"][measure + "_ratio"].get<double>(),
                expected["night " + measure].mean / expected["day " + measure].mean, 0.001)
        << measure;
  }

  // The page shows the same numbers, to one decimal: n, mean ± SD of each period.
  options.format = bplink::report::ReportFormat::kHtml;
  std::ostringstream page;
  ASSERT_EQ(bplink::report::RunReport(options, page, err), bplink::report::kReportOk) << err.str();
  for (const auto& [name, period] : {std::pair("Day", "day"), std::pair("Night", "night")}) {
    const Moments& sys = expected[std::string(period) + " sys"];
    const Moments& dia = expected[std::string(period) + " dia"];
    const std::string row = "<tr><td>" + std::string(name) + "</td><td>" + std::to_string(sys.n) + "</td><td>" +
                            OneDecimal(sys.mean) + " ± " + OneDecimal(sys.Sd()) + "</td><td>" + OneDecimal(dia.mean) +
                            " ± " + OneDecimal(dia.Sd()) + "</td>";
    EXPECT_NE(page.str().find(row), std::string::npos) << row;
  }
  EXPECT_EQ(report["readings"]["total"], total);
  EXPECT_EQ(report["readings"]["valid"], expected["day sys"].n + expected["night sys"].n);
}

TEST(Recordings, SyntheticDayAndNightAgreeWithAnIndependentReckoning) {
  ExpectAgreement(fs::path(REPORT_TEST_DATA) / "synthetic_awake.csv");
}

TEST(Recordings, RealDayAndNightAgreeWithAnIndependentReckoning) {
  const fs::path dir = REPORT_ABPM_DATA;
  if (!fs::is_directory(dir))
    GTEST_SKIP() << "the real recordings are not at " << dir
                 << " (they stay outside the repository, in ../shared/data/abpm)";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".csv") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 10u);
  for (const fs::path& file : files) ExpectAgreement(file);
}

}  // namespace
