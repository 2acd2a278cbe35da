// bplink send RECORDING --to DESTINATION: an archived study's signed report
// to the patient's record, a FHIR server, an HL7 v2 receiver over MLLP or a
// practice system's GDT folder. A thin layer over delivery::SendRecording,
// which the workstation's Send action calls too.

#include <bplink/delivery/send.h>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "commands/archive_open.h"
#include "commands/commands.h"
#include "exit_status.h"
#include "filing.h"
#include "terminal.h"

namespace bplink::cli {
namespace {

using delivery::Receipt;
using delivery::SendResult;

constexpr int kMillisecondsPerSecond = 1000;

struct SendOptions {
  std::optional<std::string> archive;
  std::string station;
  std::int64_t recording = 0;
  std::string to;
  delivery::SendRequest request;
  int timeout_s = 30;
};

// The exit status of a sending that did not go: the program's table.
int ExitFor(const SendResult& r) {
  switch (r.status) {
    case SendResult::Status::kSent: return kExitOk;
    case SendResult::Status::kNotSigned:
    case SendResult::Status::kAlreadySent:
    case SendResult::Status::kBadInput: return kExitBadInput;
    case SendResult::Status::kArchiveFailed: return kExitCannotWrite;
    case SendResult::Status::kNotDelivered: break;
  }
  if (r.receipt && r.receipt->outcome == Receipt::Outcome::kRefused) return kExitRefused;
  switch (r.receipt ? r.receipt->failure : Receipt::Failure::kNone) {
    case Receipt::Failure::kInput: return kExitBadInput;
    case Receipt::Failure::kUnreachable: return kExitNoDevice;
    case Receipt::Failure::kNoAnswer: return kExitLinkFailed;
    case Receipt::Failure::kNotWritten: return kExitCannotWrite;
    case Receipt::Failure::kNone: break;
  }
  return kExitFailed;
}

void RunSend(SendOptions& o) {
  const delivery::ParsedDestination to = delivery::ParseDestination(o.to);
  if (!to.destination) throw CommandError(kExitBadInput, "--to: " + to.error);
  if (o.timeout_s <= 0) throw CommandError(kExitBadInput, "--timeout: a number of seconds above 0");
  if (o.request.options.retries < 0) throw CommandError(kExitBadInput, "--retries: 0 or more");
  if (o.request.options.fhir_max_entries < 0)
    throw CommandError(kExitBadInput, "--transaction-entries: 0 (the whole study in one) or more");
  o.request.recording = o.recording;
  o.request.destination = *to.destination;
  o.request.options.timeout_ms = o.timeout_s * kMillisecondsPerSecond;
  if (o.request.study_system.empty())
    if (const char* system = std::getenv(delivery::kStudySystemVariable)) o.request.study_system = system;

  const auto archive = OpenArchive(ArchiveLocation(o.archive), archive::OpenMode::kExisting);
  SendResult result = delivery::SendRecording(*archive, o.request, ProgramActor(o.station));
  if (result.status == SendResult::Status::kAlreadySent && StdinIsTerminal()) {
    std::cerr << "Recording " << o.recording << " was sent to " << o.to << " at " << result.previous->at
              << " and acknowledged. Send it again? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "y" || answer == "Y" || answer == "yes") {
      o.request.again = true;
      result = delivery::SendRecording(*archive, o.request, ProgramActor(o.station));
    }
  }
  if (result.status != SendResult::Status::kSent) throw CommandError(ExitFor(result), result.message);
  std::cout << result.message << ": " << delivery::Acknowledgement(*result.receipt) << ".\n";
  if (!result.logged) throw CommandError(kExitCannotWrite, result.message);
}

}  // namespace

void AddSendCommand(CLI::App& app) {
  auto o = std::make_shared<SendOptions>();
  delivery::DeliveryOptions& d = o->request.options;
  CLI::App* command = app.add_subcommand(
      "send", "Send an archived study's signed report to the patient's record: a FHIR server, an HL7 v2 receiver "
              "(MLLP) or a practice system's GDT folder");
  command->add_option("RECORDING", o->recording, "The recording's number, as bplink history shows it")->required();
  command->add_option("--to", o->to,
                      "Where to: https://HOST[:PORT]/PATH (a FHIR server's base URL), mllp://HOST:PORT (an HL7 v2 "
                      "receiver) or gdt:FOLDER (the folder a practice system reads GDT files from)")
      ->required();
  AddArchiveOption(*command, o->archive);
  command->add_option("--station", o->station, "This PC's name in the audit log (default: host name)");
  command->add_flag("--draft", o->request.draft,
                    "Send a study that is not signed, as preliminary (a signed study always goes signed)");
  command->add_flag("--again", o->request.again,
                    "Send again to a destination that acknowledged this version before (on a terminal, asked)");
  command->add_flag("--readings", d.include_readings,
                    "HL7 and GDT: every reading as well as the summary (FHIR always sends them)");
  command->add_option("--profile", o->request.profile, "The report's thresholds: esh2023 (default) or aha2017");
  command->add_option("--ca", d.ca_file, "FHIR: the certificate authority (PEM) the server's certificate is "
                                         "checked against, for a clinic's own (default: the system's)");
  command->add_option("--token-file", d.token_file,
                      "FHIR: a file holding the bearer token (without it: the environment variable "
                      "BPLINK_FHIR_TOKEN; the token is never printed)");
  command->add_option("--transaction-entries", d.fhir_max_entries,
                      "FHIR: at most N entries per transaction, for a server with strict transactions; the study "
                      "goes as several, in order (default 0: the whole study in one)");
  command->add_option("--study-system", o->request.study_system,
                      "The URI the study identifiers belong to, unique to this archive (default: the variable "
                      "BPLINK_STUDY_SYSTEM, else urn:bplink:study)");
  command->add_option("--timeout", o->timeout_s, "FHIR and HL7: seconds one try waits for the peer (default 30)");
  command->add_option("--retries", d.retries,
                      "FHIR and HL7: further tries after one that got no answer (default 2); a refusal is not retried");
  command->add_option("--sending-facility", d.sending_facility, "HL7: MSH-4, this clinic");
  command->add_option("--receiving-application", d.receiving_application, "HL7: MSH-5, the receiving application");
  command->add_option("--receiving-facility", d.receiving_facility, "HL7: MSH-6, the receiving facility");
  command->add_option("--gdt-receiver", d.gdt_receiver, "GDT: the practice system's GDT id (8315; required for gdt:)");
  command->add_option("--gdt-sender", d.gdt_sender, "GDT: this program's GDT id (8316, default BPLINK)");
  command->add_option("--gdt-procedure", d.gdt_procedure,
                      "GDT: the test code the practice system files the result under (8402)");
  command->add_option("--gdt-charset", d.gdt_charset,
                      "GDT: the character set the practice system reads: 1 (7-bit), 2 (IBM 437), 3 (ISO 8859-1, "
                      "default)");
  command->callback([o] { RunSend(*o); });
}

}  // namespace bplink::cli
