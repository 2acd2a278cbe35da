// Studies through the built program, on both engines: a clinic's day as a
// technician runs it. What is checked is what the clinic relies on: no
// reading erased before it is filed, each reading filed once under the
// study it was taken in whatever came after, a filing that disagrees with
// the download refused until it is moved, every change in the audit log, the
// patient and every input of the report carried wherever a recording goes,
// and an archive that cannot be written found before the device is touched.

#include <gmock/gmock.h>

#include <regex>

#include "archive_fixture.h"

using namespace archive_test;
using ::testing::ContainsRegex;
using nlohmann::json;

namespace {

class Studies : public ArchiveProgram {
 protected:
  // A plan file whose night starts at `night`.
  std::string Plan(const std::string& name, const std::string& night) {
    const auto path = dir_ / name;
    WriteText(path, R"({"period1": {"start": "07:00", "interval": 15}, "period2": {"start": ")" + night +
                        R"(", "interval": 30}})");
    return path.string();
  }
  // The simulated device's download, not filed.
  json Saved(const std::string& family, const std::string& file) {
    const ProgramRun run =
        Said(RunProgram({"download", "--sim", family, "--format", "json", "-o", (dir_ / file).string()}));
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadJson(dir_ / file);
  }
  json Json(std::vector<std::string> args) {
    args.push_back("--json");
    const ProgramRun run = Run(std::move(args));
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out);
  }
  json Report(const std::vector<std::string>& args) {
    const ProgramRun run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out);
  }
};

// No frame went to the device: --trace shows every frame sent as "] > ".
void ExpectNoFrameSent(const ProgramRun& run) { EXPECT_THAT(run.err, Not(HasSubstr("] > "))) << run.err; }

TEST_P(Studies, NothingIsErasedBeforeItIsFiledWhicheverCommandErases) {
  const std::string plan = Plan("plan.json", "22:00");
  // The KV32 monitor's upload starts a new recording: refused while what it
  // holds is in no archive.
  const ProgramRun refused = Said(RunProgram({"upload", plan, "--sim", "kv32"}));
  EXPECT_EQ(refused.status, kExitWouldLose) << refused.err;
  EXPECT_THAT(refused.err, HasSubstr("78 readings that the upload would erase unread"));
  EXPECT_THAT(refused.err, HasSubstr("--archive"));
  EXPECT_THAT(refused.out, Not(HasSubstr("Plan uploaded")));
  // With the archive they are filed first; said gone, they may be lost.
  const ProgramRun filed = Run({"upload", plan, "--sim", "kv32"});
  ASSERT_EQ(filed.status, 0) << filed.err;
  EXPECT_THAT(filed.err, HasSubstr("Filed the 78 readings the device holds (78 new) before the upload"));
  EXPECT_THAT(filed.out, HasSubstr("Plan uploaded"));
  const ProgramRun discarded = Said(RunProgram({"upload", plan, "--sim", "kv32", "--discard"}));
  EXPECT_EQ(discarded.status, 0) << discarded.err;
  EXPECT_THAT(discarded.err, HasSubstr("78 readings erased unread"));
  // An upload that keeps what the device holds needs neither.
  EXPECT_EQ(Said(RunProgram({"upload", plan, "--sim", "hid"})).status, 0);

  // The delete goes through the same rule.
  const std::vector<std::string> del = {"delete", "--sim", "hid", "--sim-type", "5", "--yes"};
  const ProgramRun kept = Said(RunProgram(del));
  EXPECT_EQ(kept.status, kExitWouldLose) << kept.err;
  EXPECT_THAT(kept.out, Not(HasSubstr("Deleted")));
  const ProgramRun deleted = Run(del);
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  std::smatch filed_before, went;
  ASSERT_TRUE(std::regex_search(deleted.err, filed_before,
                                std::regex("Filed the ([0-9]+) readings the device holds \\(([0-9]+) new\\) before the delete")))
      << deleted.err;
  ASSERT_TRUE(std::regex_search(deleted.out, went, std::regex("Deleted ([0-9]+) records"))) << deleted.out;
  const int held = std::stoi(filed_before[1]);
  EXPECT_EQ(held, std::stoi(went[1]));
  EXPECT_EQ(filed_before[2], filed_before[1]);
  std::vector<std::string> discard = del;
  discard.push_back("--discard");
  EXPECT_EQ(Said(RunProgram(discard)).status, 0);

  int archived = 0;
  const json recordings = History()["recordings"];
  for (const auto& r : recordings) archived += r["readings"].get<int>();
  EXPECT_EQ(archived, 78 + held);
  std::vector<std::string> actions;
  for (const auto& e : Json({"archive", "log"})) actions.push_back(e["action"]);
  EXPECT_THAT(actions, ::testing::Contains("file-before-upload"));
  EXPECT_THAT(actions, ::testing::Contains("file-before-delete"));
}

