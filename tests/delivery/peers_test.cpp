// Sending to real peers on loopback, started by these tests: a FHIR server
// (Medplum's FHIR router behind Node's HTTPS server, with a certificate made
// here), python-hl7's MLLP server, and the npm GDT reader xdt. A peer that
// is not installed skips its tests, saying what is missing; scripts/setup
// --tests installs them all.

#include <bplink/delivery/delivery.h>
#include <bplink/delivery/fhir.h>
#include <bplink/delivery/gdt.h>

#include "peer_process.h"
#include "peers.h"
#include "virtual_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <filesystem>
#include <map>
#include <memory>

namespace bplink::delivery {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using nlohmann::json;
using namespace bplink::delivery::testing;

constexpr const char* kToken = kFhirToken;

// Every peer test runs with the virtual clock, so the pauses between tries
// cost nothing and can be counted.
class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.SetLocalTime({2024, 5, 3, 11, 0, 0});
    SetEnv(&env_);
  }
  void TearDown() override { SetEnv(nullptr); }

  bplink::testing::VirtualEnv env_;
  DeliveryOptions options_;
};

// ---------------------------------------------------------------------------
// HL7 over MLLP


class Hl7PeerTest : public PeerTest {
 protected:
  void SetUp() override {
    if (!HavePythonHl7()) GTEST_SKIP() << "Debian's python3-hl7 is not installed (scripts/setup --tests installs it)";
    PeerTest::SetUp();
    options_.timeout_ms = 3000;
    options_.retries = 2;
  }

  // A receiver answering `mode`; Send() goes to it.
  void StartReceiver(const std::string& mode) {
    receiver_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{"/usr/bin/python3", kPeers + "/hl7_receiver.py", mode, log_ / "received.jsonl"},
        kReadyMs);
    ASSERT_GT(receiver_->Port(), 0) << receiver_->Error();
  }
  Receipt Send(const Shipment& s, int port) {
    return Deliver(s, *ParseDestination("mllp://127.0.0.1:" + std::to_string(port)).destination, options_);
  }
  // What the receiver filed, one message a line.
  std::vector<json> Received() {
    std::vector<json> messages;
    std::istringstream lines(ReadFile(log_ / "received.jsonl"));
    for (std::string line; std::getline(lines, line);) messages.push_back(json::parse(line));
    return messages;
  }

  TempFolder log_;
  std::unique_ptr<PeerProcess> receiver_;
};

TEST_F(Hl7PeerTest, AcceptedResultIsFiledAsSent) {
  StartReceiver("AA");
  options_.include_readings = true;
  const Shipment s = TestShipment();
  const Receipt receipt = Send(s, receiver_->Port());
  ASSERT_TRUE(receipt.Acknowledged()) << receipt.reason;
  EXPECT_EQ(receipt.ack_code, "AA");
  EXPECT_EQ(receipt.tries, 1);

  const auto received = Received();
  ASSERT_EQ(received.size(), 1u);
  const json& m = received[0];
  EXPECT_EQ(m["type"], "ORU^R01^ORU_R01");
  EXPECT_EQ(m["version"], "2.5.1");
  EXPECT_EQ(m["charset"], "UNICODE UTF-8");
  EXPECT_EQ(m["control_id"], receipt.message_control_id);
  EXPECT_EQ(m["patient_id"], "P-1");
  EXPECT_EQ(m["patient_authority"], "1.2.276.0.76.4.8");
  EXPECT_EQ(m["patient_authority_type"], "ISO");
  EXPECT_EQ(m["family"], "Müller");
  EXPECT_EQ(m["given"], "Anna Lena");
  EXPECT_EQ(m["birth_date"], "19600229");
  EXPECT_EQ(m["sex"], "F");
  EXPECT_EQ(m["study"], "S-42");
  EXPECT_EQ(m["result_status"], "F");
  EXPECT_EQ(m["interpreter"], "Dr. Weiß");

  // The means under their LOINC codes, day and night told apart by the
  // local code beside the general one; the texts as written, delimiters and
  // all (the receiver reads a formatted line break as CR).
  std::map<std::string, std::string> values;
  int readings = 0;
  for (const json& obx : m["obx"]) {
    const std::string key = obx["code"].get<std::string>() + "/" + obx["local_code"].get<std::string>() + "/" +
                            obx["sub_id"].get<std::string>();
    if (obx["code"] == "8480-6") ++readings;
    else values[key] = obx["value"];
    EXPECT_EQ(obx["status"], "F");
  }
  const auto& periods = s.analysis.periods;
  char expected[16];
  std::snprintf(expected, sizeof expected, "%.1f", *periods[report::k24h].sys.mean);
  EXPECT_EQ(std::stod(values["8490-5//24h"]), std::stod(expected));
  std::snprintf(expected, sizeof expected, "%.1f", *periods[report::kNight].dia.mean);
  EXPECT_EQ(std::stod(values["96609-3/night-diastolic-mean/night"]), std::stod(expected));
  EXPECT_TRUE(values.count("96608-5/day-systolic-mean/day"));
  EXPECT_TRUE(values.count("dipping-systolic//"));
  EXPECT_EQ(values["verdict//"].find("not interpretable"), std::string::npos) << values["verdict//"];
  std::string interpretation = s.interpretation;
  std::replace(interpretation.begin(), interpretation.end(), '\n', '\r');
  EXPECT_EQ(values["interpretation//"], interpretation);
  EXPECT_EQ(readings, static_cast<int>(s.analysis.Counted().size()));
}

