// The report's C entry, from a host of the C interface: the same rule says
// whether a recording may be given a verdict as for every other output.

#include <bplink/bplink_report_c.h>
#include <bplink/bplink_sim_c.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace {

// A download of the simulated recorder that falls silent after `silent_after`
// records (-1: never), reported as JSON through the C entry.
nlohmann::json ReportOf(int silent_after) {
  bplink_sim_options options;
  bplink_sim_options_init(&options, "hid");
  options.silent_after = silent_after;
  bplink_link* link = nullptr;
  char why[256] = "";
  EXPECT_EQ(bplink_sim_link(&options, &link, why, sizeof why), BPLINK_OK) << why;
  bplink_device_info device{};
  BPLINK_INIT(device);
  EXPECT_EQ(bplink_detect(link, &device), BPLINK_OK);
  bplink_protocol* protocol = nullptr;
  EXPECT_EQ(bplink_protocol_new(device.protocol, link, &protocol), BPLINK_OK);
  bplink_download* download = nullptr;
  bplink_download_run(protocol, 0, &download);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("bplink-report-c-" + std::to_string(silent_after) + ".json");
  bplink_report_options report{};
  BPLINK_INIT(report);
  const std::string output = file.string();
  report.output = output.c_str();
  report.format = "json";
  EXPECT_EQ(bplink_report_write(download, &report, why, sizeof why), BPLINK_OK) << why;
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
  nlohmann::json doc;
  {
    std::ifstream in(file);  // closed before the file is removed, as Windows wants
    doc = nlohmann::json::parse(in, nullptr, false);
  }
  std::filesystem::remove(file);
  return doc;
}

TEST(ReportCEntry, AStoppedDownloadIsNotInterpretableAWholeDayIs) {
  const nlohmann::json stopped = ReportOf(37);
  EXPECT_EQ(stopped["verdict"]["level"], "not interpretable");
  EXPECT_EQ(stopped["dipping"]["sys_class"], nullptr);
  // The handle knows the transfer ended early, as the program does.
  ASSERT_FALSE(stopped["verdict"]["failed"].empty());
  EXPECT_EQ(stopped["verdict"]["failed"][0].get<std::string>().rfind("the download is incomplete", 0), 0u);
  EXPECT_EQ(stopped["recording"]["complete"], false);
  const nlohmann::json whole = ReportOf(-1);
  EXPECT_EQ(whole["verdict"]["interpretable"], true);
  EXPECT_EQ(whole["verdict"]["level"], "normal");
}

}  // namespace