TEST_P(Studies, ReadingsStayWithTheStudyTheyWereTakenInWhenTheNextPlanCameFirst) {
  // The recorder's day as the simulated device holds it.
  const std::string first_reading = Saved("hid", "day.json")["sets"][0]["records"][0]["time"];
  // The first patient hooked up before that day began (the hook-up set back
  // to then), the next patient's plan uploaded before the recorder was downloaded.
  const ProgramRun first = Run({"upload", Plan("first.json", "23:30"), "--sim", "hid", "--patient-id", "P-1",
                                "--patient-system", "urn:clinic:mrn", "--patient-name", "First Patient"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.out, HasSubstr("Study 1 opened for patient P-1"));
  Sql("UPDATE studies SET hooked_up_at = '" + first_reading.substr(0, 10) + "T08:00:00' WHERE id = 1");
  const ProgramRun next = Run({"upload", Plan("next.json", "21:00"), "--sim", "hid", "--patient-id", "P-2",
                               "--patient-system", "urn:clinic:mrn"});
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_THAT(next.err, HasSubstr("Study 1 (patient 1) is still out on this device"));
  const ProgramRun download = Run({"download", "--sim", "hid", "-o", "/dev/null"});
  ASSERT_EQ(download.status, 0) << download.err;
  EXPECT_THAT(download.err, HasSubstr("downloaded 78 readings, 78 new"));

  const json recordings = History()["recordings"];
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0]["study"], 1);
  const json studies = Json({"archive", "studies"});
  ASSERT_EQ(studies.size(), 2u);
  EXPECT_EQ(studies[0]["state"], "downloaded");
  EXPECT_EQ(studies[0]["readings"], 78);
  EXPECT_EQ(studies[1]["state"], "recording");
  EXPECT_EQ(studies[1]["readings"], 0);
  EXPECT_EQ(Json({"archive", "studies", "--state", "recording", "--patient", "p-2"}).size(), 1u);

  // The report applies the first patient's plan and names the first patient.
  const std::string id = std::to_string(recordings[0]["id"].get<int>());
  const json report = Report({"report", "--recording", id, "--format", "json"});
  EXPECT_EQ(report["recording"]["subject"]["id"], "P-1");
  EXPECT_EQ(report["recording"]["subject"]["name"], "First Patient");
  EXPECT_EQ(report["recording"]["plan"]["night_start"], "23:30");
  const json fhir = Report({"export", id, "--format", "fhir"});
  const json& patient = fhir["entry"][0]["resource"];
  EXPECT_EQ(patient["identifier"][0]["value"], "P-1");
  EXPECT_EQ(patient["identifier"][0]["system"], "urn:clinic:mrn");
  EXPECT_EQ(fhir["entry"][0]["request"]["ifNoneExist"], "identifier=urn%3Aclinic%3Amrn|P-1");
  const ProgramRun csv = Run({"export", id, "--format", "csv"});
  EXPECT_THAT(csv.out, HasSubstr(",patient id,patient system,patient name,birth date,sex\n"));
  EXPECT_THAT(csv.out, HasSubstr(",P-1,urn:clinic:mrn,First Patient,,\n"));
}

