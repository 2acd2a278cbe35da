// bplink send through the built program, to the real peers on loopback: a
// study filed from a simulated recorder under a patient with an identifier,
// signed, and sent to a practice system's GDT folder, an HL7 receiver and a
// FHIR server. What may go (signed, or a draft asked for), when it counts as
// sent (acknowledged only), what a second sending needs, what each failure
// says and exits with, and that the receipt is kept in the audit log.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <sstream>

#include "peers.h"
#include "program_runner.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using nlohmann::json;
using namespace bplink::delivery::testing;
namespace fs = std::filesystem;

constexpr int kExitBadInput = 2, kExitCannotWrite = 3, kExitUnreachable = 4, kExitRefused = 6;
// A short day, so the FHIR server's conditional searches stay quick.
constexpr const char* kReadings = "30";
constexpr const char* kInterpretation = "Normal 24-hour profile; nocturnal dipping preserved.\nNo change of therapy.";

class SendProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (HaveNodePeers() && HaveCommand("openssl")) fhir_ = new FhirServer();
  }
  static void TearDownTestSuite() {
    delete fhir_;
    fhir_ = nullptr;
  }

  // Study 1, recording 1: the simulated recorder's day filed under patient
  // P-7 (uploaded for her, hooked up before the day began), not signed.
  void SetUp() override {
    dir_ = TestDir();
    archive_ = (dir_ / "archive.sqlite").string();
    const ProgramRun saved = RunProgram(
        {"download", "--sim", "hid", "--sim-records", kReadings, "--format", "json", "-o", (dir_ / "day.json").string()});
    ASSERT_EQ(saved.status, 0) << saved.err;
    const std::string first = ReadJson(dir_ / "day.json")["sets"][0]["records"][0]["time"];
    WriteText(dir_ / "plan.json",
              R"({"period1": {"start": "07:00", "interval": 15}, "period2": {"start": "23:00", "interval": 30}})");
    const ProgramRun upload =
        Run({"upload", (dir_ / "plan.json").string(), "--sim", "hid", "--sim-records", kReadings, "--patient-id", "P-7",
             "--patient-system",
             "urn:oid:1.2.276.0.76.4.8", "--patient-name", "Müller, Anna", "--birth-date", "1960-02-29", "--sex",
             "female"});
    ASSERT_EQ(upload.status, 0) << upload.err;
    Sql("UPDATE studies SET hooked_up_at = '" + first.substr(0, 10) + "T00:00:00' WHERE id = 1");
    const ProgramRun filed = Run({"download", "--sim", "hid", "--sim-records", kReadings, "-o", "/dev/null"});
    ASSERT_EQ(filed.status, 0) << filed.err;
    WriteText(dir_ / "interpretation.txt", kInterpretation);
  }

  // The readings the report counts, as `report --recording` says.
  int Counted() {
    const ProgramRun report = Run({"report", "--recording", "1", "--format", "json"});
    EXPECT_EQ(report.status, 0) << report.err;
    return json::parse(report.out)["readings"]["valid"].get<int>();
  }
  void Sign() {
    const ProgramRun signed_ = Run({"sign", "1", "--file", (dir_ / "interpretation.txt").string()});
    ASSERT_EQ(signed_.status, 0) << signed_.err;
  }
  ProgramRun Run(std::vector<std::string> args) {
    args.insert(args.end(), {"--archive", archive_});
    ProgramRun run = RunProgram(args);
    said_ += run.out + run.err;
    return run;
  }
  ProgramRun Send(const std::string& to, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"send", "1", "--to", to};
    args.insert(args.end(), more.begin(), more.end());
    return Run(args);
  }
  // The sendings the audit log keeps, oldest first: their receipts.
  std::vector<json> Sendings() {
    const ProgramRun log = Run({"archive", "log", "--action", "sent", "--json"});
    EXPECT_EQ(log.status, 0) << log.err;
    std::vector<json> receipts;
    for (const json& entry : json::parse(log.out)) {
      EXPECT_EQ(entry["study"], 1);
      EXPECT_EQ(entry["recording"], 1);
      receipts.push_back(entry["details"]);
    }
    return receipts;
  }
  void Sql(const std::string& statement) const {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(archive_.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  static FhirServer* fhir_;
  fs::path dir_;
  std::string archive_;
  std::string said_;  // everything the program printed
};
FhirServer* SendProgram::fhir_ = nullptr;

// ---------------------------------------------------------------------------
// GDT: a folder and no peer needed, so every rule of what goes is shown here.

TEST_F(SendProgram, GdtTakesASignedStudyOrADraftAskedForAndNothingTwiceUnasked) {
  const fs::path folder = dir_ / "praxis";
  fs::create_directory(folder);
  const std::string to = "gdt:" + folder.string();
  const fs::path file = folder / "PRAXBPLI.gdt";
  const std::vector<std::string> ids = {"--gdt-receiver", "PRAXIS01"};

  ProgramRun run = Send(to, ids);
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_THAT(run.err, HasSubstr("recording 1 is not signed: sign it with bplink sign 1, or give --draft"));
  EXPECT_TRUE(fs::is_empty(folder));

  run = Send(to, {"--gdt-receiver", "PRAXIS01", "--draft"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Sent recording 1 (study 1, draft, preliminary) to " + to + ": written as " +
                                 file.string()));
  EXPECT_THAT(ReadFile(file.string()), HasSubstr("Preliminary: not signed"));
  fs::remove(file);  // the practice system took it

  Sign();
  run = Send(to, ids);
  ASSERT_EQ(run.status, 0) << run.err << "a signed version is new: the draft sent before does not count";
  const std::string record = ReadFile(file.string());
  EXPECT_THAT(GdtProblems(record), IsEmpty());
  EXPECT_THAT(record, HasSubstr("No change of therapy."));
  EXPECT_THAT(record, Not(HasSubstr("Preliminary")));
  if (HaveNodePeers()) {
    int status = 0;
    const json read = json::parse(Capture("node " + kPeers + "/gdt_read.js " + file.string(), status));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read["patient"]["id"], "P-7");
    EXPECT_EQ(read["patient"]["lastName"], "Müller");
    EXPECT_EQ(read["patient"]["firstName"], "Anna");
    EXPECT_EQ(read["patient"]["birthday"], "29021960");
  }

  // The earlier result still waits: kept, the new one not written, not sent.
  run = Send(to, {"--gdt-receiver", "PRAXIS01", "--again"});
  EXPECT_EQ(run.status, kExitCannotWrite);
  EXPECT_THAT(run.err, HasSubstr("an earlier result the practice system has not read yet is waiting in " +
                                 file.string()));
  EXPECT_THAT(run.err, HasSubstr("recording 1 is not marked sent"));
  EXPECT_EQ(ReadFile(file.string()), record);
  fs::remove(file);

  // Sent and acknowledged: again only when asked (standard input is no terminal).
  run = Send(to, ids);
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_THAT(run.err, HasSubstr("recording 1 (signed version 1) was sent to " + to));
  EXPECT_THAT(run.err, HasSubstr("give --again to send it again; nothing was sent"));
  EXPECT_TRUE(fs::is_empty(folder));
  ASSERT_EQ(Send(to, {"--gdt-receiver", "PRAXIS01", "--again"}).status, 0);
  fs::remove(file);

  // An amendment under way is not signed; once signed it is a new version,
  // sent without --again.
  ASSERT_EQ(Run({"review", "1", "--amend", "--office", "150/95"}).status, 0);
  run = Send(to, ids);
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_THAT(run.err, HasSubstr("recording 1 is not signed (an amendment of version 1 is not signed yet)"));
  Sign();
  run = Send(to, ids);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("(study 1, signed version 2)"));

  const auto sent = Sendings();
  ASSERT_EQ(sent.size(), 5u) << "the refused and not-asked ones send nothing and are not kept";
  EXPECT_EQ(std::tuple(sent[4]["outcome"], sent[4]["version"]), std::tuple("acknowledged", 2));
  EXPECT_NE(sent[4]["hash"], sent[1]["hash"]) << "the amended inputs are what was signed";
  EXPECT_EQ(std::tuple(sent[0]["outcome"], sent[0]["version"]), std::tuple("acknowledged", 0));
  EXPECT_EQ(std::tuple(sent[1]["outcome"], sent[1]["version"]), std::tuple("acknowledged", 1));
  EXPECT_EQ(sent[1]["gdt_file"], file.string());
  EXPECT_EQ(sent[1]["hash"].get<std::string>().size(), 64u);
  EXPECT_EQ(std::tuple(sent[2]["outcome"], sent[2]["failure"]), std::tuple("failed", "not-written"));
  EXPECT_EQ(std::tuple(sent[3]["outcome"], sent[3]["again"]), std::tuple("acknowledged", true));
}

