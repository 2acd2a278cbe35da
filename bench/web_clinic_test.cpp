// The clinic the workstation is measured on must be the one the figures
// name: every study with its own readings, on recorders whose turns do not
// overlap, reviewed and signed where the shape says.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <unistd.h>

#include "web_clinic.h"

namespace bplink::bench {
namespace {

namespace fs = std::filesystem;

class Clinic : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("bplink_web_clinic_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    archive_ = archive::Archive::Open({archive::Engine::kSqlite, (dir_ / "clinic.sqlite").string()});
  }
  void TearDown() override {
    archive_.reset();
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::unique_ptr<archive::Archive> archive_;
};

TEST_F(Clinic, EveryStudyHoldsItsOwnReadingsOnRecordersTakingTurns) {
  const ClinicShape shape{14, 100, 3, 5};
  const ClinicCount filled = FillClinic(*archive_, shape);
  EXPECT_EQ(filled, Expected(shape));
  EXPECT_EQ(filled.studies, 14);
  EXPECT_EQ(filled.readings, 1400);
  EXPECT_EQ(filled.signed_studies, 3);  // patients 0, 5 and 10
  EXPECT_EQ(filled.reviewed, 3);        // 1, 6 and 11

  const std::vector<archive::StudyEntry> studies = archive_->Worklist({});
  std::map<std::int64_t, std::vector<const archive::StudyEntry*>> by_device;
  std::vector<std::int64_t> patients;
  for (const archive::StudyEntry& s : studies) {
    EXPECT_EQ(s.readings, shape.readings) << "study " << s.id;
    EXPECT_EQ(s.recordings.size(), 1u) << "study " << s.id;
    by_device[s.device_id].push_back(&s);
    patients.push_back(s.patient_id);
  }
  std::sort(patients.begin(), patients.end());
  EXPECT_EQ(std::unique(patients.begin(), patients.end()), patients.end()) << "a patient with two studies";
  ASSERT_EQ(by_device.size(), 3u);
  for (auto& [device, turns] : by_device) {
    std::sort(turns.begin(), turns.end(), [](auto* a, auto* b) { return a->start < b->start; });
    for (std::size_t i = 1; i < turns.size(); ++i)
      EXPECT_LT(turns[i - 1]->end, turns[i]->start) << "device " << device << ": study " << turns[i]->id;
  }
}

TEST_F(Clinic, ReadingsFollowThePlanByDayAndNightWithAFewFailedOnes) {
  FillClinic(*archive_, {2, 120, 2, 0});
  for (const archive::StudyEntry& study : archive_->Worklist({})) {
    const archive::StoredRecording stored = archive_->Load(study.recordings.at(0));
    const std::vector<_BP_RECORD>& r = stored.set.vecRecords;
    ASSERT_EQ(r.size(), 120u);
    int failed = 0, nights = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
      failed += r[i].bValid == 0;
      if (i == 0) continue;
      const CalendarTime before{r[i - 1].nYear, r[i - 1].wMonth, r[i - 1].wDay, r[i - 1].wHour, r[i - 1].wMinute, 0};
      const CalendarTime now{r[i].nYear, r[i].wMonth, r[i].wDay, r[i].wHour, r[i].wMinute, 0};
      // The interval is the one of the period the earlier reading was taken in.
      const bool day = before.hour >= 7 && before.hour < 22;
      nights += !day;
      EXPECT_EQ(SecondsBetween(before, now), (day ? 15 : 30) * 60) << "reading " << i << " of study " << study.id;
    }
    EXPECT_EQ(failed, 3) << "one in 40";
    EXPECT_GT(nights, 0) << "no night in study " << study.id;
    EXPECT_FALSE(stored.plan_json.empty());
  }
}

TEST_F(Clinic, APatientsIdentifierFindsThatPatientAlone) {
  FillClinic(*archive_, {12, 10, 2, 0});
  // The benchmark's filtered worklist asks for one identifier: no other may contain it.
  for (int p : {0, 5, 11}) {
    archive::WorklistFilter filter;
    filter.patient = PatientIdentifier(p);
    const std::vector<archive::StudyEntry> found = archive_->Worklist(filter);
    ASSERT_EQ(found.size(), 1u) << filter.patient;
    EXPECT_EQ(archive_->Patient(found.front().patient_id).person.id, filter.patient);
  }
}

TEST_F(Clinic, AnArchiveHoldingStudiesIsNotFilledAgain) {
  const ClinicShape shape{4, 10, 2, 0};
  const ClinicCount first = FillClinic(*archive_, shape);
  EXPECT_THROW(FillClinic(*archive_, shape), archive::ArchiveError);
  EXPECT_EQ(CountClinic(*archive_), first);
}

TEST(ClinicShape, ExpectedCountsAtTheEdgesOfSigning) {
  EXPECT_EQ(Expected({10, 50, 2, 0}), (ClinicCount{10, 500, 0, 0}));
  EXPECT_EQ(Expected({10, 50, 2, 1}), (ClinicCount{10, 500, 0, 10}));  // every one signed, none left reviewed
  EXPECT_EQ(Expected({10, 50, 2, 10}), (ClinicCount{10, 500, 1, 1}));
}

}  // namespace
}  // namespace bplink::bench
