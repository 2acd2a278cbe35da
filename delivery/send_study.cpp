// An archived study sent: the shipment made from the archive as its report
// is made, the rule of what may go (signed, or a draft asked for), the rule
// of what went already (an acknowledged receipt of the version in force),
// and the receipt kept in the study's audit log.

#include <bplink/delivery/send.h>

#include <bplink/report/report.h>

#include <exception>
#include <filesystem>
#include <stdexcept>

namespace bplink::delivery {
namespace {

using nlohmann::json;

// "Family, Given" as the archive keeps a name typed so; any other name goes
// whole as the family name (the record keeps it as text as well).
void SplitName(const std::string& name, Patient& p) {
  const std::size_t comma = name.find(',');
  if (comma == std::string::npos) {
    p.family = name;
    return;
  }
  const auto trim = [](std::string text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
  };
  p.family = trim(name.substr(0, comma));
  p.given = trim(name.substr(comma + 1));
}

// What the audit log compares destinations by: the same server, receiver or
// folder however it was written.
std::string DestinationKey(const Destination& d) {
  switch (d.kind) {
    case Destination::Kind::kFhir: return d.url;
    case Destination::Kind::kMllp: return "mllp://" + d.host + ":" + std::to_string(d.port);
    case Destination::Kind::kGdt: {
      std::error_code ec;
      const auto absolute = std::filesystem::weakly_canonical(d.folder, ec);
      return "gdt:" + (ec ? d.folder : absolute.lexically_normal().string());
    }
  }
  return d.text;
}

std::string Recording(std::int64_t id) { return "recording " + std::to_string(id); }

}  // namespace

Shipment ShipmentOf(archive::Archive& archive, std::int64_t recording, const std::string& profile_id,
                    const std::string& study_system) {
  const report::Profile* profile = report::FindProfile(profile_id);
  if (!profile) throw std::invalid_argument("unknown profile '" + profile_id + "'; use esh2023 or aha2017");
  const archive::StoredRecording stored = archive.Load(recording);
  report::ReportOptions options;
  options.profile = profile_id;
  Shipment s;
  s.analysis = report::ReportAnalysis(archive::ReportableRecording(archive, recording, *profile), options);
  const report::PatientInfo& person = stored.patient.person;
  s.patient.id = person.id;
  s.patient.system = person.system;
  SplitName(person.name, s.patient);
  s.patient.birth_date = person.birth_date;
  s.patient.sex = person.sex;
  s.study_id = std::to_string(stored.entry.study_id);
  s.study_system = study_system;
  const auto& signature = s.analysis.recording.signature;
  if (const report::SignedVersion* v = signature ? signature->InForce() : nullptr) {
    s.interpretation = v->interpretation;
    s.signer = v->signer;
    s.signed_at = v->signed_at;
  } else {
    s.draft = true;
  }
  return s;
}

std::optional<archive::AuditEntry> SentBefore(archive::Archive& archive, std::int64_t recording,
                                              const Destination& destination, int version) {
  archive::AuditFilter filter;
  filter.recording = recording;
  filter.action = archive::kSentAction;
  std::optional<archive::AuditEntry> found;
  for (const archive::AuditEntry& entry : archive.Log(filter)) {
    const json details = json::parse(entry.details, nullptr, false);
    if (!details.is_object() || details.value("outcome", "") != "acknowledged") continue;
    if (details.value("to", "") == DestinationKey(destination) && details.value("version", -1) == version)
      found = entry;
  }
  return found;
}

SendResult SendRecording(archive::Archive& archive, const SendRequest& request, const archive::Actor& actor) {
  SendResult result;
  using Status = SendResult::Status;
  try {
    Shipment shipment = ShipmentOf(archive, request.recording, request.profile, request.study_system);
    const auto& signature = shipment.analysis.recording.signature;
    result.study = std::stoll(shipment.study_id);
    result.version = shipment.draft ? 0 : signature->InForce()->version;
    if (shipment.draft && !request.draft) {
      result.status = Status::kNotSigned;
      result.message = Recording(request.recording) + " is not signed" +
                       (signature && signature->amending
                            ? " (an amendment of version " + std::to_string(signature->versions.back().version) +
                                  " is not signed yet)"
                            : std::string()) +
                       ": sign it with bplink sign " + std::to_string(request.recording) +
                       ", or give --draft to send it as preliminary; nothing was sent";
      return result;
    }
    if (!request.again) {
      if (auto before = SentBefore(archive, request.recording, request.destination, result.version)) {
        result.status = Status::kAlreadySent;
        result.previous = std::move(before);
        result.message = Recording(request.recording) + (result.version ? " (signed version " +
                                                                              std::to_string(result.version) + ")"
                                                                        : std::string(" (draft)")) +
                         " was sent to " + request.destination.text + " at " + result.previous->at +
                         " and acknowledged; give --again to send it again; nothing was sent";
        return result;
      }
    }
    const Receipt receipt = Deliver(shipment, request.destination, request.options);
    result.receipt = receipt;
    json details = receipt.ToJson();
    details["to"] = DestinationKey(request.destination);
    details["version"] = result.version;
    if (const report::SignedVersion* v = signature ? signature->InForce() : nullptr; v && !shipment.draft)
      details["hash"] = v->hash;
    if (request.again) details["again"] = true;
    if (receipt.Acknowledged()) {
      result.status = Status::kSent;
      result.message = "Sent " + Recording(request.recording) + " (study " + shipment.study_id + ", " +
                       (result.version ? "signed version " + std::to_string(result.version) : "draft, preliminary") +
                       ") to " + request.destination.text;
    } else {
      result.status = receipt.failure == Receipt::Failure::kInput ? Status::kBadInput : Status::kNotDelivered;
      result.message = receipt.reason + "; " + Recording(request.recording) + " is not marked sent";
    }
    // A sending stopped before anything left (bad options, a token file
    // that cannot be read) is no sending to keep.
    if (receipt.failure == Receipt::Failure::kInput) return result;
    try {
      archive.AppendLog(archive::SentEntry(result.study, request.recording, details), actor);
    } catch (const std::exception& e) {
      result.logged = false;
      result.message += std::string(receipt.Acknowledged() ? "; but" : "; and") +
                        " the receipt could not be kept in the audit log: " + e.what();
    }
  } catch (const archive::NotFound& e) {
    result.status = Status::kBadInput;
    result.message = e.what();
  } catch (const archive::ArchiveError& e) {
    result.status = Status::kArchiveFailed;
    result.message = std::string(e.what()) + "; nothing was sent";
  } catch (const std::exception& e) {
    result.status = Status::kBadInput;
    result.message = Recording(request.recording) + ": " + e.what() + "; nothing was sent";
  } catch (...) {
    result.status = Status::kBadInput;
    result.message = Recording(request.recording) + ": an unexpected error; nothing was sent";
  }
  return result;
}

}  // namespace bplink::delivery