TEST_F(Hl7PeerTest, ErrorAnswerIsRecordedAsRefusedWithThePeersText) {
  StartReceiver("AE");
  Shipment draft = TestShipment();
  draft.draft = true;
  draft.signed_at.reset();
  const Receipt receipt = Send(draft, receiver_->Port());
  EXPECT_EQ(receipt.outcome, Receipt::Outcome::kRefused);
  EXPECT_EQ(receipt.ack_code, "AE");
  EXPECT_EQ(receipt.ack_text, "Patient P-1 unknown | not admitted; Unknown key identifier");
  EXPECT_THAT(receipt.reason, HasSubstr("mllp://127.0.0.1:" + std::to_string(receiver_->Port())));
  EXPECT_THAT(receipt.reason, HasSubstr("refused (AE): Patient P-1 unknown"));
  EXPECT_EQ(receipt.tries, 1) << "a refusal is an answer, not a reason to try again";
  ASSERT_EQ(Received().size(), 1u);
  EXPECT_EQ(Received()[0]["result_status"], "P") << "a draft goes as preliminary";
}

TEST_F(Hl7PeerTest, ReceiverThatIsDownIsAClearErrorAfterTheRetries) {
  const int port = UnusedPort();
  const Receipt receipt = Send(TestShipment(), port);
  EXPECT_EQ(receipt.outcome, Receipt::Outcome::kFailed);
  EXPECT_THAT(receipt.reason, HasSubstr("mllp://127.0.0.1:" + std::to_string(port) + ": cannot connect: Connection refused"));
  EXPECT_THAT(receipt.reason, HasSubstr("(3 tries)"));
  EXPECT_EQ(env_.Sleeps(), std::vector<unsigned>(2, static_cast<unsigned>(options_.retry_pause_ms)));
}

TEST_F(Hl7PeerTest, SilentReceiverTimesOutAfterTheBoundedRetries) {
  StartReceiver("silent");
  options_.timeout_ms = 300;
  const Receipt receipt = Send(TestShipment(), receiver_->Port());
  EXPECT_EQ(receipt.outcome, Receipt::Outcome::kFailed);
  EXPECT_THAT(receipt.reason, HasSubstr("no acknowledgement within 300 ms (3 tries)"));
  // Every try carried the same message, so the receiver can tell repeats.
  const auto received = Received();
  ASSERT_EQ(received.size(), 3u);
  for (const json& m : received) EXPECT_EQ(m["control_id"], receipt.message_control_id);
}

// ---------------------------------------------------------------------------
// FHIR over HTTPS