TEST_P(Studies, AReadingIsFiledOnceWhicheverModeOrLabelBroughtIt) {
  EXPECT_THAT(Run({"download", "--sim", "kv32", "-o", "/dev/null"}).err, HasSubstr("downloaded 78 readings, 78 new"));
  EXPECT_THAT(Run({"download", "--sim", "kv32", "--mode", "2", "-o", "/dev/null"}).err,
              HasSubstr("downloaded 78 readings, 0 new"));
  EXPECT_THAT(Run({"download", "--sim", "hid", "--device-label", "Recorder 1", "-o", "/dev/null"}).err,
              HasSubstr("78 new"));
  EXPECT_THAT(Run({"download", "--sim", "hid", "--device-label", " recorder   1 ", "-o", "/dev/null"}).err,
              HasSubstr("downloaded 78 readings, 0 new"));
  const json history = History();
  EXPECT_EQ(history["devices"].size(), 2u);
  EXPECT_EQ(history["recordings"].size(), 2u);
  EXPECT_EQ(History({"--device", "RECORDER 1"})["recordings"].size(), 1u);
  EXPECT_EQ(History({"--patient", "demo  PATIENT"})["recordings"].size(), 2u);
}

TEST_P(Studies, ADownloadThatDisagreesWithItsFilingIsRefusedUntilMovedAndTheLogKeepsEveryChange) {
  const std::vector<std::string> monitor = {"download", "--sim", "hid", "--sim-type", "2", "-o", "/dev/null"};
  const auto labelled = [&monitor](const std::string& label) {
    std::vector<std::string> args = monitor;
    args.insert(args.end(), {"--patient-label", label});
    return args;
  };
  ASSERT_THAT(Run(labelled("MRN-1")).err, HasSubstr("78 new"));
  EXPECT_THAT(Run(labelled("mrn-1")).err, HasSubstr("78 readings, 0 new"));
  const ProgramRun corrected = Run(labelled("MRN-2"));
  EXPECT_EQ(corrected.status, kExitCannotWrite);
  EXPECT_THAT(corrected.err, HasSubstr("'MRN-2'"));
  EXPECT_THAT(corrected.err, HasSubstr("[MRN-1]"));
  EXPECT_THAT(corrected.err, HasSubstr("bplink archive move 1 --patient-label MRN-2"));
  EXPECT_EQ(History({"--patient", "MRN-2"})["recordings"].size(), 0u);

  // The command the message gave re-files it; the corrected download agrees.
  const ProgramRun moved = Run({"archive", "move", "1", "--patient-label", "MRN-2", "--station", "desk 2"});
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Moved study 1 (recordings 1)"));
  EXPECT_THAT(Run(labelled("MRN-2")).err, HasSubstr("78 readings, 0 new"));
  EXPECT_EQ(History({"--patient", "MRN-2"})["recordings"].size(), 1u);
  EXPECT_EQ(History({"--patient", "MRN-1"})["recordings"].size(), 0u);
  const json move = Json({"archive", "log", "--action", "move"});
  ASSERT_EQ(move.size(), 1u);
  EXPECT_EQ(move[0]["station"], "desk 2");
  EXPECT_NE(move[0]["user"], "");
  EXPECT_EQ(move[0]["db_role"], Postgres() ? "bplink" : "");
  EXPECT_EQ(move[0]["recording"], 1);
  EXPECT_THAT(move[0]["details"]["from"].get<std::string>(), HasSubstr("MRN-1"));

  // Another monitor's patient turns out to be the same one: merged, the
  // merged patient's label then files under the kept one.
  std::vector<std::string> other = {"download", "--sim", "hid", "--sim-type", "4", "--patient-label", "MRN-3",
                                    "-o", "/dev/null"};
  ASSERT_THAT(Run(other).err, HasSubstr("78 new"));
  const json patients = History()["patients"];
  ASSERT_EQ(patients.size(), 2u);
  const std::string kept = std::to_string(patients[0]["id"].get<int>());
  const std::string merged = std::to_string(patients[1]["id"].get<int>());
  ASSERT_EQ(Run({"archive", "merge-patients", kept, merged}).status, 0);
  EXPECT_EQ(History()["patients"].size(), 1u);
  EXPECT_EQ(History({"--patient", "MRN-3"})["recordings"].size(), 2u);
  EXPECT_THAT(Run(other).err, HasSubstr("78 readings, 0 new"));
  EXPECT_EQ(Run({"archive", "merge-patients", kept, merged}).status, kExitBadInput);
  EXPECT_EQ(Json({"archive", "log", "--patient", kept, "--action", "merge-patients"}).size(), 1u);

  // Append-only: neither a change nor a removal takes.
  const std::string entries = Sql("SELECT COUNT(*) FROM audit_log");
  Sql("UPDATE audit_log SET action = 'nothing'");
  Sql("DELETE FROM audit_log");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM audit_log"), entries);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM audit_log WHERE action = 'nothing'"), "0");
}

