// Reading the archive in bulk, on both engines: an archive made by the
// previous schema version keeps its studies when migrated and still finds
// them by a patient merged away, and lists read at once (a worklist's
// studies with their recordings, the patients and devices naming its rows)
// say what reading each row alone says, also past the size of one batch.

#include <gmock/gmock.h>

#include "archive_fixture.h"

using namespace archive_test;
using namespace bplink::archive;

namespace {

constexpr int kPreviousVersion = 4;

// A study's readings: `count`, 15 minutes apart from `from`.
_BP_DATASET Readings(bplink::CalendarTime from, int count, int sys) {
  _BP_DATASET set;
  for (int i = 0; i < count; ++i) {
    const bplink::CalendarTime t = bplink::AddMinutes(from, 15 * i);
    _BP_RECORD r;
    r.nYear = t.year, r.wMonth = static_cast<short>(t.month), r.wDay = static_cast<short>(t.day);
    r.wHour = static_cast<short>(t.hour), r.wMinute = static_cast<short>(t.minute);
    r.nSys = sys + i, r.wPress2 = 80, r.wPress3 = 95, r.wPulseRate = 70;
    set.vecRecords.push_back(r);
  }
  set.Head.nCount = count;
  return set;
}

class ArchiveReads : public ArchiveProgram {
 protected:
  // A study of patient `id` on recorder `recorder`, hooked up at `day`'s
  // morning, with `count` readings filed as a download files them.
  StudyEntry Filed(Archive& archive, const std::string& id, int recorder, int day, int count) {
    bplink::report::PatientInfo patient;
    patient.id = id;
    patient.name = "Name of " + id;
    const DeviceIdentity device{"hid", {bplink::kDeviceAmbulatory, 1, 255, 0, 5}, "recorder " + std::to_string(recorder)};
    const bplink::CalendarTime hooked{2026, 3, day, 8, 0, 0};
    const Actor at{"technician", "station", hooked};
    StudyEntry study = archive.OpenStudy({patient, device, nullptr, ""}, at);
    archive.StartRecording(study.id, at);
    const _BP_DATASET set = Readings(bplink::AddMinutes(hooked, 10), count, 120 + day);
    Download download;
    download.family = device.family;
    download.device = device.device;
    download.device_label = device.label;
    download.sets = {{DATAMODE_BP, &set}};
    download.downloaded_at = bplink::AddMinutes(hooked, 24 * 60);
    archive.Store(download, {"technician", "station", download.downloaded_at});
    return archive.LoadStudy(study.id);
  }