class FhirPeerTest : public PeerTest {
 protected:
  static void SetUpTestSuite() {
    if (HaveNodePeers() && HaveCommand("openssl")) server_ = new FhirServer();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_) GTEST_SKIP() << "node, openssl or the npm peers (tests/delivery/peers) are not installed";
    ASSERT_THAT(server_->Error(), IsEmpty());
    PeerTest::SetUp();
    options_.ca_file = server_->File("ca.pem");
    options_.token_file = server_->File("token");
    options_.retries = 0;
    // The router searches its memory for every conditional create, a day's
    // study in seconds on a busy machine; the server is silent meanwhile.
    options_.timeout_ms = 120000;
  }
  Receipt Send(const Shipment& s, const std::string& base = {}) {
    return Deliver(s, *ParseDestination(base.empty() ? server_->Base() : base).destination, options_);
  }
  // No secret in anything a person or the audit log sees.
  static void ExpectNoToken(const Receipt& r) {
    EXPECT_THAT(r.reason, Not(HasSubstr(kToken)));
    EXPECT_THAT(r.ToJson().dump(), Not(HasSubstr(kToken)));
  }

  static FhirServer* server_;
};
FhirServer* FhirPeerTest::server_ = nullptr;


TEST_F(FhirPeerTest, BundleIsAcceptedReadBackWithItsReferencesAndSentTwiceCreatesNothing) {
  const Shipment s = TestShipment();
  const json bundle = FhirTransaction(s);
  const Receipt first = Send(s);
  ASSERT_TRUE(first.Acknowledged()) << first.reason << " " << first.operation_outcome.dump();
  ExpectNoToken(first);
  EXPECT_EQ(first.http_status, 200);
  ASSERT_EQ(first.fhir_locations.size(), bundle["entry"].size());
  for (const std::string& status : first.fhir_statuses) EXPECT_EQ(status, "201");

  const auto patients = server_->Search("Patient?identifier=urn:oid:1.2.276.0.76.4.8|P-1");
  ASSERT_EQ(patients.size(), 1u);
  const json& patient = patients[0];
  EXPECT_EQ(patient["name"][0]["family"], "Müller");
  EXPECT_EQ(patient["birthDate"], "1960-02-29");
  const std::string patient_ref = "Patient/" + patient["id"].get<std::string>();

  const auto observations = server_->Search("Observation?subject=" + patient_ref);
  std::size_t sent_observations = 0;
  for (const json& entry : bundle["entry"]) sent_observations += entry["resource"]["resourceType"] == "Observation";
  EXPECT_EQ(observations.size(), sent_observations);
  bool has_24h_mean = false;
  for (const json& o : observations) {
    EXPECT_EQ(Resolve(*server_, o["subject"])["id"], patient["id"]);
    EXPECT_EQ(Resolve(*server_, o["device"])["resourceType"], "Device");
    for (const json& coding : o["code"]["coding"]) has_24h_mean |= coding["code"] == "97844-5";
  }
  EXPECT_TRUE(has_24h_mean);
  // The physician's report, once the review adds it to the bundle: its
  // results are the Observations sent, its subject the Patient.
  const auto reports = server_->Search("DiagnosticReport?subject=" + patient_ref);
  for (const json& r : reports) {
    EXPECT_EQ(Resolve(*server_, r["subject"])["id"], patient["id"]);
    for (const json& result : r.value("result", json::array()))
      EXPECT_EQ(Resolve(*server_, result)["resourceType"], "Observation");
  }

  const Receipt again = Send(s);
  ASSERT_TRUE(again.Acknowledged()) << again.reason;
  EXPECT_EQ(again.fhir_locations, first.fhir_locations);
  for (const std::string& status : again.fhir_statuses) EXPECT_EQ(status, "200");
  EXPECT_EQ(server_->Search("Patient?identifier=urn:oid:1.2.276.0.76.4.8|P-1").size(), 1u);
  EXPECT_EQ(server_->Search("Observation?subject=" + patient_ref).size(), observations.size());
  EXPECT_EQ(server_->Search("Device").size(), 1u);
}