TEST_F(SendProgram, BadDestinationsAndMissingIdsAreRefusedBeforeAnythingIsSent) {
  Sign();
  for (const auto& [to, said] : std::vector<std::pair<std::string, std::string>>{
           {"http://127.0.0.1/fhir", "--to"},
           {"ftp://x", "--to"},
           {"gdt:" + (dir_ / "praxis").string(), "the GDT ids"}}) {
    const ProgramRun run = Send(to);
    EXPECT_EQ(run.status, kExitBadInput) << to;
    EXPECT_THAT(run.err, HasSubstr(said)) << to;
  }
  const ProgramRun missing = Run({"send", "9", "--to", "mllp://127.0.0.1:2575"});
  EXPECT_EQ(missing.status, kExitBadInput);
  EXPECT_THAT(missing.err, HasSubstr("9"));
  EXPECT_THAT(Sendings(), IsEmpty()) << "nothing left the program, so there is no sending to keep";
}

// ---------------------------------------------------------------------------
// HL7 over MLLP

class Hl7Send : public SendProgram {
 protected:
  void SetUp() override {
    if (!HavePythonHl7()) GTEST_SKIP() << "Debian's python3-hl7 is not installed (scripts/setup --tests installs it)";
    SendProgram::SetUp();
  }
  std::string Receiver(const std::string& mode) {
    receivers_.push_back(std::make_unique<PeerProcess>(
        std::vector<std::string>{"/usr/bin/python3", kPeers + "/hl7_receiver.py", mode,
                                 (dir_ / (mode + ".jsonl")).string()},
        kReadyMs));
    EXPECT_GT(receivers_.back()->Port(), 0) << receivers_.back()->Error();
    return "mllp://127.0.0.1:" + std::to_string(receivers_.back()->Port());
  }
  std::vector<json> Received(const std::string& mode) {
    std::vector<json> messages;
    std::istringstream lines(ReadFile((dir_ / (mode + ".jsonl")).string()));
    for (std::string line; std::getline(lines, line);) messages.push_back(json::parse(line));
    return messages;
  }
  std::vector<std::unique_ptr<PeerProcess>> receivers_;
};

