// Sending an archived study to the patient's record: what `bplink send` and
// the workstation's Send action both call, so that the rules of sending live
// once. What is sent is the recording's signed report (a study that is not
// signed only as a draft, and then as preliminary), made from the archive
// exactly as `bplink report --recording` makes it; every try is kept in the
// study's audit log with its receipt, and the study counts as sent to a
// destination only where an acknowledged receipt for the signed version in
// force is there.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/delivery/delivery.h>

#include <cstdint>
#include <optional>
#include <string>

namespace bplink::delivery {

// The variable naming the system of the study identifiers sent, when the
// caller names none (SendRequest::study_system).
inline constexpr const char* kStudySystemVariable = "BPLINK_STUDY_SYSTEM";

struct SendRequest {
  std::int64_t recording = 0;  // the recording's number, as `bplink history` shows it
  Destination destination;
  DeliveryOptions options;
  // A study that is not signed (or whose amendment is not signed yet) goes
  // only with this, as preliminary; a signed study always goes signed.
  bool draft = false;
  // Send again to a destination that acknowledged this version already.
  bool again = false;
  std::string profile = "esh2023";  // the report's thresholds, as `report --profile`
  // The system the study identifiers belong to (unique to this archive, so
  // two clinics' study 1 are not taken for one); empty: kDefaultStudySystem.
  std::string study_system;
};

struct SendResult {
  enum class Status {
    kSent,         // acknowledged; kept in the audit log
    kNotSigned,    // neither signed nor asked for as a draft: nothing sent
    kAlreadySent,  // this destination acknowledged this version before: nothing sent (SendRequest::again)
    kBadInput,     // no such recording, a report that cannot be made, a patient without an identifier: nothing sent
    kNotDelivered, // tried: refused or failed (the receipt says which and why); kept in the audit log
    kArchiveFailed,  // the archive could not be read: nothing sent
  };
  Status status = Status::kBadInput;
  std::string message;             // for a person: what went where, or why not; never a secret
  std::int64_t study = 0;
  int version = 0;                 // the signed version sent; 0 for a draft
  std::optional<Receipt> receipt;  // when a sending was tried
  std::optional<archive::AuditEntry> previous;  // kAlreadySent: the acknowledged sending before
  bool logged = true;              // false when the receipt could not be kept (message says why)
};

// The shipment of recording `recording`: its patient (identifier and its
// system, name, birth date, sex), the report's analysis made as `bplink
// report --recording` makes it, and its signature in force (none for a
// draft). Throws archive::ArchiveError (archive::NotFound for no such
// recording) or std::invalid_argument when its report cannot be made.
Shipment ShipmentOf(archive::Archive& archive, std::int64_t recording, const std::string& profile,
                    const std::string& study_system);

// The acknowledged sending of the version in force (0: a draft) of
// `recording` to `destination` the audit log holds, if any.
std::optional<archive::AuditEntry> SentBefore(archive::Archive& archive, std::int64_t recording,
                                              const Destination& destination, int version);

// Sends the recording as `request` says and keeps the receipt in its
// study's audit log (action archive::kSentAction). Never throws.
SendResult SendRecording(archive::Archive& archive, const SendRequest& request, const archive::Actor& actor);

}  // namespace bplink::delivery
