// Whole recordings through the report, held against the independent
// reckoning: the repository's synthetic one always, the ten real 24-hour
// recordings beside the repository when they are there.

#include <bplink/report/report.h>
#include "independent_stats.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kTolerance = 0.01;

json JsonReportOf(const fs::path& path) {
  bplink::report::ReportOptions options;
  options.input = path.string();
  options.format = bplink::report::ReportFormat::kJson;
  std::ostringstream out, err;
  EXPECT_EQ(bplink::report::RunReport(options, out, err), bplink::report::kReportOk) << err.str();
  return json::parse(out.str());
}

void ExpectAgreement(const fs::path& path) {
  SCOPED_TRACE(path.filename().string());
  const DayNightFigures expected = ReckonFromCsv(path.string());
  const json report = JsonReportOf(path);
  EXPECT_EQ(report["day_night"]["source"], "awake column");
  const auto check = [&](const char* period, const char* measure, const Moments& m) {
    SCOPED_TRACE(std::string(period) + " " + measure);
    const json& summary = report["periods"][period][measure];
    EXPECT_EQ(summary["n"], m.n);
    EXPECT_NEAR(summary["mean"].get<double>(), m.mean, kTolerance);
    EXPECT_NEAR(summary["sd"].get<double>(), m.sd, kTolerance);
  };
  check("day", "sys", expected.day_sys);
  check("day", "dia", expected.day_dia);
  check("night", "sys", expected.night_sys);
  check("night", "dia", expected.night_dia);
  EXPECT_EQ(report["periods"]["day"]["n"], expected.day_sys.n);
  EXPECT_EQ(report["periods"]["night"]["n"], expected.night_sys.n);
  EXPECT_EQ(report["readings"]["valid"], expected.day_sys.n + expected.night_sys.n);
  EXPECT_NEAR(report["dipping"]["sys_pct"].get<double>(), expected.sys_dip, kTolerance);
  EXPECT_NEAR(report["dipping"]["dia_pct"].get<double>(), expected.dia_dip, kTolerance);
  EXPECT_EQ(report["dipping"]["sys_class"], expected.sys_class);
  EXPECT_EQ(report["dipping"]["dia_class"], expected.dia_class);
}

TEST(Recordings, SyntheticDayAndNightAgreeWithAnIndependentReckoning) {
  const fs::path path = fs::path(REPORT_TEST_DATA) / "synthetic_awake.csv";
  ExpectAgreement(path);
  const json report = JsonReportOf(path);
  EXPECT_EQ(report["readings"]["total"], 64);
  EXPECT_EQ(report["readings"]["excluded"], 2) << "one systolic and one diastolic artifact";
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
