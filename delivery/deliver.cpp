// The destination parser, the checks every sending passes first, and the
// HL7 and GDT senders (the FHIR one is fhir_sender.cpp).

#include <bplink/delivery/delivery.h>
#include <bplink/delivery/gdt.h>
#include <bplink/delivery/hl7.h>

#include "mllp_client.h"
#include "senders.h"

#include <bplink/env.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace bplink::delivery {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHttps = "https://";
constexpr std::string_view kHttp = "http://";
constexpr std::string_view kMllp = "mllp://";
constexpr std::string_view kGdt = "gdt:";
constexpr int kMaxPort = 65535;
constexpr const char* kForms =
    "give https://HOST/PATH (a FHIR server's base URL), mllp://HOST:PORT (an HL7 v2 receiver) or gdt:FOLDER (the "
    "folder a practice system reads GDT files from)";

// Why the shipment cannot go to a destination of this kind, or empty.
std::string ShipmentProblem(const Shipment& s, Destination::Kind kind) {
  if (!s.draft && !s.signed_at) return "the study is not signed; sign it first, or send it as a draft";
  if (s.patient.id.empty()) return "the study's patient has no identifier, so the record cannot file the result";
  if (kind != Destination::Kind::kGdt && s.patient.system.empty())
    return "the patient's identifier " + s.patient.id + " has no system, so the record cannot tell whose it is";
  if (s.study_id.empty()) return "the study has no identifier";
  if (s.analysis.counted == 0) return "the study has no reading that counts";
  return {};
}

// HL7 message control ids: "BPL", the time, and a count that tells apart
// messages sent in one second.
std::string ControlId(const CalendarTime& now) {
  static std::atomic<unsigned> sequence{0};
  constexpr unsigned kSequenceModulo = 1000;
  char text[32];
  std::snprintf(text, sizeof text, "BPL%04d%02d%02d%02d%02d%02d%03u", now.year, now.month, now.day, now.hour,
                now.minute, now.second, sequence++ % kSequenceModulo);
  return text;
}

std::string SystemError() { return std::strerror(errno); }

}  // namespace

ParsedDestination ParseDestination(std::string_view text) {
  ParsedDestination parsed;
  Destination d;
  d.text = std::string(text);
  const auto starts = [&](std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; };
  if (starts(kHttps)) {
    std::string_view rest = text.substr(kHttps.size());
    const std::string_view authority = rest.substr(0, rest.find('/'));
    if (authority.empty()) {
      parsed.error = d.text + ": the URL names no host";
      return parsed;
    }
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
      // Said without what stands before the '@', which may be a password.
      parsed.error = std::string(kHttps) + "...@" + std::string(rest.substr(at + 1)) +
                     ": a password does not belong in the URL; give a bearer token with --token-file";
      return parsed;
    }
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    d.kind = Destination::Kind::kFhir;
    d.url = std::string(kHttps) + std::string(rest);
  } else if (starts(kHttp)) {
    parsed.error = d.text + ": a FHIR server is reached over https only; http would send the patient's data "
                   "unencrypted";
    return parsed;
  } else if (starts(kMllp)) {
    std::string_view rest = text.substr(kMllp.size());
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    const std::size_t colon = rest.rfind(':');
    const std::string_view port = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    std::string_view host = colon == std::string_view::npos ? rest : rest.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    int number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (host.empty() || port.empty() || ec != std::errc() || end != port.data() + port.size() || number < 1 ||
        number > kMaxPort) {
      parsed.error = d.text + ": an HL7 receiver is given as mllp://HOST:PORT, PORT from 1 to 65535";
      return parsed;
    }
    d.kind = Destination::Kind::kMllp;
    d.host = std::string(host);
    d.port = number;
  } else if (starts(kGdt)) {
    d.kind = Destination::Kind::kGdt;
    d.folder = std::string(text.substr(kGdt.size()));
    if (d.folder.empty()) {
      parsed.error = d.text + ": gdt: needs the folder, as gdt:FOLDER";
      return parsed;
    }
  } else {
    parsed.error = d.text + " is no destination: " + kForms;
    return parsed;
  }
  parsed.destination = std::move(d);
  return parsed;
}

