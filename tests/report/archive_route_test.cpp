// A reading filed in the archive is edited by the same rule as one from a
// download, a CSV or a saved JSON: 90/120 is left out, with its reason, from
// the report of the archived recording.

#include <bplink/archive/archive.h>

#include "program_runner.h"

#include <gtest/gtest.h>

namespace {

_BP_RECORD Record(int minute, int sys, int press2, int press3) {
  _BP_RECORD r;
  r.nYear = 2024, r.wMonth = 3, r.wDay = 4, r.wHour = 9, r.wMinute = static_cast<short>(minute);
  r.nSys = sys, r.wPress2 = static_cast<short>(press2), r.wPress3 = static_cast<short>(press3), r.wPulseRate = 70;
  return r;
}

TEST(ArchiveRoute, AnArchivedImpossiblePairIsLeftOutWithItsReason) {
  const std::filesystem::path dir = TestDir();
  const std::string file = (dir / "archive.sqlite").string();
  _BP_DATASET set;
  set.vecRecords = {Record(0, 128, 81, 96), Record(30, 90, 120, 100), Record(45, 131, 84, 99)};
  bplink::archive::Download download;
  download.family = "hid";
  download.device = {1, 1, 255, 1, 5};
  download.sets = {{DATAMODE_BP, &set}};
  download.downloaded_at = {2024, 3, 5, 9, 0, 0};
  const auto stored = bplink::archive::Archive::Open({bplink::archive::Engine::kSqlite, file})->Store(download, {"tester", "test", {2024, 3, 5, 9, 0, 0}});
  ASSERT_EQ(stored.recordings.size(), 1u);
  const ProgramRun run = RunProgram({"report", "--recording", std::to_string(stored.recordings[0]), "--archive", file,
                                     "--format", "json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["readings"]["excluded_by_reason"], nlohmann::json({{"diastolic not below systolic", 1}}));
  std::filesystem::remove_all(dir);
}

}  // namespace