TEST_P(Studies, AnImportedDownloadIsFiledAsTheDownloadWas) {
  const json saved = Saved("kx71", "day.json");
  const ProgramRun imported = Run({"archive", "import", (dir_ / "day.json").string(), "--patient-label", "MRN-7"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_THAT(imported.err, HasSubstr("imported 97 readings, 97 new"));
  EXPECT_THAT(Run({"archive", "import", (dir_ / "day.json").string(), "--patient-label", "MRN-7"}).err,
              HasSubstr("imported 97 readings, 0 new"));
  // The device downloaded into the same archive finds it all filed.
  EXPECT_THAT(Run({"download", "--sim", "kx71", "--patient-label", "MRN-7", "-o", "/dev/null"}).err,
              HasSubstr("downloaded 97 readings, 0 new"));
  const json history = History();
  ASSERT_EQ(history["recordings"].size(), 2u);  // set 1 and set 2, one study
  EXPECT_EQ(history["recordings"][0]["study"], history["recordings"][1]["study"]);
  const json exported = Report({"export", "1", "--format", "json"});
  EXPECT_EQ(exported["sets"][0]["records"], saved["sets"][0]["records"]);
  EXPECT_EQ(exported["plan"], saved["plan"]);

  json broken = saved;
  broken["sets"][0]["records"][3]["sys"] = "high";
  WriteText(dir_ / "broken.json", broken.dump());
  const ProgramRun refused = Run({"archive", "import", (dir_ / "broken.json").string()});
  EXPECT_EQ(refused.status, kExitBadInput);
  EXPECT_THAT(refused.err, HasSubstr("sets[0].records[3].sys: expected an integer"));
}

TEST_P(Studies, TheReportOfAnExportedRecordingEqualsTheArchivesForEveryFamily) {
  for (const char* family : {"hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18"}) {
    SCOPED_TRACE(family);
    const ProgramRun filed = Run({"download", "--sim", family, "--device-label", family, "-o", "/dev/null"});
    ASSERT_EQ(filed.status, 0) << filed.err;
    const json recordings = History({"--device", family})["recordings"];
    ASSERT_FALSE(recordings.empty());
    for (const auto& r : recordings) {
      const std::string id = std::to_string(r["id"].get<int>());
      const auto file = dir_ / (std::string(family) + "-" + id + ".json");
      ASSERT_EQ(Run({"export", id, "--format", "json", "-o", file.string()}).status, 0);
      json from_file = Report({"report", file.string(), "--format", "json"});
      json from_archive = Report({"report", "--recording", id, "--format", "json"});
      // Where it was read from and how the set is named differ; nothing else may.
      for (json* report : {&from_file, &from_archive}) {
        (*report)["recording"].erase("source");
        (*report)["recording"].erase("set");
      }
      EXPECT_EQ(from_file, from_archive);
      EXPECT_EQ(from_file["recording"]["subject"]["id"], "") << "the device's texts name no identified patient";
    }
  }
}

TEST_P(Studies, AReadOnlyCommandMakesNoArchiveAndAnUnwritableOneIsFoundBeforeAnyFrame) {
  const std::string nowhere = Postgres() ? location_ : (dir_ / "nowhere" / "archive.sqlite").string();
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"history"}, {"export", "1"}, {"report", "--recording", "1"}, {"archive", "log"}}) {
    args.insert(args.end(), {"--archive", nowhere});
    const ProgramRun run = Said(RunProgram(args));
    EXPECT_EQ(run.status, kExitCannotWrite) << args[0];
    EXPECT_THAT(run.err, Postgres() ? HasSubstr("no bplink archive in this database") : HasSubstr(nowhere));
  }
  if (Postgres())
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public'"), "0");
  else
    EXPECT_FALSE(std::filesystem::exists(dir_ / "nowhere"));

  if (Postgres()) return;  // a role that may not write: postgres_access_test
  // A folder that cannot be made (a file stands where it would be), and an
  // archive file only readable (to a user the permissions hold for).
  WriteText(dir_ / "file", "");
  std::vector<std::string> unwritable = {(dir_ / "file" / "archive.sqlite").string()};
  if (geteuid() != 0) {
    ASSERT_EQ(Fetch("2", 3).status, 0);
    std::filesystem::permissions(location_, std::filesystem::perms::owner_read);
    unwritable.push_back(location_);
  }
  for (const std::string& archive : unwritable)
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"download", "--sim", "hid", "-o", "/dev/null"},
             {"upload", Plan("plan.json", "22:00"), "--sim", "hid", "--patient-id", "P-9"},
             {"delete", "--sim", "hid", "--sim-type", "5", "--yes"}}) {
      args.insert(args.end(), {"--trace", "--archive", archive});
      const ProgramRun run = Said(RunProgram(args));
      EXPECT_EQ(run.status, kExitCannotWrite) << args[0] << ": " << run.err;
      EXPECT_THAT(run.err, HasSubstr("archive"));
      ExpectNoFrameSent(run);
    }
}