TEST_F(Hl7Send, AnAcceptedResultIsSentARefusedOneIsKeptButNotSent) {
  Sign();
  const std::string accepting = Receiver("AA");
  ProgramRun run = Send(accepting, {"--readings"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Sent recording 1 (study 1, signed version 1) to " + accepting + ": acknowledged AA"));
  auto received = Received("AA");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["patient_id"], "P-7");
  EXPECT_EQ(received[0]["patient_authority"], "1.2.276.0.76.4.8");
  EXPECT_EQ(received[0]["family"], "Müller");
  EXPECT_EQ(received[0]["given"], "Anna");
  EXPECT_EQ(received[0]["study"], "1");
  EXPECT_EQ(received[0]["result_status"], "F");
  int readings = 0;
  for (const json& obx : received[0]["obx"]) readings += obx["code"] == "8480-6";
  EXPECT_EQ(readings, Counted()) << "--readings sends every counted reading";

  const std::string refusing = Receiver("AE");
  run = Send(refusing);
  EXPECT_EQ(run.status, kExitRefused);
  EXPECT_THAT(run.err, HasSubstr(refusing + ": refused (AE): Patient P-1 unknown"));
  EXPECT_THAT(run.err, HasSubstr("recording 1 is not marked sent"));
  ASSERT_EQ(Received("AE").size(), 1u);

  const std::string down = "mllp://127.0.0.1:" + std::to_string(UnusedPort());
  run = Send(down, {"--retries", "0"});
  EXPECT_EQ(run.status, kExitUnreachable);
  EXPECT_THAT(run.err, HasSubstr(down + ": cannot connect: Connection refused"));

  // Refused there, so a second try there needs no --again; sent here, so it does.
  EXPECT_EQ(Send(accepting).status, kExitBadInput);
  const auto sent = Sendings();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(std::tuple(sent[0]["outcome"], sent[0]["ack_code"]), std::tuple("acknowledged", "AA"));
  EXPECT_EQ(std::tuple(sent[1]["outcome"], sent[1]["ack_code"]), std::tuple("refused", "AE"));
  EXPECT_EQ(std::tuple(sent[2]["outcome"], sent[2]["failure"]), std::tuple("failed", "unreachable"));
  run = Send(refusing);
  EXPECT_EQ(run.status, kExitRefused) << "a refusal never counts as sent";
}

// ---------------------------------------------------------------------------
// FHIR over HTTPS

class FhirSend : public SendProgram {
 protected:
  void SetUp() override {
    if (!fhir_) GTEST_SKIP() << "node, openssl or the npm peers (tests/delivery/peers) are not installed";
    ASSERT_THAT(fhir_->Error(), IsEmpty());
    SendProgram::SetUp();
  }
  ProgramRun SendFhir(std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--ca", fhir_->File("ca.pem"), "--token-file", fhir_->File("token"), "--study-system",
                               "urn:bplink:study:" + dir_.filename().string(), "--timeout", "120"});
    return Send(fhir_->Base(), more);
  }
  void TearDown() override {
    EXPECT_THAT(said_, Not(HasSubstr(kFhirToken))) << "the token is never printed";
    if (!archive_.empty()) {
      EXPECT_THAT(ReadFile(archive_), Not(HasSubstr(kFhirToken))) << "nor kept";
    }
  }
};