const char* FailureName(Receipt::Failure failure) {
  switch (failure) {
    case Receipt::Failure::kNone: return "";
    case Receipt::Failure::kInput: return "input";
    case Receipt::Failure::kUnreachable: return "unreachable";
    case Receipt::Failure::kNoAnswer: return "no-answer";
    case Receipt::Failure::kNotWritten: return "not-written";
  }
  return "";
}

const char* OutcomeName(Receipt::Outcome outcome) {
  switch (outcome) {
    case Receipt::Outcome::kAcknowledged: return "acknowledged";
    case Receipt::Outcome::kRefused: return "refused";
    case Receipt::Outcome::kFailed: return "failed";
  }
  return "failed";
}

std::string Acknowledgement(const Receipt& r) {
  if (!r.fhir_locations.empty()) {
    int created = 0;
    for (const std::string& status : r.fhir_statuses) created += status.rfind("201", 0) == 0;
    return "the server took " + std::to_string(r.fhir_locations.size()) + " entries (" + std::to_string(created) +
           " new" + (r.transactions > 1 ? ", in " + std::to_string(r.transactions) + " transactions" : "") + ")";
  }
  if (!r.ack_code.empty()) return "acknowledged " + r.ack_code + ", message " + r.message_control_id;
  if (!r.gdt_file.empty()) return "written as " + r.gdt_file;
  return "acknowledged";
}

nlohmann::json Receipt::ToJson() const {
  nlohmann::json j = {{"destination", destination},
                      {"outcome", OutcomeName(outcome)},
                      {"sent_at", report::FormatLocalTime(sent_at)}};
  if (!reason.empty()) j["reason"] = reason;
  if (failure != Failure::kNone) j["failure"] = FailureName(failure);
  if (tries > 0) j["tries"] = tries;
  if (http_status != 0) j["http_status"] = http_status;
  if (transactions > 1) j["transactions"] = transactions;
  if (!fhir_locations.empty()) j["fhir_locations"] = fhir_locations;
  if (!fhir_statuses.empty()) j["fhir_statuses"] = fhir_statuses;
  if (!operation_outcome.is_null()) j["operation_outcome"] = operation_outcome;
  if (!message_control_id.empty()) j["message_control_id"] = message_control_id;
  if (!ack_code.empty()) j["ack_code"] = ack_code;
  if (!ack_text.empty()) j["ack_text"] = ack_text;
  if (!gdt_file.empty()) j["gdt_file"] = gdt_file;
  return j;
}

void SendHl7(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options,
             Receipt& receipt) {
  receipt.message_control_id = ControlId(receipt.sent_at);
  const std::string message = OruMessage(shipment, options, receipt.message_control_id, receipt.sent_at);
  const MllpExchange exchange = ExchangeOverMllp(destination.host, destination.port, message, options.timeout_ms,
                                                 options.retries, options.retry_pause_ms);
  receipt.tries = exchange.tries;
  const auto fail = [&](const std::string& why) { receipt.reason = destination.text + ": " + why; };
  receipt.failure = Receipt::Failure::kNoAnswer;
  if (!exchange.answered) {
    if (!exchange.connected) receipt.failure = Receipt::Failure::kUnreachable;
    return fail(exchange.error + (exchange.tries > 1 ? " (" + std::to_string(exchange.tries) + " tries)" : ""));
  }
  const auto ack = ParseAck(exchange.reply);
  if (!ack) return fail("the receiver's answer is not an HL7 acknowledgement");
  receipt.ack_code = ack->code;
  receipt.ack_text = ack->text;
  if (ack->control_id != receipt.message_control_id)
    return fail("the receiver acknowledged message " + ack->control_id + ", not " + receipt.message_control_id);
  if (ack->code == "AA" || ack->code == "CA") {
    receipt.outcome = Receipt::Outcome::kAcknowledged;
    receipt.failure = Receipt::Failure::kNone;
    return;
  }
  if (ack->code == "AE" || ack->code == "AR" || ack->code == "CE" || ack->code == "CR") {
    receipt.outcome = Receipt::Outcome::kRefused;
    receipt.failure = Receipt::Failure::kNone;
    return fail("refused (" + ack->code + ")" + (ack->text.empty() ? "" : ": " + ack->text));
  }
  fail("the receiver answered with the unknown acknowledgement code " + ack->code);
}

