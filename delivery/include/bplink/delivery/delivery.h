// Sending a study's result to the patient's record: a FHIR server over
// HTTPS, a hospital system taking HL7 v2 over MLLP, or a practice system
// reading GDT files from a folder. The caller says what is sent (a
// Shipment), where to (a Destination) and how (DeliveryOptions); Deliver
// answers with a Receipt, which the archive keeps with the study.
//
// Nothing here throws or prints: every failure is a Receipt that names the
// destination and the reason. A secret (the FHIR bearer token) is read only
// where it is used and appears in no Receipt, error or trace.
#pragma once

#include <bplink/report/analysis.h>
#include <bplink/report/fhir_report.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::delivery {

// Who the result belongs to, as the record knows them.
struct Patient {
  std::string id;          // the identifier in the record, e.g. a medical record number
  std::string system;      // the system the identifier belongs to: a URI ("urn:oid:1.2.3", "https://...")
  std::string family;      // family name; a name kept as one text goes here whole
  std::string given;       // given names
  std::string birth_date;  // YYYY-MM-DD, or empty
  std::string sex;         // female, male, other, unknown, or empty
};

// The system of a study's identifier when the shipment names none.
inline constexpr const char* kDefaultStudySystem = "urn:bplink:study";

// What is sent: one study's result.
struct Shipment {
  Patient patient;
  std::string study_id;      // the study's identifier, unique in `study_system`
  std::string study_system;  // e.g. the archive's own URI; empty: kDefaultStudySystem
  report::Analysis analysis;
  report::UtcOffset utc_offset;    // for times sent with a zone; empty: the machine's time zone
  std::string interpretation;      // the physician's signed text, lines separated by '\n'
  std::string signer;              // who signed
  std::optional<CalendarTime> signed_at;
  bool draft = false;              // not signed: sent as preliminary
};

// Where it goes. Parsed from what `--to` takes:
//   https://host[:port]/path/fhir   a FHIR server's base URL
//   mllp://host:port                an HL7 v2 receiver
//   gdt:FOLDER                      the folder a practice system reads GDT files from
struct Destination {
  enum class Kind { kFhir, kMllp, kGdt };
  Kind kind = Kind::kFhir;
  std::string text;    // as given, for messages
  std::string url;     // FHIR: the base URL, without a trailing '/'
  std::string host;    // MLLP
  int port = 0;        // MLLP
  std::string folder;  // GDT
};

// The destination `text` names, or the reason it names none (its form, the
// forms there are).
struct ParsedDestination {
  std::optional<Destination> destination;
  std::string error;
};
ParsedDestination ParseDestination(std::string_view text);

// The program's `send` options.
struct DeliveryOptions {
  // FHIR
  std::string ca_file;        // --ca: a clinic's own certificate authority (PEM); empty: the system's
  std::string token_file;     // --token-file: the bearer token, read when sending
  std::string token_env = "BPLINK_FHIR_TOKEN";  // read when no token file is given; unset: no token
  // At most this many entries in one transaction; 0: the whole study in one.
  // A server that processes transactions with strict isolation may limit
  // them (Medplum's FHIR router in that mode takes eight): the study then
  // goes as several transactions in the bundle's order, Patient and Device
  // first, the DiagnosticReport last, each referring to what the ones before
  // created by the ids the server answered.
  int fhir_max_entries = 0;
  // Every network destination: how long one try waits for the peer (to
  // connect, and for its answer: a FHIR server checking every conditional
  // create of a day's study is silent for a while), and how many further
  // tries follow one that failed for lack of an answer.
  int timeout_ms = 30000;
  int retries = 2;
  int retry_pause_ms = 1000;  // between tries, through the library's Env
  // HL7
  std::string sending_facility;
  std::string receiving_application;
  std::string receiving_facility;
  // GDT: the ids of the practice system (receiver) and of this program (sender).
  std::string gdt_receiver;   // 8315
  std::string gdt_sender = "BPLINK";  // 8316
  std::string gdt_procedure;  // 8402, the test code the practice system files the result under; empty: none
  int gdt_charset = 3;        // 9206: 1 7-bit, 2 IBM code page 437, 3 ISO 8859-1, as the practice system reads
  // Every reading as well as the summary (HL7 and GDT; FHIR always sends them).
  bool include_readings = false;
};

// What came of one sending, as the study's audit log keeps it.
struct Receipt {
  enum class Outcome {
    kAcknowledged,  // the peer took it (FHIR 2xx, HL7 AA/CA, the GDT file in place)
    kRefused,       // the peer answered no (FHIR 4xx/5xx, HL7 AE/AR/CE/CR)
    kFailed,        // no answer: not reached, no acknowledgement in time, bad input, a file not written
  };
  // Why a sending failed, for a caller that answers each kind its own way
  // (the program's exit status).
  enum class Failure {
    kNone,         // acknowledged or refused: the peer answered
    kInput,        // the shipment or the options: nothing was sent
    kUnreachable,  // the peer could not be reached, or not trusted (TLS): nothing was sent
    kNoAnswer,     // sent, or being sent, but no acknowledgement came
    kNotWritten,   // the GDT file could not be written, or an earlier one waits
  };
  std::string destination;  // Destination::text
  Outcome outcome = Outcome::kFailed;
  Failure failure = Failure::kNone;
  std::string reason;       // refused or failed: why, naming the destination; empty when acknowledged
  CalendarTime sent_at;     // by the library's Env
  int tries = 0;            // network destinations: how many tries were made
  // FHIR
  int http_status = 0;
  int transactions = 0;     // how many transactions the study went as (see fhir_max_entries); the last answered
  std::vector<std::string> fhir_locations;  // "Patient/1/_history/2", one per entry
  std::vector<std::string> fhir_statuses;   // the entries' statuses as the server gives them ("201", "200 OK")
  nlohmann::json operation_outcome;         // the server's OperationOutcome, when it sent one
  // HL7
  std::string message_control_id;
  std::string ack_code;     // AA, AE, AR (or CA, CE, CR)
  std::string ack_text;     // MSA-3 and the ERR segments' texts
  // GDT
  std::string gdt_file;     // the file written

  bool Acknowledged() const { return outcome == Outcome::kAcknowledged; }
  nlohmann::json ToJson() const;
};

// What an acknowledging peer said, in words after "Sent ...: ": the FHIR
// server's entries (how many new), the HL7 acknowledgement and its message,
// the GDT file written.
std::string Acknowledgement(const Receipt& receipt);

// "acknowledged", "refused", "failed".
const char* OutcomeName(Receipt::Outcome outcome);
// "input", "unreachable", "no-answer", "not-written"; "" for kNone.
const char* FailureName(Receipt::Failure failure);

// Sends `shipment` to `destination`. Never throws.
Receipt Deliver(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options);

}  // namespace bplink::delivery