TEST_F(FhirSend, ASignedStudyIsReadBackWithItsReportAndSentTwiceCreatesNothing) {
  ProgramRun run = SendFhir();
  EXPECT_EQ(run.status, kExitBadInput) << "a draft goes only when asked";
  Sign();
  run = SendFhir();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Sent recording 1 (study 1, signed version 1) to " + fhir_->Base()));

  const auto patients = fhir_->Search("Patient?identifier=urn:oid:1.2.276.0.76.4.8|P-7");
  ASSERT_EQ(patients.size(), 1u);
  EXPECT_EQ(patients[0]["name"][0]["family"], "Müller");
  EXPECT_EQ(patients[0]["birthDate"], "1960-02-29");
  const std::string patient = "Patient/" + patients[0]["id"].get<std::string>();
  const auto observations = fhir_->Search("Observation?subject=" + patient);
  EXPECT_GT(observations.size(), static_cast<std::size_t>(Counted())) << "each reading, its pulse, the means";
  const auto reports = fhir_->Search("DiagnosticReport?subject=" + patient);
  ASSERT_EQ(reports.size(), 1u);
  const json& report = reports[0];
  EXPECT_EQ(report["status"], "final");
  EXPECT_EQ(report["conclusion"], kInterpretation);
  EXPECT_EQ(Resolve(*fhir_, report["subject"])["id"], patients[0]["id"]);
  ASSERT_EQ(report["result"].size(), observations.size()) << "the report rests on every Observation sent";
  for (const json& result : {report["result"].front(), report["result"].back()})
    EXPECT_EQ(Resolve(*fhir_, result)["subject"]["reference"], patient);

  run = SendFhir();
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_THAT(run.err, HasSubstr("give --again"));
  run = SendFhir({"--again"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("(0 new)"));
  EXPECT_EQ(fhir_->Search("Observation?subject=" + patient).size(), observations.size());
  EXPECT_EQ(fhir_->Search("DiagnosticReport?subject=" + patient).size(), 1u);

  const auto sent = Sendings();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["http_status"], 200);
  EXPECT_EQ(sent[0]["fhir_locations"].size(), observations.size() + 3) << "Patient, Device, Observations, report";
  EXPECT_EQ(sent[1]["fhir_locations"], sent[0]["fhir_locations"]);
}

// A server with strict transactions refuses the study in one; in parts it
// takes it whole, the DiagnosticReport's results resolving on the server.
TEST_F(FhirSend, AStrictServerTakesTheStudyInParts) {
  const FhirServer strict(true);
  ASSERT_THAT(strict.Error(), IsEmpty());
  Sign();
  const std::vector<std::string> trust = {"--ca", strict.File("ca.pem"), "--token-file", strict.File("token"),
                                          "--timeout", "120"};
  ProgramRun run = Send(strict.Base(), trust);
  EXPECT_EQ(run.status, kExitRefused);
  EXPECT_THAT(run.err, HasSubstr("refused (HTTP 400)"));
  EXPECT_THAT(run.err, HasSubstr("too many entries"));

  std::vector<std::string> in_parts = trust;
  in_parts.insert(in_parts.end(), {"--transaction-entries", "8"});
  run = Send(strict.Base(), in_parts);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(" transactions)"));
  const auto reports = strict.Search("DiagnosticReport");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(Resolve(strict, reports[0]["subject"])["identifier"][0]["value"], "P-7");
  for (const json& result : reports[0]["result"])
    EXPECT_EQ(Resolve(strict, result)["resourceType"], "Observation") << result.dump();
}

