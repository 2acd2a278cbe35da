// The study an upload opens: the patient the plan is meant for, on the
// device it goes to, prepared before the plan is sent and hooked up once the
// device took it. `bplink upload --archive` and the workstation's upload
// form both open it here, so a study is opened one way whichever door the
// technician used.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/records.h>
#include <bplink/report/readings.h>

#include <optional>
#include <string>

namespace bplink::host {

struct UploadStudy {
  archive::StudyEntry study;  // prepared (or the device's prepared study of the same patient, taken up again)
  // The device's study that was recording until now: the readings taken
  // until this upload stay with it.
  std::optional<archive::StudyEntry> still_out;
};

// Opens the study for `patient` on `device` with `plan` as uploaded (the
// plan kept as a plan file holds it). The patient must be checked already
// (report::CheckPatient) and not empty. Throws archive::ArchiveError.
UploadStudy OpenUploadStudy(archive::Archive& archive, const report::PatientInfo& patient,
                            const archive::DeviceIdentity& device, const _BP_TRANSPORT_INFO& plan,
                            const archive::Actor& actor);

// "Study 3 (patient 2) is still out on this device, hooked up ...: the
// readings taken until now stay with it."
std::string StillOutText(const archive::StudyEntry& out);
// "Study 4 opened for patient P-42 (Name) on this device, hooked up at ...;
// its readings are filed under it when the device is downloaded."
std::string HookedUpText(const archive::StudyEntry& study, const report::PatientInfo& patient);

}  // namespace bplink::host