TEST_F(FhirPeerTest, UntrustedCertificateIsAClearError) {
  for (const std::string& ca : {std::string(), server_->File("other.pem")}) {
    options_.ca_file = ca;
    const Receipt receipt = Send(TestShipment());
    EXPECT_EQ(receipt.outcome, Receipt::Outcome::kFailed);
    EXPECT_THAT(receipt.reason, HasSubstr(server_->Base() + ": the server's certificate is not trusted"));
    EXPECT_THAT(receipt.reason, HasSubstr("--ca FILE"));
    ExpectNoToken(receipt);
  }
}

TEST_F(FhirPeerTest, TokenProblemsAreClearErrorsWithoutTheToken) {
  options_.token_file = server_->File("no-such-token");
  Receipt receipt = Send(TestShipment());
  EXPECT_EQ(receipt.outcome, Receipt::Outcome::kFailed);
  EXPECT_THAT(receipt.reason,
              HasSubstr("the token file " + server_->File("no-such-token") + " cannot be read: No such file or directory"));
  EXPECT_EQ(receipt.tries, 0) << "nothing is sent without the token asked for";

  // From the environment when no file is given; a wrong one is refused by
  // the server. (A study of a few readings: the server's conditional
  // searches make a whole day's sending take seconds.)
  Shipment few = TestShipment();
  few.study_id = "S-43";
  few.analysis.recording.readings.resize(6);
  few.analysis = report::Analyse(few.analysis.recording, *few.analysis.profile, std::nullopt);
  options_.token_file.clear();
  options_.token_env = "BPLINK_TEST_FHIR_TOKEN";
  ::setenv("BPLINK_TEST_FHIR_TOKEN", "wrong-token", 1);
  receipt = Send(few);
  EXPECT_EQ(receipt.outcome, Receipt::Outcome::kRefused);
  EXPECT_THAT(receipt.reason, HasSubstr("refused (HTTP 401): Unauthorized"));
  ::setenv("BPLINK_TEST_FHIR_TOKEN", kToken, 1);
  receipt = Send(few);
  ::unsetenv("BPLINK_TEST_FHIR_TOKEN");
  EXPECT_TRUE(receipt.Acknowledged()) << receipt.reason;
  ExpectNoToken(receipt);
}

TEST_F(FhirPeerTest, ServerThatIsDownIsAClearError) {
  options_.retries = 1;
  const std::string base = "https://127.0.0.1:" + std::to_string(UnusedPort()) + "/fhir";
  const Receipt receipt = Send(TestShipment(), base);
  EXPECT_EQ(receipt.outcome, Receipt::Outcome::kFailed);
  EXPECT_THAT(receipt.reason, HasSubstr(base + ": Failed to connect"));
  EXPECT_THAT(receipt.reason, HasSubstr("(2 tries)"));
  ExpectNoToken(receipt);
}

// A server with strict transactions refuses a day's study in one; sent in
// parts, Patient first and the DiagnosticReport last, it is taken whole with
// every reference resolved, and sending it again creates nothing.
TEST_F(PeerTest, StrictServerTakesTheStudyInParts) {
  if (!HaveNodePeers() || !HaveCommand("openssl")) GTEST_SKIP() << "node, openssl or the npm peers are not installed";
  const FhirServer strict(true);
  ASSERT_THAT(strict.Error(), IsEmpty());
  options_.ca_file = strict.File("ca.pem");
  options_.token_file = strict.File("token");
  options_.retries = 0;
  options_.timeout_ms = 120000;
  // Twenty readings: several parts, without a whole day's conditional searches.
  Shipment s = TestShipment();
  s.analysis.recording.readings.resize(20);
  s.analysis = report::Analyse(s.analysis.recording, *s.analysis.profile, std::nullopt);
  const Destination to = *ParseDestination(strict.Base()).destination;

  const Receipt whole = Deliver(s, to, options_);
  EXPECT_EQ(whole.outcome, Receipt::Outcome::kRefused);
  EXPECT_THAT(whole.reason, HasSubstr("refused (HTTP 400)"));
  EXPECT_THAT(whole.reason, HasSubstr("too many entries"));
  EXPECT_THAT(strict.Search("Patient"), IsEmpty()) << "a refused transaction leaves nothing behind";

  options_.fhir_max_entries = 8;
  const std::size_t entries = FhirTransaction(s)["entry"].size();
  const Receipt parts = Deliver(s, to, options_);
  ASSERT_TRUE(parts.Acknowledged()) << parts.reason;
  EXPECT_EQ(parts.transactions, static_cast<int>((entries + 7) / 8));
  ASSERT_EQ(parts.fhir_locations.size(), entries);

  const auto patients = strict.Search("Patient");
  ASSERT_EQ(patients.size(), 1u);
  const std::string patient_ref = "Patient/" + patients[0]["id"].get<std::string>();
  const auto observations = strict.Search("Observation?subject=" + patient_ref);
  const auto reports = strict.Search("DiagnosticReport?subject=" + patient_ref);
  EXPECT_EQ(observations.size() + reports.size() + 2, entries) << "every Observation under the one Patient";
  for (const json& o : {observations.front(), observations.back()})
    EXPECT_EQ(Resolve(strict, o["device"])["resourceType"], "Device");
  for (const json& r : reports)
    for (const json& result : r.value("result", json::array()))
      EXPECT_EQ(Resolve(strict, result)["resourceType"], "Observation") << result.dump();

  const Receipt again = Deliver(s, to, options_);
  ASSERT_TRUE(again.Acknowledged()) << again.reason;
  EXPECT_EQ(again.fhir_locations, parts.fhir_locations);
  EXPECT_EQ(strict.Search("Observation").size(), observations.size());
  EXPECT_EQ(strict.Search("Patient").size(), 1u);
}