TEST_F(FhirSend, EachFailureIsAClearErrorAndTheStudyIsNotMarkedSent) {
  Sign();
  ProgramRun run = Send(fhir_->Base(), {"--ca", fhir_->File("other.pem"), "--token-file", fhir_->File("token")});
  EXPECT_EQ(run.status, kExitUnreachable);
  EXPECT_THAT(run.err, HasSubstr(fhir_->Base() + ": the server's certificate is not trusted"));
  EXPECT_THAT(run.err, HasSubstr("recording 1 is not marked sent"));

  run = Send(fhir_->Base(), {"--ca", fhir_->File("ca.pem"), "--token-file", (dir_ / "no-token").string()});
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_THAT(run.err, HasSubstr("the token file " + (dir_ / "no-token").string() +
                                 " cannot be read: No such file or directory"));

  const std::string down = "https://127.0.0.1:" + std::to_string(UnusedPort()) + "/fhir";
  run = Send(down, {"--retries", "0", "--token-file", fhir_->File("token")});
  EXPECT_EQ(run.status, kExitUnreachable);
  EXPECT_THAT(run.err, HasSubstr(down + ": Failed to connect"));

  const auto sent = Sendings();
  ASSERT_EQ(sent.size(), 2u) << "the missing token file stopped it before anything was sent";
  EXPECT_EQ(std::tuple(sent[0]["outcome"], sent[0]["failure"]), std::tuple("failed", "unreachable"));
  EXPECT_EQ(std::tuple(sent[1]["outcome"], sent[1]["failure"]), std::tuple("failed", "unreachable"));
}

// ---------------------------------------------------------------------------
// GDT the other way: the practice system's request opens the study.

// A 6302 record of `fields` ("3000" + content ...), every line's length and
// the record's (8100) as a practice system writes them, in code page 437.
std::string GdtRequest(const std::vector<std::string>& fields) {
  const auto line = [](const std::string& field) {
    const std::string length = std::to_string(field.size() + 5);
    return std::string(3 - length.size(), '0') + length + field + "\r\n";
  };
  std::string body;
  for (const std::string& field : fields) body += line(field);
  const std::string head = line("80006302");
  const std::size_t total = head.size() + line("810000000").size() + body.size();
  const std::string digits = std::to_string(total);
  return head + line("8100" + std::string(5 - digits.size(), '0') + digits) + body;
}

TEST_F(SendProgram, APracticeSystemsRequestOpensTheStudyForItsPatient) {
  const fs::path request = dir_ / "BPLIPRAX.gdt";
  WriteText(request, GdtRequest({"8315BPLINK", "8316PRAXIS01", "92062", "300012345", "3101M\x81ller", "3102Anna",
                                 "310329021960", "31102"}));
  ProgramRun run = Run({"upload", (dir_ / "plan.json").string(), "--sim", "hid", "--gdt-request", request.string(),
                        "--patient-system", "urn:oid:1.2.276.0.76.4.8.1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Study 2 opened for patient 12345 (Müller, Anna)"));
  const ProgramRun studies = Run({"archive", "studies", "--patient", "12345", "--json"});
  ASSERT_EQ(studies.status, 0) << studies.err;
  const json found = json::parse(studies.out);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["id"], 2);
  EXPECT_EQ(found[0]["state"], "recording");

  // A request whose record length is wrong opens nothing, naming the fault.
  std::string broken = GdtRequest({"300054321", "3101Other"});
  broken.replace(broken.find("8100") + 4, 5, "00999");
  WriteText(request, broken);
  run = Run({"upload", (dir_ / "plan.json").string(), "--sim", "hid", "--gdt-request", request.string()});
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_THAT(run.err, HasSubstr(request.string()));
  EXPECT_THAT(run.err, HasSubstr("8100"));
  EXPECT_THAT(Run({"archive", "studies", "--patient", "54321", "--json"}).out, HasSubstr("[]"));
}

}  // namespace