TEST_P(Studies, HistoryListsRecordingsInTheirOrderAndAFileIsNotWrittenOverUnasked) {
  // A recording filed second that began a day earlier still comes second.
  ASSERT_EQ(Fetch("2", 5).status, 0);
  json earlier = Saved("hid", "earlier.json");
  for (auto& r : earlier["sets"][0]["records"]) r["time"] = "2001" + r["time"].get<std::string>().substr(4);
  WriteText(dir_ / "earlier.json", earlier.dump());
  ASSERT_EQ(Run({"archive", "import", (dir_ / "earlier.json").string(), "--device-label", "other"}).status, 0);
  const json recordings = History()["recordings"];
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0]["id"], 1);
  EXPECT_EQ(recordings[1]["id"], 2);

  const std::string day = (dir_ / "out.csv").string();
  const std::vector<std::string> download = {"download", "--sim", "hid", "--sim-records", "3", "-o", day};
  ASSERT_EQ(Said(RunProgram(download)).status, 0);
  WriteText(day, "an earlier download");
  const ProgramRun again = Said(RunProgram(download));
  EXPECT_EQ(again.status, kExitCannotWrite);
  EXPECT_THAT(again.err, HasSubstr("--force"));
  EXPECT_EQ(ReadText(day), "an earlier download");
  std::vector<std::string> forced = download;
  forced.push_back("--force");
  EXPECT_EQ(Said(RunProgram(forced)).status, 0);
  EXPECT_THAT(ReadText(day), HasSubstr("systolic"));

  if (Postgres()) return;
  // An archive others may read is used, with a word about it.
  std::filesystem::permissions(location_, std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  EXPECT_THAT(Run({"history"}).err, ContainsRegex("warning: the archive .* may be read by others \\(mode 06"));
}