  std::string IndexCount() const {
    return Sql(Postgres() ? "SELECT COUNT(*) FROM pg_indexes WHERE indexname IN ('patients_merged_into', "
                            "'recordings_patient')"
                          : "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                            "('patients_merged_into', 'recordings_patient')");
  }
};

WorklistFilter OfPatient(const std::string& patient) {
  WorklistFilter filter;
  filter.patient = patient;
  return filter;
}

// What a worklist row depends on, comparable as a whole.
using StudyKey = std::tuple<std::int64_t, std::int64_t, std::int64_t, std::string, std::vector<std::int64_t>,
                            std::int64_t, std::string, std::string>;
std::vector<StudyKey> Keys(const std::vector<StudyEntry>& studies) {
  std::vector<StudyKey> keys;
  for (const StudyEntry& s : studies)
    keys.emplace_back(s.id, s.patient_id, s.device_id, std::string(StateName(s.state)), s.recordings, s.readings,
                      s.start, s.end);
  return keys;
}

TEST_P(ArchiveReads, APreviousVersionMigratedKeepsItsStudiesAndAMergedPatientStillFindsThem) {
  OpenOptions previous;
  previous.schema_version = kPreviousVersion;
  std::vector<StudyKey> before, before_merged;
  std::int64_t kept = 0, merged = 0;
  {
    const auto old = Archive::Open(ParseLocation(location_), previous);
    const StudyEntry first = Filed(*old, "MRN-KEPT", 1, 2, 6);
    const StudyEntry second = Filed(*old, "MRN-MERGED", 2, 3, 4);
    Filed(*old, "MRN-OTHER", 1, 5, 5);
    kept = first.patient_id, merged = second.patient_id;
    old->MergePatients(kept, merged, {"clerk", "station", {2026, 3, 9, 9, 0, 0}});
    before = Keys(old->Worklist({}));
    before_merged = Keys(old->Worklist(OfPatient(std::to_string(merged))));
  }
  ASSERT_EQ(Sql("SELECT version FROM bplink_schema"), std::to_string(kPreviousVersion));
  ASSERT_EQ(IndexCount(), "0");
  ASSERT_EQ(before.size(), 3u);
  ASSERT_EQ(before_merged.size(), 2u);

  const MigrateResult migrated = Archive::Migrate(ParseLocation(location_), {"owner", "station", {2026, 3, 10, 9, 0, 0}});
  EXPECT_EQ(migrated.from, kPreviousVersion);
  EXPECT_EQ(migrated.to, SchemaVersion());
  EXPECT_EQ(Sql("SELECT version FROM bplink_schema"), std::to_string(SchemaVersion()));
  EXPECT_EQ(IndexCount(), "2");

  const auto archive = Archive::Open(ParseLocation(location_), {OpenMode::kExisting, SchemaVersion(), {}});
  EXPECT_EQ(Keys(archive->Worklist({})), before);
  // The merged patient's number, and its identifier, still find both studies, now the kept patient's.
  for (const std::string& asked : {std::to_string(merged), std::string("mrn-merged")}) {
    const std::vector<StudyEntry> found = archive->Worklist(OfPatient(asked));
    EXPECT_EQ(Keys(found), before_merged) << asked;
    for (const StudyEntry& s : found) EXPECT_EQ(s.patient_id, kept) << asked;
  }
  EXPECT_EQ(before_merged[0], before[0]);
  EXPECT_EQ(std::get<5>(before_merged[1]), 4);  // the merged patient's readings came along
}

TEST_P(ArchiveReads, ListsReadAtOnceEqualRowsReadOneByOnePastOneBatch) {
  constexpr int kStudies = 1100;  // more than two batches of numbers
  const std::string count = std::to_string(kStudies);
  Archive::Open(ParseLocation(location_));
  // Patients, studies and their recordings in bulk, past the library: one recorder,
  // every third study without a recording yet, every fifth patient without a name.
  const std::string numbers = Postgres() ? "SELECT n FROM generate_series(1, " + count + ") AS n"
                                         : "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " +
                                               count + ") SELECT n FROM c";
  Sql("INSERT INTO devices (family, device_type, protocol, variant, version, label, label_key) "
      "VALUES ('hid', 1, 1, 255, 5, 'Recorder', 'recorder'), ('serial', 2, 3, 0, 1, '', '')");
  Sql("INSERT INTO patients (texts, label, identifier, identifier_key, name) SELECT 'TEXTS ' || n, 'L' || n, "
      "'ID' || n, 'id' || n, CASE WHEN n % 5 = 0 THEN '' ELSE 'Name ' || n END FROM (" + numbers + ") AS k");
  Sql("INSERT INTO studies (patient_id, device_id, state, opened_at, station, os_user, db_role) SELECT n, 1 + n % 2, "
      "'downloaded', '2026-01-01T08:00:00', 's', 'u', '' FROM (" + numbers + ") AS k");
  Sql("INSERT INTO recordings (device_id, patient_id, set_mode, start_time, end_time, complete, downloaded_at, "
      "station, study_id) SELECT 1 + n % 2, n, 1, '2026-01-02T08:00:00', '2026-01-03T08:00:00', 1, "
      "'2026-01-03T09:00:00', 's', n FROM (" + numbers + ") AS k WHERE n % 3 <> 0");
  ASSERT_EQ(Sql("SELECT COUNT(*) FROM recordings"), std::to_string(kStudies - kStudies / 3));

  const auto archive = Archive::Open(ParseLocation(location_), {OpenMode::kExisting, SchemaVersion(), {}});
  const std::vector<StudyEntry> worklist = archive->Worklist({});
  ASSERT_EQ(worklist.size(), static_cast<std::size_t>(kStudies));
  std::vector<std::int64_t> patient_ids, device_ids;
  for (const StudyEntry& s : worklist) {
    EXPECT_EQ(Keys({s}), Keys({archive->LoadStudy(s.id)}));
    EXPECT_EQ(s.recordings.size(), s.id % 3 == 0 ? 0u : 1u) << s.id;
    patient_ids.insert(patient_ids.begin(), s.patient_id);  // last first
    device_ids.push_back(s.device_id);
  }
  patient_ids.push_back(patient_ids.front());  // a number asked twice comes twice

  const std::vector<PatientEntry> patients = archive->Patients(patient_ids);
  ASSERT_EQ(patients.size(), patient_ids.size());
  for (std::size_t i = 0; i < patients.size(); ++i) {
    const PatientEntry alone = archive->Patient(patient_ids[i]);
    EXPECT_EQ(patients[i].id, patient_ids[i]);
    EXPECT_EQ(patients[i].texts, alone.texts);
    EXPECT_EQ(std::tie(patients[i].label, patients[i].person.id, patients[i].person.name),
              std::tie(alone.label, alone.person.id, alone.person.name))
        << patient_ids[i];
  }
  const std::vector<DeviceEntry> devices = archive->Devices(device_ids);
  ASSERT_EQ(devices.size(), device_ids.size());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i].id, device_ids[i]);
    EXPECT_EQ(devices[i].family, device_ids[i] == 1 ? "hid" : "serial");
  }

  // History counts each patient's recordings from the rows read at once.
  const bplink::archive::History history = archive->Query({});
  ASSERT_EQ(history.patients.size(), static_cast<std::size_t>(kStudies - kStudies / 3));
  for (const PatientEntry& p : history.patients) EXPECT_EQ(p.recordings, 1) << p.id;
  ASSERT_EQ(history.devices.size(), 2u);
  EXPECT_EQ(history.devices[0].recordings + history.devices[1].recordings, kStudies - kStudies / 3);

  // A number there is none of is named, whichever batch it is in.
  const auto refusal = [](const auto& read) {
    try {
      read();
    } catch (const NotFound& e) {
      return std::string(e.what());
    }
    return std::string("nothing refused");
  };
  patient_ids.push_back(kStudies + 7);
  EXPECT_THAT(refusal([&] { archive->Patients(patient_ids); }),
              HasSubstr("no patient " + std::to_string(kStudies + 7)));
  EXPECT_THAT(refusal([&] { archive->Devices({1, 3}); }), HasSubstr("no device 3"));
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveReads,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const auto& info) { return info.param == Engine::kSqlite ? "sqlite" : "postgresql"; });

}  // namespace