// The transaction as sent, signed and draft, against the R4 JSON schema and
// the vital-signs profiles, with the report's own checker.
TEST(FhirTransactionCheck, PassesTheR4SchemaAndTheVitalSignsProfiles) {
  const std::string checker = DELIVERY_FHIR_CHECK;
  if (!HaveCommand("node") || !std::filesystem::exists(checker + "/node_modules"))
    GTEST_SKIP() << "node or the report's FHIR checker (tests/report/fhir) is not installed";
  TempFolder folder;
  Shipment draft = TestShipment();
  draft.draft = true;
  WriteFile(folder / "signed.json", FhirTransaction(TestShipment()).dump());
  WriteFile(folder / "draft.json", FhirTransaction(draft).dump());
  int status = 0;
  const std::string said = Capture("node " + checker + "/validate.js " + folder / "signed.json" + " " +
                                   folder / "draft.json" + " 2>&1", status);
  EXPECT_EQ(status, 0) << said;
}

// ---------------------------------------------------------------------------
// GDT, read back as a practice system's import reads it

TEST_F(PeerTest, GdtResultIsReadBackByXdt) {
  if (!HaveNodePeers()) GTEST_SKIP() << "node or the npm peers (tests/delivery/peers) are not installed";
  TempFolder folder;
  options_.gdt_receiver = "PRAXIS01";
  options_.include_readings = true;
  const Receipt receipt = Deliver(TestShipment(), *ParseDestination("gdt:" + folder.Path().string()).destination, options_);
  ASSERT_TRUE(receipt.Acknowledged()) << receipt.reason;
  const std::string bytes = ReadFile(receipt.gdt_file);
  EXPECT_THAT(GdtProblems(bytes), IsEmpty());

  int status = 0;
  const json read = json::parse(Capture("node " + kPeers + "/gdt_read.js " + receipt.gdt_file, status));
  ASSERT_EQ(status, 0);
  EXPECT_EQ(read["patient"]["id"], "P-1");
  EXPECT_EQ(read["patient"]["lastName"], "Müller") << "Latin-1, as 9206 says";
  EXPECT_EQ(read["patient"]["birthday"], "29021960");
  EXPECT_EQ(read["patient"]["gender"], "2");
  std::size_t lines = 0, from_lengths = 0;
  for (const json& field : read["fields"]) {
    ++lines;
    from_lengths += field["length"].get<std::size_t>();
  }
  EXPECT_EQ(lines, static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')));
  EXPECT_EQ(from_lengths, bytes.size());
  EXPECT_EQ(read["fields"][1]["value"], std::to_string(bytes.size()).insert(0, 5 - std::to_string(bytes.size()).size(), '0'));
}

}  // namespace
}  // namespace bplink::delivery