TEST_P(Studies, AnOlderArchiveIsMigratedKeepingEveryReading) {
  using namespace bplink::archive;
  // Version 2 as it was filed: one recorder under two labels that differ in
  // case only, one patient likewise, and a download in mode 2 that filed the
  // same readings again beside their SpO2 samples.
  OpenOptions old;
  old.schema_version = 2;
  Archive::Open(ParseLocation(location_), old);
  const auto reading = [](int recording, int device, int mode, const std::string& time, int sys) {
    return "(" + std::to_string(recording) + ", " + std::to_string(device) + ", " + std::to_string(mode) + ", '" +
           time + "', " + std::to_string(sys) + ", 85, 100, 70, 1, 0, 0, 0, 0, 0, 0, 0, '', " + std::to_string(sys) +
           ", 85, 100, 70, 1)";
  };
  Sql("INSERT INTO devices (family, device_type, protocol, variant, version, label) VALUES "
      "('hid', 3, 1, 0, 5, 'Recorder 1'), ('hid', 3, 1, 0, 5, 'recorder 1');"
      "INSERT INTO patients (texts, label) VALUES ('OLD PATIENT', 'MRN-1'), ('OLD PATIENT', 'mrn-1');"
      "INSERT INTO recordings (device_id, patient_id, set_mode, start_time, end_time, complete, downloaded_at, "
      "station) VALUES (1, 1, 1, '2024-03-01T08:00:00', '2024-03-01T10:00:00', 1, '2024-03-02T09:00:00', 'a'),"
      "(2, 2, 1, '2024-03-01T09:00:00', '2024-03-01T11:00:00', 1, '2024-03-03T09:00:00', 'b'),"
      "(1, 1, 2, '2024-03-01T08:00:00', '2024-03-01T12:00:00', 1, '2024-03-04T09:00:00', 'a');"
      "INSERT INTO readings (recording_id, device_id, set_mode, time, raw_sys, raw_press2, raw_press3, raw_pulse, "
      "raw_valid, raw_status, raw_flags_low, raw_flags_high, raw_aux1, raw_aux2, raw_aux3, raw_minute_offset, "
      "note, systolic, diastolic, map, pulse, valid) VALUES " +
      reading(1, 1, 1, "2024-03-01T08:00:00", 130) + ", " + reading(1, 1, 1, "2024-03-01T09:00:00", 131) + ", " +
      reading(1, 1, 1, "2024-03-01T10:00:00", 132) + ", " + reading(2, 2, 1, "2024-03-01T09:00:00", 131) + ", " +
      reading(2, 2, 1, "2024-03-01T11:00:00", 133) + ", " + reading(3, 1, 2, "2024-03-01T08:00:00", 130) + ", " +
      reading(3, 1, 2, "2024-03-01T09:00:00", 131) + ", " + reading(3, 1, 2, "2024-03-01T10:00:00", 132) + ", " +
      reading(3, 1, 2, "2024-03-01T12:00:00", 134) +
      ";"
      "INSERT INTO spo2_samples (recording_id, device_id, time, raw_offset, spo2, pulse) VALUES "
      "(3, 1, '2024-03-01T08:00:00', 0, 97, 70), (3, 1, '2024-03-01T09:00:00', 3600, 95, 72)");
  ASSERT_EQ(Sql("SELECT version FROM bplink_schema"), "2");

  // Opened by this program: migrated, every distinct reading kept once.
  const json history = History();
  EXPECT_EQ(Sql("SELECT version FROM bplink_schema"), std::to_string(SchemaVersion()));
  ASSERT_EQ(history["devices"].size(), 1u);
  ASSERT_EQ(history["patients"].size(), 1u);
  EXPECT_EQ(history["patients"][0]["readings"], 5);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM readings"), "5");
  EXPECT_EQ(Sql("SELECT COUNT(DISTINCT time) FROM readings"), "5");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM spo2_samples"), "2");
  for (const auto& r : history["recordings"]) {
    EXPECT_EQ(r["set_mode"], 1);
    EXPECT_EQ(r["state"], "downloaded");
  }
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM recordings WHERE study_id IS NULL"), "0");
  const json migrated = Json({"archive", "log", "--action", "migrate"});
  ASSERT_EQ(migrated.size(), 1u);
  EXPECT_EQ(migrated[0]["details"]["from_version"], 2);
  EXPECT_EQ(History({"--patient", "mrn-1"})["recordings"].size(), history["recordings"].size());
  EXPECT_EQ(History({"--device", "RECORDER 1"})["recordings"].size(), history["recordings"].size());

  // An archive a newer bplink wrote is left alone, with the reason.
  Sql("UPDATE bplink_schema SET version = 99");
  const ProgramRun refused = Run({"history"});
  EXPECT_EQ(refused.status, kExitCannotWrite);
  EXPECT_THAT(refused.err, HasSubstr("schema version 99, newer than"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Studies,
                         ::testing::Values(bplink::archive::Engine::kSqlite, bplink::archive::Engine::kPostgres),
                         [](const auto& info) {
                           return info.param == bplink::archive::Engine::kSqlite ? "sqlite" : "postgresql";
                         });

}  // namespace