void WriteGdt(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options,
              Receipt& receipt) {
  const auto fail = [&](const std::string& why) { receipt.reason = destination.text + ": " + why; };
  receipt.failure = Receipt::Failure::kInput;
  if (options.gdt_receiver.empty() || options.gdt_sender.empty())
    return fail("the GDT ids of the practice system (receiver) and of this program (sender) are both needed");
  if (options.gdt_charset < static_cast<int>(GdtCharset::kSevenBit) || options.gdt_charset > static_cast<int>(GdtCharset::kLatin1))
    return fail("the GDT character set " + std::to_string(options.gdt_charset) +
                " is none of " + kGdtCharsets);
  receipt.failure = Receipt::Failure::kNotWritten;
  std::error_code ec;
  if (!fs::is_directory(destination.folder, ec)) return fail("no folder " + destination.folder);
  const fs::path final_path = fs::path(destination.folder) / GdtFileName(options);
  // A practice system takes a file and deletes it; one still there is a
  // result it has not read yet, which must not be overwritten.
  if (fs::exists(final_path, ec))
    return fail("an earlier result the practice system has not read yet is waiting in " + final_path.string() +
                "; nothing was written");
  const std::string record =
      GdtResultRecord(shipment, options, receipt.sent_at, static_cast<GdtCharset>(options.gdt_charset));
  // Written under a name the practice system does not look for, then given
  // its name in one step, so it never reads half a record.
  // (The name appended piece by piece: GCC 12 at -O3 warns falsely,
  // -Wrestrict, on a literal + std::string.)
  std::string hidden_name = ".";
  hidden_name += final_path.filename().string();
  hidden_name += ".tmp";
  const fs::path temporary = fs::path(destination.folder) / hidden_name;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot write " + temporary.string() + ": " + SystemError());
  std::string_view rest = record;
  bool written = true;
  while (written && !rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n > 0) rest.remove_prefix(static_cast<std::size_t>(n));
    else if (errno != EINTR) written = false;
  }
  std::string why = written ? "" : "cannot write " + temporary.string() + ": " + SystemError();
  if (written && ::fsync(fd) != 0) why = "cannot write " + temporary.string() + ": " + SystemError();
  if (::close(fd) != 0 && why.empty()) why = "cannot write " + temporary.string() + ": " + SystemError();
  if (why.empty()) {
    // link() refuses to replace a file that appeared meanwhile; where the
    // file system has no links, rename() after the check above.
    if (::link(temporary.c_str(), final_path.c_str()) != 0) {
      if (errno == EEXIST)
        why = "an earlier result the practice system has not read yet is waiting in " + final_path.string();
      else if (::rename(temporary.c_str(), final_path.c_str()) != 0)
        why = "cannot name the result " + final_path.string() + ": " + SystemError();
    }
  }
  ::unlink(temporary.c_str());
  if (!why.empty()) return fail(why + "; nothing was written");
  receipt.gdt_file = final_path.string();
  receipt.outcome = Receipt::Outcome::kAcknowledged;
  receipt.failure = Receipt::Failure::kNone;
}

Receipt Deliver(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options) {
  Receipt receipt;
  receipt.destination = destination.text;
  try {
    receipt.sent_at = CurrentEnv()->LocalTime();
    if (const std::string problem = ShipmentProblem(shipment, destination.kind); !problem.empty()) {
      receipt.reason = destination.text + ": " + problem + "; nothing was sent";
      receipt.failure = Receipt::Failure::kInput;
      return receipt;
    }
    switch (destination.kind) {
      case Destination::Kind::kFhir: SendFhir(shipment, destination, options, receipt); break;
      case Destination::Kind::kMllp: SendHl7(shipment, destination, options, receipt); break;
      case Destination::Kind::kGdt: WriteGdt(shipment, destination, options, receipt); break;
    }
  } catch (const std::exception& e) {
    receipt.outcome = Receipt::Outcome::kFailed;
    receipt.failure = Receipt::Failure::kInput;
    receipt.reason = destination.text + ": " + e.what();
  } catch (...) {
    receipt.outcome = Receipt::Outcome::kFailed;
    receipt.failure = Receipt::Failure::kInput;
    receipt.reason = destination.text + ": an unexpected error";
  }
  return receipt;
}

}  // namespace bplink::delivery
